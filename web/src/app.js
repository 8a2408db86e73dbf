// The page: opening archives, the clip table, waveforms, playback and
// downloads. Decoding, zipping and packing happen in the engine
// (pev-engine.js), which this file starts in a worker.
//
// An archive holds up to 9999 clips, so the table only has rows for the
// clips in view (plus a margin), all of one height, and nothing here walks
// every clip's samples: the engine sends each clip's sizes and a waveform of
// a few hundred bytes, and decodes a clip again when it is played or saved.

/* global pevEngine */
'use strict';

const $ = (id) => document.getElementById(id);
const ui = {
    openButton: $('open-button'),
    archiveInput: $('archive-input'),
    replaceInput: $('replace-input'),
    message: $('message'),
    archive: $('archive'),
    name: $('archive-name'),
    summary: $('summary'),
    filter: $('filter'),
    shown: $('shown'),
    downloadAll: $('download-all'),
    downloadArchive: $('download-archive'),
    progressArea: $('progress-area'),
    progressLabel: $('progress-label'),
    progress: $('progress'),
    scroller: $('scroller'),
    table: $('clips'),
    rows: document.querySelector('#clips tbody'),
};

const PEAK_COLUMNS = 100; // as the engine makes them
const NUMBERS = 7; // per clip: blocks, silent, raw, delta, stored bytes, samples, blocks known
const MARGIN = 8; // rows made beyond the view, each way
const phoneLayout = matchMedia('(max-width: 40rem)');
const rowHeight = () => (phoneLayout.matches ? 248 : 64); // as style.css sets them

// ------------------------------------------------------------------ engine

// A worker must come from script text of the page's own (a page opened from
// disk may not start one from a file), so it is made from pevEngine's text.
// Where no worker can start, the same engine runs on the page.
function inPageEngine() {
    const page = { onmessage: null, postMessage: (data) => setTimeout(() => engineSide.onmessage({ data })) };
    const engineSide = { onmessage: null, postMessage: (data) => setTimeout(() => page.onmessage({ data })) };
    pevEngine(engineSide);
    return page;
}

const engine = {
    port: null,
    live: false,
    where: null, // 'worker' or 'page'
    seq: 0,
    calls: new Map(),
    waiting: [],

    start() {
        let worker = null;
        try {
            const source = new Blob([`(${pevEngine})(self);`], { type: 'text/javascript' });
            worker = new Worker(URL.createObjectURL(source));
        } catch {
            // Barred here: the engine runs on the page.
        }
        if (!worker) {
            this.use(inPageEngine(), 'page');
            return;
        }
        worker.onerror = (event) => {
            event.preventDefault();
            if (!this.live) {
                worker.terminate();
                this.use(inPageEngine(), 'page');
                return;
            }
            // Nothing more will be answered: fail what waits, not hang.
            for (const call of this.calls.values()) {
                call.reject(new Error(`The decoder stopped: ${event.message}. Reload the page to go on.`));
            }
            this.calls.clear();
        };
        this.use(worker, 'worker');
    },

    use(port, where) {
        this.port = port;
        this.where = where;
        port.onmessage = ({ data }) => this.receive(data);
    },

    receive(data) {
        if (data.ready) {
            this.live = true;
            document.documentElement.dataset.engine = this.where; // for the tests
            document.documentElement.dataset.copiesClips = data.copiesClips;
            for (const [message, transfer] of this.waiting.splice(0)) {
                this.port.postMessage(message, transfer);
            }
            return;
        }
        if (data.fatal) {
            say(data.fatal, 'error');
            return;
        }
        const call = this.calls.get(data.seq);
        if (!call) {
            return;
        }
        if (data.progress) {
            call.onProgress?.(...data.progress);
        } else {
            this.calls.delete(data.seq);
            if ('error' in data) {
                call.reject(new Error(data.error));
            } else {
                call.resolve(data.result);
            }
        }
    },

    call(op, fields = {}, { onProgress, transfer = [], onStart } = {}) {
        return new Promise((resolve, reject) => {
            const seq = ++this.seq;
            this.calls.set(seq, { resolve, reject, onProgress });
            onStart?.(seq);
            const message = { seq, op, ...fields };
            if (this.live) {
                this.port.postMessage(message, transfer);
            } else {
                this.waiting.push([message, transfer]);
            }
        });
    },
};

// ------------------------------------------------------------------- state

// The open archive: what the engine said of it, column by column (typed
// arrays, since there may be 9999 clips), and what the table shows.
let state = null;
let busy = false;

function newState(table, name) {
    const { count } = table;
    return {
        ...table,
        name,
        base: baseName(name),
        changed: false, // edited and not saved since
        edited: false, // edited at all: it can be saved (again)
        numbers: new Float64Array(count * NUMBERS),
        scanned: new Uint8Array(count), // 1 once the numbers and waveform are in
        scannedCount: 0,
        totalSamples: 0,
        problems: new Map(), // clip index -> why it cannot be decoded
        peaks: new Int8Array(count * 2 * PEAK_COLUMNS),
        notes: new Map(), // clip index -> {text, kind}: messages shown at the row
        order: null, // the clip indices the table shows, in its order
    };
}

const clipSamples = (index) => state.numbers[index * NUMBERS + 5];
const usable = (index) => state.scanned[index] === 1 && !state.problems.has(index);
const everyClipBad = () => state.count > 0 && state.scannedCount === state.count && state.problems.size === state.count;

function say(text, kind = 'info') {
    ui.message.textContent = text;
    ui.message.className = kind;
    ui.message.setAttribute('role', kind === 'error' ? 'alert' : 'status');
}

function setBusy(label) {
    busy = Boolean(label);
    ui.progressArea.hidden = !busy;
    ui.progressLabel.textContent = label || '';
    ui.progress.removeAttribute('value');
    updateControls();
}

function updateControls() {
    ui.openButton.disabled = busy;
    ui.downloadAll.disabled = busy || !state || state.order.length === 0 || everyClipBad();
    ui.downloadArchive.disabled = busy || !state || !state.edited;
    ui.downloadAll.textContent = filterRanges() ? 'Download shown (ZIP)' : 'Download all (ZIP)';
    for (const button of ui.rows.querySelectorAll('button.replace')) {
        button.disabled = busy || everyClipBad();
    }
}

const showProgress = (label) => (done, total) => {
    if (done < 0) {
        return; // not a count
    }
    ui.progressLabel.textContent = `${label} ${done} of ${total}`;
    ui.progress.max = Math.max(total, 1);
    ui.progress.value = done;
};

function baseName(fileName) {
    return fileName.replace(/\.pev$/i, '');
}

const fourDigits = (position) => String(position).padStart(4, '0');

function clipFileName(position) {
    return `${state.base}_${fourDigits(position)}.wav`;
}

function save(blob, fileName) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = fileName;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
}

function plural(count, noun) {
    return `${count} ${noun}${count === 1 ? '' : 's'}`;
}

// Durations as the `pev` tool prints them: 4.682 s, 1:05.3, 1:02:05.3.
function duration(samples) {
    const seconds = samples / state.rate;
    if (seconds < 60) {
        return `${seconds.toFixed(3)} s`;
    }
    const tenths = Math.round(seconds * 10);
    const minutes = Math.floor(tenths / 600);
    const rest = ((tenths % 600) / 10).toFixed(1).padStart(4, '0');
    return minutes < 60 ? `${minutes}:${rest}` : `${Math.floor(minutes / 60)}:${String(minutes % 60).padStart(2, '0')}:${rest}`;
}

// Runs an action and puts the focus back where it was: in a row, on the same
// control of the same clip's row (rows are used again for other clips).
async function keepingFocus(action) {
    const element = document.activeElement;
    const row = element?.closest?.('tr[data-index]');
    const where = row ? { index: Number(row.dataset.index), control: element.dataset.control } : null;
    try {
        return await action();
    } finally {
        if (where) {
            focusClip(where.index, where.control);
        } else if (element?.isConnected && !element.disabled) {
            element.focus();
        }
    }
}

// -------------------------------------------------------------- open, show

async function openArchive(file) {
    if (busy) {
        return;
    }
    if (state?.changed && !confirm(`“${state.name}” has changes that are not saved yet. Open “${file.name}” and lose them?`)) {
        say(`“${file.name}” was not opened; “${state.name}” is still open with its changes.`);
        return;
    }
    stopPlayback();
    const opened = await keepingFocus(async () => {
        setBusy(`Reading “${file.name}”…`);
        try {
            const table = await engine.call('open', { name: file.name, file });
            state = newState(table, file.name);
            sounds.clear();
            ui.filter.value = '';
            showArchive();
            say(`Opened “${file.name}”.`);
            return true;
        } catch (error) {
            const hint = state && !/\.pev$/i.test(file.name) ? ' To replace a clip with it, drop it on the clip’s row.' : '';
            say(error.message + hint, 'error');
            return false;
        } finally {
            setBusy(null);
        }
    });
    if (opened) {
        scanArchive();
    }
}

// Fills the rows in as the engine decodes the clips.
async function scanArchive(only = null) {
    const scanning = state;
    ui.archive.dataset.scanned = 'false';
    try {
        await engine.call('scan', { generation: state.generation, only }, {
            onProgress: (done, total, batch) => {
                if (state !== scanning) {
                    return;
                }
                takeBatch(batch);
                showSummary();
                refreshRows(new Set(batch.indices));
            },
        });
    } catch {
        return; // another archive was opened meanwhile
    }
    if (state !== scanning) {
        return;
    }
    ui.archive.dataset.scanned = 'true';
    const bad = state.problems.size;
    if (bad === state.count && bad > 0) {
        say(`Opened “${state.name}”, which is damaged: none of its ${plural(bad, 'clip')} can be decoded, so there is nothing to play, save or keep.`, 'error');
    } else if (bad > 0) {
        say(`Opened “${state.name}”, which is damaged: ${plural(bad, 'clip')} cannot be decoded (marked in the table); the others can be used.`, 'error');
    }
    updateControls();
    showSummary();
}

function takeBatch({ indices, numbers, problems, peaks }) {
    for (const [i, index] of indices.entries()) {
        state.peaks.set(peaks.subarray(i * 2 * PEAK_COLUMNS, (i + 1) * 2 * PEAK_COLUMNS), index * 2 * PEAK_COLUMNS);
        state.scannedCount += 1 - state.scanned[index];
        state.totalSamples += numbers[i * NUMBERS + 5] - clipSamples(index);
        state.numbers.set(numbers.subarray(i * NUMBERS, (i + 1) * NUMBERS), index * NUMBERS);
        state.scanned[index] = 1;
        state.problems.delete(index);
    }
    for (const [index, problem] of Object.entries(problems)) {
        state.problems.set(Number(index), problem);
    }
}

// Takes what is known of the clips a replacement left as they were.
function carryOver(old, replaced) {
    state.numbers.set(old.numbers);
    state.peaks.set(old.peaks);
    state.scanned.set(old.scanned);
    state.problems = new Map(old.problems);
    for (const index of replaced) {
        state.scanned[index] = 0;
        state.problems.delete(index);
    }
    state.scannedCount = state.scanned.reduce((sum, known) => sum + known, 0);
    state.totalSamples = old.totalSamples;
    for (const index of replaced) {
        state.totalSamples -= clipSamples(index);
        state.numbers[index * NUMBERS + 5] = 0;
    }
}

function showSummary() {
    const total = state.totalSamples;
    const length = everyClipBad() ? 'no clip can be decoded' : state.scannedCount < state.count
        ? `${duration(total)} so far` : duration(total);
    ui.summary.textContent = `${plural(state.count, 'clip')} · ${state.rate} Hz · ${length} · ${state.size} bytes` +
        (state.changed ? ' · changed, not saved yet' : '');
}

function showArchive() {
    ui.archive.hidden = false;
    ui.name.textContent = state.name;
    showSummary();
    arrange({ toTop: true });
}

// --------------------------------------------------- the table, in view only

let sortKey = 'position';
let sortUp = true;
let viewHeight = 600; // the scroller's, kept by a ResizeObserver (reading it would force a layout)
const made = new Map(); // clip index -> its row, for the rows in the DOM
const spare = []; // rows out of the DOM, to be used again: making a row and its canvas costs more than filling one
let first = 0; // the view positions the rows in the DOM cover
let last = -1;
const topSpacer = spacerRow();
const bottomSpacer = spacerRow();

function spacerRow() {
    const row = document.createElement('tr');
    row.className = 'spacer';
    row.setAttribute('aria-hidden', 'true');
    const cell = document.createElement('td');
    cell.colSpan = 7;
    row.append(cell);
    return row;
}

function sortValue(index) {
    switch (sortKey) {
        case 'id': return state.ids[index];
        case 'duration':
        case 'samples': return state.scanned[index] ? clipSamples(index) : -1;
        case 'blocks': return state.scanned[index] ? state.numbers[index * NUMBERS] : -1;
        default: return index;
    }
}

// Which clips the table shows and in what order; the rows are made anew.
function arrange({ toTop = false } = {}) {
    const ranges = filterRanges();
    const byId = ranges?.byId;
    let order = new Int32Array(state.count);
    let shown = 0;
    for (let index = 0; index < state.count; ++index) {
        if (!ranges || inRanges(ranges, byId ? state.ids[index] : index + 1)) {
            order[shown++] = index;
        }
    }
    order = order.subarray(0, shown);
    if (sortKey !== 'position') {
        const values = new Float64Array(state.count);
        for (const index of order) {
            values[index] = sortValue(index);
        }
        order.sort((a, b) => values[a] - values[b] || a - b);
    }
    if (!sortUp) {
        order.reverse();
    }
    state.order = order;
    state.viewOf = new Int32Array(state.count).fill(-1); // clip index -> place in the table, -1 when filtered out
    order.forEach((index, view) => (state.viewOf[index] = view));
    for (const row of made.values()) {
        row.remove();
        spare.push(row);
    }
    made.clear();
    first = 0;
    last = -1;
    if (toTop) {
        ui.scroller.scrollTop = 0;
    }
    ui.shown.textContent = ranges
        ? `${state.order.length} of ${plural(state.count, 'clip')} shown`
        : 'Type positions like 3 or 10-20, or ids like id:2';
    for (const th of ui.table.tHead.rows[0].cells) {
        if (th.dataset.key) {
            th.setAttribute('aria-sort', th.dataset.key === sortKey ? (sortUp ? 'ascending' : 'descending') : 'none');
        }
    }
    updateControls();
    render();
}

// Makes the rows from just above the view to just below it, and only those.
function render() {
    if (!state) {
        return;
    }
    const height = rowHeight();
    const count = state.order.length;
    const top = ui.scroller.scrollTop;
    const from = Math.max(0, Math.floor(top / height) - MARGIN);
    const to = Math.min(count - 1, Math.ceil((top + viewHeight) / height) + MARGIN);
    for (const [index, row] of made) {
        const view = state.viewOf[index];
        if (view < from || view > to) {
            row.remove();
            made.delete(index);
            spare.push(row);
        }
    }
    if (!topSpacer.isConnected) {
        ui.rows.replaceChildren(topSpacer, bottomSpacer);
    }
    const kept = made.size > 0;
    let anchor = kept ? made.get(state.order[Math.max(from, first)]) : bottomSpacer;
    for (let view = from; view <= to; ++view) {
        const index = state.order[view];
        if (made.has(index)) {
            anchor = made.get(index).nextSibling;
            continue;
        }
        const row = spare.pop() ?? clipRow();
        bindRow(row, index);
        made.set(index, row);
        anchor.before(row);
        anchor = row.nextSibling;
        drawWave(index);
    }
    first = from;
    last = to;
    topSpacer.firstChild.style.height = `${from * height}px`;
    bottomSpacer.firstChild.style.height = `${Math.max(0, count - 1 - to) * height}px`;
}

// Redraws the rows of the clips `indices` (all when null) that are in the DOM.
function refreshRows(indices = null) {
    for (const [index, row] of made) {
        if (!indices || indices.has(index)) {
            fillRow(row, index);
            drawWave(index);
        }
    }
}

function focusClip(index, control = 'wave') {
    const view = state?.viewOf[index] ?? -1;
    if (view < 0) {
        return;
    }
    const height = rowHeight();
    const top = ui.scroller.scrollTop;
    if (view * height < top) {
        ui.scroller.scrollTop = view * height;
    } else if ((view + 1) * height > top + viewHeight) {
        ui.scroller.scrollTop = (view + 1) * height - viewHeight;
    }
    render();
    const row = made.get(index);
    const target = row?.querySelector(`[data-control="${control}"]:not(:disabled)`) ?? row?.querySelector('[data-control="wave"]');
    target?.focus({ preventScroll: true });
}

function cell(label, className) {
    const td = document.createElement('td');
    td.dataset.label = label;
    if (className) {
        td.className = className;
    }
    return td;
}

function button(text, control) {
    const element = document.createElement('button');
    element.type = 'button';
    element.className = control;
    element.dataset.control = control;
    element.textContent = text;
    return element;
}

// A row's parts; bindRow makes it a clip's and fillRow puts the clip's
// figures in. The buttons act through one listener on the table (see the
// wiring below).
function clipRow() {
    const row = document.createElement('tr');
    const wave = cell('Waveform', 'wave');
    const canvas = document.createElement('canvas');
    canvas.width = 2 * PEAK_COLUMNS * 2;
    canvas.height = 64;
    canvas.tabIndex = 0;
    canvas.dataset.control = 'wave';
    canvas.setAttribute('role', 'img');
    const note = document.createElement('p');
    note.className = 'note';
    wave.append(canvas, note);
    const actions = cell('', 'actions');
    actions.append(button('Play', 'play'), button('WAV', 'download'), button('Replace…', 'replace'));
    row.append(cell('Clip', 'position'), cell('Id'), cell('Duration'), cell('Samples'), cell('Blocks'), wave, actions);
    return row;
}

function bindRow(row, index) {
    const position = index + 1;
    row.dataset.index = index;
    row.dataset.position = position;
    row.cells[0].textContent = fourDigits(position);
    row.cells[1].textContent = state.ids[index];
    const [, download, replace] = row.cells[6].children;
    download.setAttribute('aria-label', `Download clip ${position} as WAV`);
    replace.setAttribute('aria-label', `Replace clip ${position} with a recording`);
    row.classList.remove('drop-target');
    fillRow(row, index);
}

function fillRow(row, index) {
    const [, , durationCell, samplesCell, blocksCell, wave, actions] = row.cells;
    const scanned = state.scanned[index] === 1;
    const problem = state.problems.get(index);
    const base = index * NUMBERS;
    const samples = clipSamples(index);
    const known = scanned && !problem;
    durationCell.textContent = known ? duration(samples) : scanned ? '—' : '…';
    samplesCell.textContent = known ? samples : scanned ? '—' : '…';
    const [silent, raw, delta] = state.numbers.subarray(base + 1, base + 4);
    blocksCell.textContent = !scanned ? '…' : state.numbers[base + 6] ? `${silent} / ${raw} / ${delta}` : '—';
    row.classList.toggle('bad', Boolean(problem));
    const canvas = wave.firstChild;
    canvas.setAttribute('aria-label', problem ? `Clip ${index + 1} cannot be decoded`
        : `Waveform of clip ${index + 1}; Space plays or stops it`);
    const note = state.notes.get(index) ?? (problem ? { text: `Cannot be decoded: ${problem}.`, kind: 'error' } : null);
    wave.lastChild.textContent = note?.text ?? '';
    wave.lastChild.className = `note ${note?.kind ?? ''}`;
    wave.lastChild.title = note?.text ?? '';
    const [play, download, replace] = actions.children;
    const isPlaying = playing?.index === index;
    play.disabled = !known || samples === 0;
    play.textContent = isPlaying ? 'Stop' : 'Play';
    play.setAttribute('aria-label', `${isPlaying ? 'Stop' : 'Play'} clip ${index + 1}`);
    play.setAttribute('aria-pressed', String(isPlaying));
    download.disabled = !known;
    replace.disabled = busy || everyClipBad();
}

// --------------------------------------------------------------- waveforms

let colours = null; // read once: reading styles while drawing would force a layout

function readColours() {
    const style = getComputedStyle(document.documentElement);
    colours = Object.fromEntries(['--wave', '--wave-played', '--wave-line'].map((name) => [name, style.getPropertyValue(name)]));
}

// Draws clip `index`'s waveform from its peaks, with the part played so far
// (0..1) in the second colour and a cursor where playing is.
function drawWave(index, played = playing?.index === index ? playedPart() : 0) {
    const canvas = made.get(index)?.cells[5].firstChild;
    if (!canvas) {
        return;
    }
    colours ?? readColours();
    const { width, height } = canvas;
    const context = canvas.getContext('2d');
    const middle = height / 2;
    context.clearRect(0, 0, width, height);
    context.fillStyle = colours['--wave-line'];
    context.fillRect(0, Math.floor(middle), width, 1);
    if (!usable(index)) {
        return;
    }
    const peaks = state.peaks.subarray(index * 2 * PEAK_COLUMNS, (index + 1) * 2 * PEAK_COLUMNS);
    const column = width / PEAK_COLUMNS;
    const split = Math.round(played * PEAK_COLUMNS); // columns played
    for (const [from, to, colour] of [[0, split, '--wave-played'], [split, PEAK_COLUMNS, '--wave']]) {
        context.beginPath();
        for (let x = from; x < to; ++x) {
            const top = middle - ((peaks[2 * x + 1] + 0.5) / 128) * middle;
            const bottom = middle - ((peaks[2 * x] - 0.5) / 128) * middle;
            context.rect(x * column, top, Math.max(1, column - 1), Math.max(1, bottom - top));
        }
        context.fillStyle = colours[colour];
        context.fill();
    }
    if (played > 0) {
        context.fillStyle = colours['--wave-played'];
        context.fillRect(Math.min(width - 2, played * width), 0, 2, height);
    }
    canvas.dataset.drawn = 'true';
}

// ---------------------------------------------------------------- playback

let audio = null;
let playing = null; // {index, source, from (seconds into the clip), started, duration}
const sounds = new Map(); // clip index -> AudioBuffer, the last few played
const SOUNDS_KEPT = 8;

function playedPart() {
    if (!playing) {
        return 0;
    }
    return Math.min(1, (playing.from + audio.currentTime - playing.started) / playing.duration);
}

function stopPlayback() {
    if (!playing) {
        return;
    }
    const { source, index } = playing;
    playing = null;
    source.onended = null;
    try {
        source.stop();
    } catch {
        // already ended
    }
    const row = made.get(index);
    if (row) {
        fillRow(row, index);
        drawWave(index);
    }
}

async function soundOf(index) {
    if (sounds.has(index)) {
        const buffer = sounds.get(index);
        sounds.delete(index); // most recent last
        sounds.set(index, buffer);
        return buffer;
    }
    const floats = await engine.call('sound', { generation: state.generation, index });
    audio ??= new AudioContext();
    const buffer = audio.createBuffer(1, floats.length, state.rate);
    buffer.copyToChannel(floats, 0);
    sounds.set(index, buffer);
    if (sounds.size > SOUNDS_KEPT) {
        sounds.delete(sounds.keys().next().value);
    }
    return buffer;
}

// Plays clip `index` from `part` (0..1) of its length; stops it instead
// when it is playing and no place was asked for.
async function play(index, part = null) {
    const wasThis = playing?.index === index;
    stopPlayback();
    if (wasThis && part === null) {
        return;
    }
    if (!usable(index) || clipSamples(index) === 0) {
        return;
    }
    try {
        audio ??= new AudioContext();
        let buffer;
        try {
            buffer = await soundOf(index);
        } catch (error) {
            if (error.name === 'NotSupportedError') {
                say(`This browser cannot play sound at ${state.rate} Hz.`, 'error');
                return;
            }
            throw error;
        }
        const source = audio.createBufferSource();
        source.buffer = buffer;
        source.connect(audio.destination);
        await audio.resume();
        stopPlayback(); // another clip may have started meanwhile
        const from = (part ?? 0) * buffer.duration;
        source.start(0, from);
        playing = { index, source, from, started: audio.currentTime, duration: buffer.duration };
        source.onended = () => playing?.source === source && stopPlayback();
        const row = made.get(index);
        if (row) {
            fillRow(row, index);
        }
        requestAnimationFrame(followPlayback);
    } catch (error) {
        say(error.message, 'error');
    }
}

function followPlayback() {
    if (!playing) {
        return;
    }
    drawWave(playing.index);
    requestAnimationFrame(followPlayback);
}

// Click or drag on a waveform: the cursor follows, and playing starts where
// the pointer is let go.
function seekAt(event) {
    const canvas = event.target;
    return Math.min(1, Math.max(0, event.offsetX / canvas.clientWidth));
}

function startSeek(event) {
    const canvas = event.target;
    const index = Number(canvas.closest('tr').dataset.index);
    if (!usable(index) || event.button !== 0) {
        return;
    }
    canvas.setPointerCapture(event.pointerId);
    const move = (moved) => drawWave(index, seekAt(moved));
    canvas.addEventListener('pointermove', move);
    canvas.addEventListener('pointerup', (up) => {
        canvas.removeEventListener('pointermove', move);
        play(index, seekAt(up));
    }, { once: true });
    move(event);
}

// --------------------------------------------------------------- downloads

async function downloadClip(index) {
    try {
        const wav = await engine.call('clip', { generation: state.generation, index });
        save(new Blob([wav], { type: 'audio/wav' }), clipFileName(index + 1));
    } catch (error) {
        say(error.message, 'error');
    }
}

// Where a ZIP goes as it is made: a file the user picks, where the browser
// offers that, else pieces the browser keeps (on disk when they are large)
// until they are saved as one download.
async function zipSink(zipName) {
    if (window.showSaveFilePicker) {
        const handle = await showSaveFilePicker({
            suggestedName: zipName,
            types: [{ description: 'ZIP file', accept: { 'application/zip': ['.zip'] } }],
        });
        const writable = await handle.createWritable();
        return { take: (blob) => writable.write(blob), finish: () => writable.close(), abort: () => writable.abort() };
    }
    const pieces = [];
    return {
        take: (blob) => pieces.push(blob),
        finish: () => save(new Blob(pieces, { type: 'application/zip' }), zipName),
        abort: () => {},
    };
}

async function downloadAll() {
    const shown = Boolean(filterRanges());
    const indices = [...state.order].sort((a, b) => a - b);
    const zipName = `${state.base}.zip`;
    let sink;
    try {
        sink = await zipSink(zipName);
    } catch (error) {
        if (error.name !== 'AbortError') {
            say(error.message, 'error');
        }
        return;
    }
    const label = 'Zipping clip';
    await keepingFocus(async () => {
        setBusy(label);
        try {
            const progress = showProgress(label);
            let zipSeq = 0;
            const { skipped } = await engine.call('zip', { generation: state.generation, base: state.base, indices, time: Date.now() }, {
                onStart: (seq) => (zipSeq = seq),
                onProgress: async (done, total, piece) => {
                    if (piece instanceof Blob) {
                        await sink.take(piece);
                        engine.call('ack', { for: zipSeq });
                    } else {
                        progress(done, total);
                    }
                },
            });
            await sink.finish();
            const written = indices.length - skipped.length;
            const what = shown ? `${plural(written, 'WAV file')} of the clips shown` : plural(written, 'WAV file');
            say(skipped.length === 0
                ? `Saved ${zipName}: ${what}.`
                : `Saved ${zipName}: ${what}; left out ${plural(skipped.length, 'clip')} that cannot be decoded: ${skipped.join(', ')}.`,
            skipped.length === 0 ? 'info' : 'error');
        } catch (error) {
            await sink.abort();
            say(error.message, 'error');
        } finally {
            setBusy(null);
        }
    });
}

async function downloadArchive() {
    await keepingFocus(async () => {
        try {
            save(await engine.call('archive', { generation: state.generation }), state.name);
            state.changed = false;
            showSummary();
            updateControls();
            say(`Saved ${state.name}.`);
        } catch (error) {
            say(error.message, 'error');
        }
    });
}

// ----------------------------------------------------------------- replace

// What a recording is, from its first bytes: the container, and for WAV and
// FLAC the rate and depth its header gives.
function sniff(bytes) {
    const head = new Uint8Array(bytes, 0, Math.min(64, bytes.byteLength));
    const tag = String.fromCharCode(...head.subarray(0, 4));
    const data = new DataView(bytes);
    if (tag === 'RIFF' && String.fromCharCode(...head.subarray(8, 12)) === 'WAVE') {
        // The fmt chunk usually comes first; its fields at fixed places then.
        const fmt = String.fromCharCode(...head.subarray(12, 16)) === 'fmt ' && bytes.byteLength >= 36;
        return { format: 'WAV', rate: fmt ? data.getUint32(24, true) : 0, bits: fmt ? data.getUint16(34, true) : 0 };
    }
    if (tag === 'fLaC' && bytes.byteLength >= 22) {
        return { format: 'FLAC', rate: (data.getUint32(18) >>> 12), bits: ((data.getUint8(20) & 1) << 4 | data.getUint8(21) >>> 4) + 1 };
    }
    if (tag === 'OggS') {
        return { format: 'Ogg', rate: 0, bits: 0 };
    }
    if (tag.startsWith('ID3') || (head[0] === 0xff && (head[1] & 0xe0) === 0xe0)) {
        return { format: 'MP3', rate: 0, bits: 0 };
    }
    return { format: 'recording', rate: 0, bits: 0 };
}

const kiloHertz = (rate) => `${Number((rate / 1000).toFixed(2))} kHz`;
const channelWord = (channels) => ({ 1: 'mono', 2: 'stereo' })[channels] ?? `${channels}-channel`;

// A recording the packer cannot take as it is, converted as the browser
// decodes it: resampled to the archive's rate by an OfflineAudioContext at
// that rate, mixed down to mono, and rounded to 16 bits.
async function convert(bytes, rate) {
    const kind = sniff(bytes);
    const decoded = await new OfflineAudioContext(1, 1, rate).decodeAudioData(bytes);
    const channels = decoded.numberOfChannels;
    const mixed = new Float32Array(decoded.length);
    for (let c = 0; c < channels; ++c) {
        const data = decoded.getChannelData(c);
        for (let i = 0; i < data.length; ++i) {
            mixed[i] += data[i] / channels;
        }
    }
    const samples = new Int16Array(mixed.length);
    for (let i = 0; i < mixed.length; ++i) {
        samples[i] = Math.max(-32768, Math.min(32767, Math.round(mixed[i] * 32768)));
    }
    const from = [kind.rate ? kiloHertz(kind.rate) : '', kind.bits ? `${kind.bits}-bit` : '', channelWord(channels), kind.format]
        .filter(Boolean).join(' ');
    return { samples, converted: `${from} → ${rate} Hz mono` };
}

// Reads each recording and makes it ready to pack: a 16-bit mono PCM WAV at
// the archive's rate as it is, anything else the browser can decode
// converted. Returns the clips ready and the reasons of those refused.
async function prepare(picks) {
    const ready = [];
    const refused = [];
    for (const { index, file } of picks) {
        const bytes = await file.arrayBuffer();
        const problem = await engine.call('wavProblem', { bytes, rate: state.rate });
        if (!problem) {
            ready.push({ index, name: file.name, bytes });
            continue;
        }
        try {
            const { samples, converted } = await convert(bytes, state.rate);
            ready.push({ index, name: file.name, samples, converted });
        } catch {
            refused.push({ index, name: file.name, reason: `${problem}; nor can this browser decode it as sound` });
        }
    }
    return { ready, refused };
}

// Replaces clips by recordings: picks is [{index, file}].
async function replaceClips(picks) {
    if (busy || !state || picks.length === 0) {
        return;
    }
    stopPlayback();
    const what = picks.length === 1 ? `“${picks[0].file.name}” as clip ${picks[0].index + 1}` : plural(picks.length, 'recording');
    const label = `Packing the archive with ${what}: clip`;
    await keepingFocus(async () => {
        setBusy(label);
        try {
            const { ready, refused } = await prepare(picks);
            for (const { index, name, reason } of refused) {
                state.notes.set(index, { text: `Not replaced by “${name}”: ${reason}.`, kind: 'error' });
            }
            const refusal = refused.map(({ index, name, reason }) => `Clip ${index + 1} was not replaced by “${name}”: ${reason}.`).join(' ');
            if (ready.length === 0) {
                refreshRows();
                say(refusal, 'error');
                return;
            }
            const table = await engine.call('replace', { generation: state.generation, clips: ready }, {
                onProgress: showProgress(label),
                transfer: ready.map((item) => (item.bytes ?? item.samples.buffer)),
            });
            const old = state;
            state = newState(table, old.name);
            state.changed = true;
            state.edited = true;
            const replaced = ready.map((item) => item.index);
            carryOver(old, replaced);
            for (const [index, note] of old.notes) {
                state.notes.set(index, note);
            }
            for (const { index, name, converted } of ready) {
                const notes = [converted, ...table.notes[index]].filter(Boolean);
                state.notes.set(index, { text: `Now holds “${name}”${notes.length ? ` (${notes.join('; ')})` : ''}.`, kind: 'info' });
            }
            sounds.clear();
            showSummary();
            arrange();
            scanArchive(replaced);
            const done = ready.length === 1
                ? `Clip ${ready[0].index + 1} now holds “${ready[0].name}”.`
                : `Clips ${ready.map((item) => item.index + 1).join(', ')} now hold the recordings dropped.`;
            const notes = ready.flatMap(({ index, converted }) => [converted, ...table.notes[index]].filter(Boolean).map((note) => ` Clip ${index + 1}: ${note}.`)).join('');
            say(`${done} Packing re-quantises a clip to the archive's 256 levels. Use Download archive to save the new archive.${notes}${refusal ? ` ${refusal}` : ''}`,
                refusal ? 'error' : 'info');
        } catch (error) {
            say(error.message, 'error');
        } finally {
            setBusy(null);
        }
    });
}

// "name_0002.wav", as Download all names the clips: position 2.
function positionNamed(fileName) {
    const match = /_(\d{4})\.[a-z0-9]+$/i.exec(fileName);
    const position = match ? Number(match[1]) : 0;
    return position >= 1 && position <= state.count ? position : 0;
}

// Several recordings at once: each replaces the clip its name points to,
// once the user has seen the list.
function replaceByNames(files) {
    const picks = [];
    const unknown = [];
    for (const file of files) {
        const position = positionNamed(file.name);
        if (position) {
            picks.push({ index: position - 1, file });
        } else {
            unknown.push(file.name);
        }
    }
    if (picks.length === 0) {
        say(`None of the files dropped is named after a clip (like ${state.base}_0002.wav), so nothing was replaced. To replace one clip, drop its recording on its row.`, 'error');
        return;
    }
    picks.sort((a, b) => a.index - b.index);
    const list = picks.map(({ index, file }) => `clip ${index + 1} ← ${file.name}`).join('\n');
    const ignored = unknown.length ? `\n\nLeft aside, not named after a clip: ${unknown.join(', ')}` : '';
    if (!confirm(`Replace ${plural(picks.length, 'clip')}?\n\n${list}${ignored}`)) {
        say('Nothing was replaced.');
        return;
    }
    replaceClips(picks);
}

// ------------------------------------------------------------------ filter

// Positions by default ("3", "10-20", "3, 7 12-15"); ids after "id:".
// Null when no filter is set or it cannot be read.
function filterRanges() {
    let text = ui.filter.value.trim();
    const byId = /^id\s*:/i.test(text);
    text = text.replace(/^id\s*:/i, '').replace(/(\d)\s*[-–]\s*(\d)/g, '$1-$2');
    const ranges = [];
    for (const token of text.split(/[\s,;]+/).filter(Boolean)) {
        const match = /^(\d+)(?:-(\d+))?$/.exec(token);
        if (!match) {
            return null;
        }
        const low = Number(match[1]);
        const high = match[2] === undefined ? low : Number(match[2]);
        ranges.push([Math.min(low, high), Math.max(low, high)]);
    }
    return ranges.length ? Object.assign(ranges, { byId }) : null;
}

const inRanges = (ranges, value) => ranges.some(([low, high]) => value >= low && value <= high);

// ------------------------------------------------------------ drop, wiring

function droppedFiles(dataTransfer) {
    return dataTransfer ? [...dataTransfer.files] : [];
}

document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
    const row = event.target.closest?.('tr[data-index]');
    for (const marked of ui.rows.querySelectorAll('.drop-target')) {
        if (marked !== row) {
            marked.classList.remove('drop-target');
        }
    }
    row?.classList.add('drop-target');
});
document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) {
        document.body.classList.remove('dragging');
    }
});
document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const row = event.target.closest?.('tr[data-index]');
    row?.classList.remove('drop-target');
    const files = droppedFiles(event.dataTransfer);
    if (files.length === 1 && /\.pev$/i.test(files[0].name)) {
        openArchive(files[0]);
    } else if (files.length === 1 && row) {
        replaceClips([{ index: Number(row.dataset.index), file: files[0] }]);
    } else if (files.length > 1 && state) {
        replaceByNames(files);
    } else if (files.length === 1 && state && positionNamed(files[0].name) && !/\.pev$/i.test(files[0].name)) {
        replaceByNames(files);
    } else if (files.length === 1) {
        openArchive(files[0]);
    } else if (files.length > 1) {
        say('Drop one archive at a time.', 'error');
    }
});

ui.archiveInput.addEventListener('change', () => {
    const [file] = ui.archiveInput.files;
    ui.archiveInput.value = '';
    if (file) {
        openArchive(file);
    }
});
ui.openButton.addEventListener('click', () => ui.archiveInput.click());

let replacing = null; // the clip whose Replace button opened the file chooser
ui.replaceInput.addEventListener('change', () => {
    const [file] = ui.replaceInput.files;
    ui.replaceInput.value = '';
    if (file && replacing !== null) {
        replaceClips([{ index: replacing, file }]);
    }
});

ui.rows.addEventListener('click', (event) => {
    const control = event.target.closest('button');
    const row = control?.closest('tr[data-index]');
    if (!row) {
        return;
    }
    const index = Number(row.dataset.index);
    if (control.dataset.control === 'play') {
        play(index);
    } else if (control.dataset.control === 'download') {
        downloadClip(index);
    } else if (control.dataset.control === 'replace') {
        replacing = index;
        ui.replaceInput.click();
    }
});
ui.rows.addEventListener('pointerdown', (event) => {
    if (event.target.dataset.control === 'wave') {
        startSeek(event);
    }
});

// Up and down move to the same control of the clip above or below; Space
// on a waveform plays or stops its clip.
ui.rows.addEventListener('keydown', (event) => {
    const row = event.target.closest('tr[data-index]');
    if (!row || event.altKey || event.ctrlKey || event.metaKey) {
        return;
    }
    const index = Number(row.dataset.index);
    const control = event.target.dataset.control;
    if ((event.key === ' ' || event.key === 'Enter') && control === 'wave') {
        event.preventDefault();
        play(index);
    } else if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
        const view = state.viewOf[index] + (event.key === 'ArrowDown' ? 1 : -1);
        if (view >= 0 && view < state.order.length) {
            event.preventDefault();
            focusClip(state.order[view], control);
        }
    }
});

for (const th of ui.table.tHead.rows[0].cells) {
    th.querySelector('button')?.addEventListener('click', () => {
        sortUp = sortKey === th.dataset.key ? !sortUp : true;
        sortKey = th.dataset.key;
        if (state) {
            arrange({ toTop: true });
        }
    });
}

let renderPending = false;
ui.scroller.addEventListener('scroll', () => {
    if (!renderPending) {
        renderPending = true;
        requestAnimationFrame(() => {
            renderPending = false;
            render();
        });
    }
}, { passive: true });
new ResizeObserver(([entry]) => {
    viewHeight = entry.contentRect.height || viewHeight;
    render();
}).observe(ui.scroller);
phoneLayout.addEventListener('change', () => state && arrange());
matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    colours = null;
    for (const index of made.keys()) {
        drawWave(index);
    }
});

ui.filter.addEventListener('input', () => state && arrange({ toTop: true }));
ui.downloadAll.addEventListener('click', downloadAll);
ui.downloadArchive.addEventListener('click', downloadArchive);

// Edits live in this tab only until the archive is saved.
window.addEventListener('beforeunload', (event) => {
    if (state?.changed) {
        event.preventDefault();
        event.returnValue = '';
    }
});

engine.start();
// Starting the browser's audio takes a few hundred milliseconds on some
// machines: done while the page is idle, it does not hold up the first Play.
requestIdleCallback(() => (audio ??= new AudioContext()), { timeout: 5000 });

// The page: its parts, the engine (pev-engine.js, started in a worker),
// the open archive's state and opening an archive. The table, playback,
// saving and replacing have files of their own (table.js, playback.js,
// saving.js, replace.js); wiring.js, loaded last, connects the events.
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
    matchLoudness: $('match-loudness'),
    matchLoudnessNote: $('match-loudness-note'),
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
    measures: false, // built with libebur128: it measures loudness
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
            this.measures = data.measures;
            showLoudnessChoice();
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
        lufs: new Float64Array(count).fill(NaN), // integrated loudness, NaN when too short or quiet
        measured: new Uint8Array(count), // 1 once its loudness is in
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
            forgetSounds();
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
    measureLoudness(scanning);
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

// The loudness column, filled in the background once the clips are scanned:
// a few dozen clips at a time, so that playing, saving and replacing go
// between. Stops when another archive is open.
const LOUDNESS_SLICE = 40;
async function measureLoudness(measuring) {
    if (!engine.measures) {
        return;
    }
    ui.archive.dataset.measured = 'false';
    const waiting = [];
    for (let index = 0; index < measuring.count; ++index) {
        if (!measuring.measured[index]) {
            waiting.push(index);
        }
    }
    for (let at = 0; at < waiting.length && state === measuring; at += LOUDNESS_SLICE) {
        try {
            await engine.call('loudness', { generation: measuring.generation, only: waiting.slice(at, at + LOUDNESS_SLICE) }, {
                onProgress: (done, total, { indices, lufs }) => {
                    if (state !== measuring) {
                        return;
                    }
                    for (const [i, index] of indices.entries()) {
                        state.lufs[index] = lufs[i];
                        state.measured[index] = 1;
                    }
                    refreshRows(new Set(indices));
                },
            });
        } catch {
            return; // another archive was opened meanwhile
        }
    }
    if (state === measuring) {
        ui.archive.dataset.measured = 'true';
    }
}

// "−23.4" (LUFS); "—" for a clip too short or quiet; "…" until measured.
function loudnessText(index) {
    if (!engine.measures || state.problems.has(index)) {
        return '—';
    }
    if (!state.measured[index]) {
        return '…';
    }
    const lufs = state.lufs[index];
    return Number.isNaN(lufs) ? '—' : lufs.toFixed(1).replace('-', '−');
}

// The checkbox, where the page can match loudness; a note where it cannot.
function showLoudnessChoice() {
    ui.matchLoudness.disabled = !engine.measures;
    ui.matchLoudnessNote.textContent = engine.measures ? ''
        : '(this page was built without libebur128, so it measures no loudness)';
}

// Takes what is known of the clips a replacement left as they were.
function carryOver(old, replaced) {
    state.numbers.set(old.numbers);
    state.lufs.set(old.lufs);
    state.measured.set(old.measured);
    state.peaks.set(old.peaks);
    state.scanned.set(old.scanned);
    state.problems = new Map(old.problems);
    for (const index of replaced) {
        state.scanned[index] = 0;
        state.measured[index] = 0;
        state.lufs[index] = NaN;
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

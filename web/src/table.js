// The clip table: only the rows of the clips in view (plus a margin) exist,
// all of one height, so that 9999 clips cost no more than twenty; the
// waveforms, drawn from the peaks the engine sends; and the filter.

'use strict';

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
    cell.colSpan = 8;
    row.append(cell);
    return row;
}

function sortValue(index) {
    switch (sortKey) {
        case 'id': return state.ids[index];
        case 'duration':
        case 'samples': return state.scanned[index] ? clipSamples(index) : -1;
        case 'blocks': return state.scanned[index] ? state.numbers[index * NUMBERS] : -1;
        case 'loudness': return state.measured[index] && !Number.isNaN(state.lufs[index]) ? state.lufs[index] : -Infinity;
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
    row.append(cell('Clip', 'position'), cell('Id'), cell('Duration'), cell('Samples'), cell('Blocks'), cell('Loudness', 'loudness'),
        wave, actions);
    return row;
}

function bindRow(row, index) {
    const position = index + 1;
    row.dataset.index = index;
    row.dataset.position = position;
    row.cells[0].textContent = fourDigits(position);
    row.cells[1].textContent = state.ids[index];
    const [, download, replace] = row.cells[7].children;
    download.setAttribute('aria-label', `Download clip ${position} as WAV`);
    replace.setAttribute('aria-label', `Replace clip ${position} with a recording`);
    row.classList.remove('drop-target');
    fillRow(row, index);
}

function fillRow(row, index) {
    const [, , durationCell, samplesCell, blocksCell, loudnessCell, wave, actions] = row.cells;
    const scanned = state.scanned[index] === 1;
    const problem = state.problems.get(index);
    const base = index * NUMBERS;
    const samples = clipSamples(index);
    const known = scanned && !problem;
    durationCell.textContent = known ? duration(samples) : scanned ? '—' : '…';
    samplesCell.textContent = known ? samples : scanned ? '—' : '…';
    const [silent, raw, delta] = state.numbers.subarray(base + 1, base + 4);
    blocksCell.textContent = !scanned ? '…' : state.numbers[base + 6] ? `${silent} / ${raw} / ${delta}` : '—';
    loudnessCell.textContent = scanned ? loudnessText(index) : '…';
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
    const canvas = made.get(index)?.cells[6].firstChild;
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

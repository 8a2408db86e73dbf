// The page: opening archives, the clip table, waveforms, playback and
// downloads. Decoding, zipping and packing happen in the engine
// (pev-engine.js), which this file starts in a worker.

/* global pevEngine */
'use strict';

const $ = (id) => document.getElementById(id);
const ui = {
    openButton: $('open-button'),
    archiveInput: $('archive-input'),
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
    rows: document.querySelector('#clips tbody'),
};

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

    call(op, fields = {}, { onProgress, transfer = [] } = {}) {
        return new Promise((resolve, reject) => {
            const seq = ++this.seq;
            this.calls.set(seq, { resolve, reject, onProgress });
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

// The open archive as the engine described it.
let state = null;
let busy = false;
const wavCache = new Map(); // clip index -> WAV bytes, the last few used
const WAV_CACHE_SIZE = 24;

function say(text, kind = 'info') {
    ui.message.textContent = text;
    ui.message.className = kind;
    ui.message.setAttribute('role', kind === 'error' ? 'alert' : 'status');
}

function setBusy(label) {
    busy = Boolean(label);
    ui.progressArea.hidden = !busy;
    ui.progressLabel.textContent = label || '';
    ui.progress.value = 0;
    ui.openButton.disabled = busy;
    ui.downloadAll.disabled = busy || !state || state.clips.length === 0;
    ui.downloadArchive.disabled = busy || !state || !state.changed;
    for (const button of document.querySelectorAll('button.replace')) {
        button.disabled = busy;
    }
}

const showProgress = (label) => (done, total) => {
    ui.progressLabel.textContent = `${label} ${done} of ${total}`;
    ui.progress.max = Math.max(total, 1);
    ui.progress.value = done;
};

function baseName(fileName) {
    return fileName.replace(/\.pev$/i, '');
}

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

async function clipWav(index) {
    if (wavCache.has(index)) {
        const wav = wavCache.get(index);
        wavCache.delete(index); // most recent last
        wavCache.set(index, wav);
        return wav;
    }
    const { generation } = state;
    const wav = await engine.call('clip', { generation, index });
    if (state && state.generation === generation) {
        wavCache.set(index, wav);
        if (wavCache.size > WAV_CACHE_SIZE) {
            wavCache.delete(wavCache.keys().next().value);
        }
    }
    return wav;
}

// The samples of a WAV image Pev2wav writes: 44 header bytes, then 16-bit
// little-endian samples (every platform browsers run on is little-endian).
const samplesOf = (wav) => new Int16Array(wav, 44, (wav.byteLength - 44) / 2);

// -------------------------------------------------------------- open, show

async function openArchive(file) {
    if (busy) {
        return;
    }
    stopPlayback();
    setBusy(`Reading “${file.name}”: clip`);
    try {
        const bytes = await file.arrayBuffer();
        const table = await engine.call('open', { name: file.name, bytes }, {
            onProgress: showProgress(`Reading “${file.name}”: clip`),
            transfer: [bytes],
        });
        state = { ...table, name: file.name, base: baseName(file.name), changed: false };
        wavCache.clear();
        showArchive();
        const bad = table.clips.filter((clip) => clip.problem).length;
        const count = table.clips.length;
        if (bad === 0) {
            say(`Opened “${file.name}”.`);
        } else if (bad === count) {
            say(`Opened “${file.name}”, which is damaged: none of its ${plural(count, 'clip')} can be decoded.`, 'error');
        } else {
            say(`Opened “${file.name}”, which is damaged: ${plural(bad, 'clip')} cannot be decoded (marked below); the others can be used.`, 'error');
        }
    } catch (error) {
        const hint = state && /\.wav$/i.test(file.name) ? ' To replace a clip with it, drop it on the clip’s row.' : '';
        say(error.message + hint, 'error');
    } finally {
        setBusy(null);
    }
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

const fourDigits = (position) => String(position).padStart(4, '0');

function showArchive() {
    const { clips } = state;
    const total = clips.reduce((sum, clip) => sum + clip.samples, 0);
    ui.archive.hidden = false;
    ui.name.textContent = state.name;
    ui.summary.textContent = `${plural(clips.length, 'clip')} · ${state.rate} Hz · ${duration(total)} · ${state.size} bytes` +
        (state.changed ? ' · changed, not saved yet' : '');
    ui.rows.replaceChildren(...clips.map(clipRow));
    applyFilter();
}

function cell(text, label, className) {
    const td = document.createElement('td');
    td.textContent = text;
    td.dataset.label = label;
    if (className) {
        td.className = className;
    }
    return td;
}

function button(text, className, label, onClick) {
    const element = document.createElement('button');
    element.type = 'button';
    element.className = className;
    element.textContent = text;
    element.setAttribute('aria-label', label);
    element.addEventListener('click', onClick);
    return element;
}

function clipRow(clip) {
    const index = clip.position - 1;
    const row = document.createElement('tr');
    row.dataset.position = clip.position;
    row.dataset.id = clip.id;
    row.append(
        cell(fourDigits(clip.position), 'Clip', 'position'),
        cell(clip.id, 'Id'),
        cell(clip.problem ? '—' : duration(clip.samples), 'Duration'),
        cell(clip.problem ? '—' : clip.samples, 'Samples'),
        cell(clip.blocksKnown ? `${clip.silent} / ${clip.raw} / ${clip.delta}` : '—', 'Blocks'),
    );

    const wave = cell('', 'Waveform', 'wave');
    if (clip.problem) {
        row.classList.add('bad');
        wave.textContent = `Cannot be decoded: ${clip.problem}.`;
    } else {
        const canvas = document.createElement('canvas');
        canvas.setAttribute('role', 'img');
        canvas.setAttribute('aria-label', `Waveform of clip ${clip.position}`);
        wave.append(canvas);
        waveObserver.observe(canvas);
    }
    row.append(wave);

    const actions = cell('', '', 'actions');
    const play = button('Play', 'play', `Play clip ${clip.position}`, () => togglePlay(index, play));
    play.setAttribute('aria-pressed', 'false');
    const download = button('WAV', 'download', `Download clip ${clip.position} as WAV`, () => downloadClip(index));
    play.disabled = Boolean(clip.problem) || clip.samples === 0;
    download.disabled = Boolean(clip.problem);
    const input = document.createElement('input');
    input.type = 'file';
    input.accept = '.wav,audio/wav';
    input.className = 'visually-hidden';
    input.tabIndex = -1;
    input.addEventListener('change', () => {
        const [file] = input.files;
        input.value = '';
        if (file) {
            replaceClip(index, file);
        }
    });
    const replace = button('Replace…', 'replace', `Replace clip ${clip.position} with a WAV file`, () => input.click());
    replace.disabled = busy;
    actions.append(play, download, replace, input);
    row.append(actions);

    row.addEventListener('dragover', (event) => {
        event.preventDefault();
        event.stopPropagation();
        row.classList.add('drop-target');
    });
    row.addEventListener('dragleave', () => row.classList.remove('drop-target'));
    row.addEventListener('drop', (event) => {
        event.preventDefault();
        event.stopPropagation();
        row.classList.remove('drop-target');
        const file = singleFile(event.dataTransfer);
        if (file && /\.pev$/i.test(file.name)) {
            openArchive(file);
        } else if (file) {
            replaceClip(index, file);
        }
    });
    return row;
}

// ------------------------------------------------------------------ filter

// "3", "10-20", "3, 7 12-15": rows whose position or id is among them.
function parseFilter(text) {
    const ranges = [];
    for (const token of text.split(/[\s,;]+/).filter(Boolean)) {
        const match = /^(\d+)(?:\s*[-–]\s*(\d+))?$/.exec(token);
        if (!match) {
            return null;
        }
        const low = Number(match[1]);
        const high = match[2] === undefined ? low : Number(match[2]);
        ranges.push([Math.min(low, high), Math.max(low, high)]);
    }
    return ranges;
}

function applyFilter() {
    if (!state) {
        return;
    }
    const ranges = parseFilter(ui.filter.value.replace(/(\d)\s*[-–]\s*(\d)/g, '$1-$2'));
    const inRanges = (value) => ranges.some(([low, high]) => value >= low && value <= high);
    let shown = 0;
    for (const row of ui.rows.rows) {
        const show = !ranges || ranges.length === 0 ||
            inRanges(Number(row.dataset.position)) || inRanges(Number(row.dataset.id));
        row.hidden = !show;
        shown += show ? 1 : 0;
    }
    ui.shown.textContent = ranges
        ? `${shown} of ${plural(state.clips.length, 'clip')} shown`
        : 'Type positions or ids, like 3 or 10-20';
}

// --------------------------------------------------------------- waveforms

const waveObserver = new IntersectionObserver((entries) => {
    for (const entry of entries) {
        if (entry.isIntersecting) {
            waveObserver.unobserve(entry.target);
            drawWave(entry.target);
        }
    }
});

function rowIndex(element) {
    return Number(element.closest('tr').dataset.position) - 1;
}

async function drawWave(canvas, played = 0) {
    const index = rowIndex(canvas);
    let wav;
    try {
        wav = await clipWav(index);
    } catch {
        return; // the archive changed meanwhile
    }
    if (!canvas.isConnected) {
        return;
    }
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
    const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext('2d');
    const style = getComputedStyle(canvas);
    const samples = samplesOf(wav);
    const middle = height / 2;
    context.clearRect(0, 0, width, height);
    context.fillStyle = style.getPropertyValue('--wave-line');
    context.fillRect(0, Math.floor(middle), width, Math.max(1, ratio / 2));
    const perColumn = samples.length / width;
    for (let x = 0; x < width && samples.length > 0; ++x) {
        let low = 32767;
        let high = -32768;
        const end = Math.min(samples.length, Math.ceil((x + 1) * perColumn));
        for (let i = Math.floor(x * perColumn); i < end; ++i) {
            low = Math.min(low, samples[i]);
            high = Math.max(high, samples[i]);
        }
        if (low > high) {
            continue;
        }
        const top = middle - (high / 32768) * middle;
        const bottom = middle - (low / 32768) * middle;
        context.fillStyle = style.getPropertyValue(x < played * width ? '--wave-played' : '--wave');
        context.fillRect(x, top, 1, Math.max(1, bottom - top));
    }
    canvas.dataset.drawn = 'true';
}

// ---------------------------------------------------------------- playback

let audio = null;
let playing = null; // {source, button, canvas, started, duration}

function stopPlayback() {
    if (!playing) {
        return;
    }
    const { source, button, canvas } = playing;
    playing = null;
    source.onended = null;
    try {
        source.stop();
    } catch {
        // already ended
    }
    button.textContent = 'Play';
    button.setAttribute('aria-pressed', 'false');
    if (canvas) {
        drawWave(canvas);
    }
}

async function togglePlay(index, button) {
    const wasThis = playing && playing.button === button;
    stopPlayback();
    if (wasThis) {
        return;
    }
    try {
        const samples = samplesOf(await clipWav(index));
        audio ??= new AudioContext();
        let buffer;
        try {
            buffer = audio.createBuffer(1, samples.length, state.rate);
        } catch {
            say(`This browser cannot play sound at ${state.rate} Hz.`, 'error');
            return;
        }
        const channel = buffer.getChannelData(0);
        for (let i = 0; i < samples.length; ++i) {
            channel[i] = samples[i] / 32768;
        }
        const source = audio.createBufferSource();
        source.buffer = buffer;
        source.connect(audio.destination);
        await audio.resume();
        stopPlayback(); // another clip may have started meanwhile
        source.start();
        const canvas = button.closest('tr').querySelector('canvas');
        playing = { source, button, canvas, started: audio.currentTime, duration: buffer.duration };
        source.onended = () => playing?.source === source && stopPlayback();
        button.textContent = 'Stop';
        button.setAttribute('aria-pressed', 'true');
        requestAnimationFrame(followPlayback);
    } catch (error) {
        say(error.message, 'error');
    }
}

function followPlayback() {
    if (!playing || !playing.canvas) {
        return;
    }
    const played = (audio.currentTime - playing.started) / playing.duration;
    drawWave(playing.canvas, Math.min(1, played));
    setTimeout(() => requestAnimationFrame(followPlayback), 100);
}

// --------------------------------------------------------------- downloads

async function downloadClip(index) {
    try {
        save(new Blob([await clipWav(index)], { type: 'audio/wav' }), clipFileName(index + 1));
    } catch (error) {
        say(error.message, 'error');
    }
}

async function downloadAll() {
    const label = 'Zipping clip';
    setBusy(label);
    try {
        const { blob, skipped } = await engine.call('zip', { generation: state.generation, base: state.base }, {
            onProgress: showProgress(label),
        });
        const zipName = `${state.base}.zip`;
        save(blob, zipName);
        const written = state.clips.length - skipped.length;
        say(skipped.length === 0
            ? `Saved ${zipName}: ${plural(written, 'WAV file')}.`
            : `Saved ${zipName}: ${plural(written, 'WAV file')}; left out ${plural(skipped.length, 'clip')} that cannot be decoded: ${skipped.join(', ')}.`,
            skipped.length === 0 ? 'info' : 'error');
    } catch (error) {
        say(error.message, 'error');
    } finally {
        setBusy(null);
    }
}

async function downloadArchive() {
    try {
        save(await engine.call('archive', { generation: state.generation }), state.name);
        say(`Saved ${state.name}.`);
    } catch (error) {
        say(error.message, 'error');
    }
}

// ----------------------------------------------------------------- replace

async function replaceClip(index, file) {
    if (busy || !state) {
        return;
    }
    stopPlayback();
    const label = `Packing the archive with “${file.name}” as clip ${index + 1}: clip`;
    setBusy(label);
    try {
        const bytes = await file.arrayBuffer();
        const table = await engine.call('replace', { generation: state.generation, index, name: file.name, bytes }, {
            onProgress: showProgress(label),
            transfer: [bytes],
        });
        state = { ...state, ...table, changed: true };
        wavCache.clear();
        showArchive();
        const warnings = table.warnings.map((warning) => ` Note: ${warning}.`).join('');
        say(`Clip ${index + 1} now holds “${file.name}”. Use Download archive to save the new archive.${warnings}`);
    } catch (error) {
        say(error.message, 'error');
    } finally {
        setBusy(null);
    }
}

// ------------------------------------------------------------ drop, wiring

function singleFile(dataTransfer) {
    const files = dataTransfer ? [...dataTransfer.files] : [];
    if (files.length !== 1) {
        if (files.length > 1) {
            say('Drop one file at a time.', 'error');
        }
        return null;
    }
    return files[0];
}

document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
});
document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) {
        document.body.classList.remove('dragging');
    }
});
document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const file = singleFile(event.dataTransfer);
    if (file) {
        openArchive(file);
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
ui.filter.addEventListener('input', applyFilter);
ui.downloadAll.addEventListener('click', downloadAll);
ui.downloadArchive.addEventListener('click', downloadArchive);

engine.start();

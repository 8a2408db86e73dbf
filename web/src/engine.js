// The engine: the C library compiled to WebAssembly, and the ZIP writer. The
// build wraps this file, the module and client-zip in `function
// pevEngine(port)`; it runs in a Web Worker (port is the worker's global
// scope) or, where the browser starts none, on the page itself (port is a
// stand-in with the same postMessage and onmessage), which is why it yields
// between clips.
//
// The page sends {seq, op, ...}; the engine answers {seq, result} or
// {seq, error}, with {seq, progress: [done, total, extra]} on the way.
// Requests that open, scan, zip or replace run one after another; the others
// run at once, between the clips of a longer job.
//
// Only the archive's own bytes are kept: a clip is decoded when it is
// scanned (for its sizes and waveform), played, saved or zipped, and its
// samples are let go straight after.

/* global createPevModule, downloadZip, clipFileName */

const PEV_OK = 0;
const PEV_ERR_BUFFER_TOO_SMALL = 3;
const PEV_ERR_NO_MEMORY = 4;
const PEV_ERR_NOT_AN_ARCHIVE = 20;
const PEV_ERR_TOO_MANY_CLIPS = 21;
const PEV_ERR_NEGATIVE_COUNT = 22;
const PEV_ERR_TABLE_CUT_SHORT = 23;
const PEV_ERR_BLOCK_TABLE_PAST_END = 30;
const PEV_ERR_WAV_REFUSED = 43;
const CLIP_INFO_SIZE = 40; // pev_clip_info on wasm32, checked in clip_info_layout.cpp
const HEADER_SIZE = 32; // then the entry table, 8 bytes a clip: id, block count, offset
const BLOCK_SAMPLES = 1024;
const NO_MEMORY = 'There is not enough memory in this browser tab for that.';
// A waveform is this many columns of (lowest, highest) sample, as signed
// bytes: enough for a row of the table, 200 bytes a clip.
const PEAK_COLUMNS = 100;
const READ_PIECE = 4 << 20; // bytes of a file read at a time
const ZIP_PIECE = 8 << 20; // bytes of a ZIP or archive handed to the page at a time

let M; // the module
let lib; // its functions, by their C names without the prefix
let cells = 0; // out-parameters: two 32-bit cells, then a pev_clip_info
let figures = 0; // six doubles: what the loudness meter and the level match give back
let scratch = { pointer: 0, size: 0 }; // grow-only buffer for decoding
// The open archive: its handle, its bytes in the module's memory and how
// they are released. The page quotes the generation in its requests, so a
// request made for an archive no longer open is refused.
let current = null;
let generation = 0;

class Failure extends Error {}

// Memory grows, so the heap is looked at afresh after every call.
const view = () => new DataView(M.HEAPU8.buffer);
const u32 = (pointer) => view().getUint32(pointer, true);
const u16 = (pointer) => view().getUint16(pointer, true);
const i32 = (pointer) => view().getInt32(pointer, true);
const u64 = (pointer) => u32(pointer) + u32(pointer + 4) * 2 ** 32;
const f64 = (pointer) => view().getFloat64(pointer, true);
const text = (pointer) => M.UTF8ToString(pointer);
const phrase = (status) => text(lib.strerror(status));
const info = () => cells + 8;

function malloc(size) {
    const pointer = M._malloc(Math.max(size, 1));
    if (!pointer) {
        throw new Failure(NO_MEMORY);
    }
    return pointer;
}

function copyIn(bytes) {
    const pointer = malloc(bytes.byteLength);
    M.HEAPU8.set(bytes, pointer);
    return pointer;
}

function check(status, what) {
    if (status === PEV_ERR_NO_MEMORY) {
        throw new Failure(NO_MEMORY);
    }
    if (status !== PEV_OK) {
        throw new Failure(`${what}: ${phrase(status)}.`);
    }
}

function scratchOf(size) {
    if (scratch.size < size) {
        M._free(scratch.pointer);
        scratch = { pointer: 0, size: 0 }; // nothing freed is left behind if malloc fails
        scratch = { pointer: malloc(size), size };
    }
    return scratch.pointer;
}

// Lets messages through (and, on the page, lets it draw) about every 10 ms.
let lastBreath = performance.now();
async function breathe() {
    if (performance.now() - lastBreath > 10) {
        await new Promise((resolve) => setTimeout(resolve, 0));
        lastBreath = performance.now();
    }
}

// Counts for the progress bar at most every 50 ms, and the last: one message
// a clip kept the page busy redrawing the bar thousands of times.
function sparingly(progress) {
    let sent = -Infinity;
    return (done, total) => {
        if (done === total || performance.now() - sent >= 50) {
            sent = performance.now();
            progress(done, total);
        }
    };
}

function openMessage(status, name, head) {
    switch (status) {
        case PEV_ERR_NOT_AN_ARCHIVE:
            // The mark is there but not the whole 32-byte header.
            if (head.length >= 6 && String.fromCharCode(...head.subarray(0, 6)) === 'PEVPAC') {
                return `“${name}” is damaged: it ends inside its 32-byte header (${head.length} bytes), so it was probably cut short.`;
            }
            return `“${name}” is not a voice archive: it does not start with the PEVPAC mark of .pev files.`;
        case PEV_ERR_TOO_MANY_CLIPS:
            return `“${name}” is damaged: its header claims more than 9999 clips.`;
        case PEV_ERR_NEGATIVE_COUNT:
            return `“${name}” is damaged: its header holds a negative clip count.`;
        case PEV_ERR_TABLE_CUT_SHORT:
            return `“${name}” is damaged: the file ends inside its table of clips, so it was probably cut short.`;
        case PEV_ERR_NO_MEMORY:
            return `“${name}” is too large to open in this browser tab.`;
        default:
            return `“${name}” cannot be opened: ${phrase(status)}.`;
    }
}

// Opens the archive held at `bytes` in the module's memory, which `release`
// frees, in place of the one open before. On failure it frees the bytes and
// the archive open before stays open.
function adopt(bytes, size, release, name) {
    const status = lib.open_memory(bytes, size, cells);
    if (status !== PEV_OK) {
        const head = M.HEAPU8.slice(bytes, bytes + Math.min(size, HEADER_SIZE));
        release(bytes);
        throw new Failure(openMessage(status, name, head));
    }
    if (current) {
        lib.close(current.archive);
        current.release(current.bytes);
    }
    current = { archive: u32(cells), bytes, size, release };
    generation += 1;
}

function requireCurrent(request) {
    if (!current || request.generation !== generation) {
        throw new Failure('That archive is no longer open.');
    }
}

function clipCount() {
    check(lib.clip_count(current.archive, cells), 'Cannot count the clips');
    return u32(cells);
}

function sampleRate() {
    check(lib.sample_rate(current.archive, cells), 'Cannot read the sample rate');
    return u32(cells);
}

// What the entry table says of clip `index`, read without decoding anything.
const rowAt = (index) => current.bytes + HEADER_SIZE + 8 * index;

// What the page shows before any clip is decoded: the count, the rate and
// the ids.
function outline() {
    const count = clipCount();
    const ids = new Uint16Array(count);
    for (let index = 0; index < count; ++index) {
        ids[index] = u16(rowAt(index));
    }
    return { generation, rate: sampleRate(), size: current.size, count, ids };
}

// Reads the file into the module's memory through one buffer used again
// and again, so that it is held once, not twice, and leaves no garbage (a
// new piece for every read left hundreds of megabytes to the collector).
// Where a file's stream cannot fill a given buffer, it is read in pieces.
async function readInto(file, bytes) {
    let reader = null;
    try {
        reader = file.stream().getReader({ mode: 'byob' });
    } catch {
        for (let at = 0; at < file.size; at += READ_PIECE) {
            M.HEAPU8.set(new Uint8Array(await file.slice(at, at + READ_PIECE).arrayBuffer()), bytes + at);
        }
        return;
    }
    let buffer = new ArrayBuffer(READ_PIECE);
    for (let at = 0; ;) {
        const { done, value } = await reader.read(new Uint8Array(buffer));
        if (done) {
            return;
        }
        M.HEAPU8.set(value.subarray(0, file.size - at), bytes + at);
        at += value.byteLength;
        buffer = value.buffer; // the same memory, handed back
    }
}

async function open({ name, file }) {
    const bytes = malloc(file.size);
    try {
        await readInto(file, bytes);
    } catch (error) {
        M._free(bytes);
        throw new Failure(`“${name}” cannot be read: ${error.message}`);
    }
    adopt(bytes, file.size, (p) => M._free(p), name);
    const value = outline();
    return { value, transfer: [value.ids.buffer] };
}

// Decodes clip `index` into the scratch buffer; returns its sample count,
// or the problem status (negative) when it cannot be decoded. The entry
// table's block count bounds the samples, so one decode is enough.
function decodeInto(index) {
    const bound = Math.max(1, u16(rowAt(index) + 2) * BLOCK_SAMPLES);
    const pointer = scratchOf(bound * 2);
    const status = lib.decode_clip(current.archive, index, pointer, bound, cells + 4);
    if (status === PEV_ERR_NO_MEMORY) {
        throw new Failure(NO_MEMORY);
    }
    return status === PEV_OK ? u32(cells + 4) : -status;
}

// Every clip's sizes and waveform (or those of the clips `request.only`),
// sent to the page in batches as decoding goes: {indices, numbers (7 a
// clip), problems {index: phrase}, peaks}.
async function scan(request, progress) {
    requireCurrent(request);
    const indices = request.only ?? Array.from({ length: clipCount() }, (_, index) => index);
    let batch = null;
    const flush = (done) => {
        if (batch) {
            progress(done, indices.length, batch, [batch.numbers.buffer, batch.peaks.buffer]);
            batch = null;
        }
    };
    for (const [done, index] of indices.entries()) {
        if (request.generation !== generation) {
            return { value: false };
        }
        batch ??= { indices: [], numbers: [], problems: {}, peaks: [], started: performance.now() };
        batch.indices.push(index);
        const decoded = decodeInto(index);
        const problem = readInfo(index);
        const at = info();
        batch.numbers.push(u16(at + 2), u32(at + 4), u32(at + 8), u32(at + 12), u64(at + 16), u64(at + 24),
            problem === PEV_ERR_BLOCK_TABLE_PAST_END ? 0 : 1); // else its sizes were never read
        if (problem !== PEV_OK) {
            batch.problems[index] = phrase(problem);
        }
        batch.peaks.push(decoded > 0 ? peaksOf(scratch.pointer, decoded) : new Int8Array(2 * PEAK_COLUMNS));
        if (performance.now() - batch.started > 40 || done + 1 === indices.length) {
            batch.numbers = new Float64Array(batch.numbers);
            batch.peaks = joined(batch.peaks);
            flush(done + 1);
        }
        await breathe();
    }
    return { value: true };
}

function readInfo(index) {
    check(lib.get_clip_info(current.archive, index, info()), `Cannot read clip ${index + 1}`);
    return i32(info() + 32);
}

function joined(arrays) {
    const all = new Int8Array(arrays.length * 2 * PEAK_COLUMNS);
    arrays.forEach((array, i) => all.set(array, i * 2 * PEAK_COLUMNS));
    return all;
}

// The lowest and highest sample of each column, scaled to -128..127.
function peaksOf(pointer, count) {
    const samples = new Int16Array(M.HEAPU8.buffer, pointer, count);
    const peaks = new Int8Array(2 * PEAK_COLUMNS);
    for (let x = 0; x < PEAK_COLUMNS; ++x) {
        const end = Math.min(count, Math.ceil(((x + 1) * count) / PEAK_COLUMNS));
        let low = 32767;
        let high = -32768;
        for (let i = Math.floor((x * count) / PEAK_COLUMNS); i < end; ++i) {
            const sample = samples[i];
            if (sample < low) low = sample;
            if (sample > high) high = sample;
        }
        if (low <= high) {
            peaks[2 * x] = low >> 8;
            peaks[2 * x + 1] = high >> 8;
        }
    }
    return peaks;
}

// Each clip's integrated loudness (LUFS), or that of the clips
// `request.only`, sent to the page in batches: {indices, lufs} with NaN for
// a clip too short or quiet to measure, or one that cannot be decoded. The
// page asks a few dozen clips at a time, so that other work goes between.
async function loudness(request, progress) {
    requireCurrent(request);
    if (!lib.web_measure) {
        throw new Failure('This page was built without libebur128, so it measures no loudness.');
    }
    const rate = sampleRate();
    const indices = request.only ?? Array.from({ length: clipCount() }, (_, index) => index);
    let batch = null;
    for (const [done, index] of indices.entries()) {
        if (request.generation !== generation) {
            return { value: false };
        }
        batch ??= { indices: [], lufs: [], started: performance.now() };
        const count = decodeInto(index);
        let lufs = NaN;
        if (count >= 0) {
            check(lib.web_measure(scratch.pointer, count, rate, figures), `Clip ${index + 1} cannot be measured`);
            lufs = f64(figures);
        }
        batch.indices.push(index);
        batch.lufs.push(lufs);
        if (performance.now() - batch.started > 40 || done + 1 === indices.length) {
            batch.lufs = new Float64Array(batch.lufs);
            progress(done + 1, indices.length, batch, [batch.lufs.buffer]);
            batch = null;
        }
        await breathe();
    }
    return { value: true };
}

// Matches the samples of `item` (in the module's memory, its own copy) to
// the loudness of clip `index` of the open archive, as pev replace
// --match-loudness does, scaling them in place; returns the note for the
// row.
function matchLoudness(item, index, rate) {
    const count = decodeInto(index);
    if (count < 0) {
        return 'loudness not matched: the clip it replaces cannot be decoded';
    }
    check(lib.web_match(scratch.pointer, count, item.pointer, item.length, rate, figures), `Clip ${index + 1} cannot be matched`);
    const [basis, problem, wanted, gain, target, reached] = Array.from({ length: 6 }, (_, i) => f64(figures + 8 * i));
    if (basis === 0) {
        return `loudness not matched: ${problem === 1 ? 'the clip it replaces is silent' : 'the recording is silent'}`;
    }
    const dB = (value) => `${value >= 0.05 ? '+' : value <= -0.05 ? '−' : ''}${Math.abs(value).toFixed(1)} dB`;
    const level = (value) => (basis === 1 ? `${value.toFixed(1).replace('-', '−')} LUFS` : `a speech level of ${value.toFixed(1).replace('-', '−')} dBFS`);
    const how = basis === 2 ? ', by speech level: too short or quiet for an integrated loudness' : '';
    if (wanted - gain > 0.01) {
        return `loudness raised by ${dB(gain)}, not the ${dB(wanted)} that would match ${level(target)}, so that no sample clips${how}`;
    }
    return `loudness matched: ${dB(gain)} to ${level(reached)}${how}`;
}

// Clip `index` as the WAV file Pev2wav writes for it.
function clipWav(index) {
    const size = cells + 4;
    const status = lib.decode_clip_wav(current.archive, index, 0, 0, size);
    if (status !== PEV_ERR_BUFFER_TOO_SMALL) {
        check(status, `Clip ${index + 1} cannot be decoded`);
    }
    const needed = u32(size);
    const pointer = scratchOf(needed);
    check(lib.decode_clip_wav(current.archive, index, pointer, needed, size), `Clip ${index + 1} cannot be decoded`);
    return M.HEAPU8.slice(pointer, pointer + needed);
}

function clip(request) {
    requireCurrent(request);
    const wav = clipWav(request.index);
    return { value: wav.buffer, transfer: [wav.buffer] };
}

// The open archive's bytes, copied out a few megabytes at a time, each piece
// a Blob of its own, so no second copy of the whole is ever held here.
function archive(request) {
    requireCurrent(request);
    const pieces = [];
    for (let at = 0; at < current.size; at += ZIP_PIECE) {
        const end = Math.min(current.size, at + ZIP_PIECE);
        pieces.push(new Blob([M.HEAPU8.slice(current.bytes + at, current.bytes + end)]));
    }
    return { value: new Blob(pieces, { type: 'application/octet-stream' }) };
}

// The page takes each piece of a ZIP before the next is made, so no more
// than one piece waits in memory; it answers with an 'ack'.
const acks = new Map();
function ack(request) {
    acks.get(request.for)?.();
    acks.delete(request.for);
    return { value: true };
}

// The clips `request.indices` that can be decoded, in one ZIP file (ZIP64
// when it passes 4 GiB), named as Pev2wav names its files; the others are
// left out and listed. The file goes to the page in pieces of a few
// megabytes, as Blobs, which the browser keeps outside this tab's memory.
async function zip(request, progress) {
    requireCurrent(request);
    const skipped = [];
    const indices = request.indices;
    const counted = sparingly(progress);
    async function* entries() {
        for (const [done, index] of indices.entries()) {
            requireCurrent(request);
            if (readInfo(index) !== PEV_OK) {
                skipped.push(index + 1);
            } else {
                // Stored, not deflated: deflating speech saves about 60% of
                // the size but takes four times as long.
                yield { name: clipFileName(request.base, index + 1), input: clipWav(index), lastModified: request.time };
            }
            counted(done + 1, indices.length);
            await breathe();
        }
    }
    const reader = downloadZip(entries()).body.getReader();
    let pieces = [];
    let held = 0;
    let total = 0;
    const handOver = async () => {
        const blob = new Blob(pieces, { type: 'application/zip' });
        pieces = [];
        held = 0;
        const taken = new Promise((resolve) => acks.set(request.seq, resolve));
        progress(-1, -1, blob);
        await taken;
    };
    for (;;) {
        const { done, value } = await reader.read();
        if (done) {
            break;
        }
        pieces.push(value);
        held += value.byteLength;
        total += value.byteLength;
        if (held >= ZIP_PIECE) {
            await handOver();
        }
    }
    await handOver();
    return { value: { skipped, size: total } };
}

// Why a WAV file cannot be taken exactly as the packer reads it, or ''.
function wavProblem(request) {
    let read;
    try {
        read = readWav(request.bytes, request.rate);
    } catch (error) {
        return { value: error.message };
    }
    lib.wav_free(read.wav);
    return { value: '' };
}

// Reads a dropped WAV file as the packer reads its inputs; throws its reason
// when the file cannot be packed into an archive at `rate`.
function readWav(bytes, rate) {
    const pointer = copyIn(new Uint8Array(bytes));
    const status = lib.wav_read(pointer, bytes.byteLength, cells);
    M._free(pointer);
    if (status !== PEV_OK && status !== PEV_ERR_WAV_REFUSED) {
        throw new Failure(NO_MEMORY);
    }
    const wav = u32(cells);
    let reason = status === PEV_ERR_WAV_REFUSED ? text(lib.wav_refusal(wav)) : '';
    if (!reason && lib.wav_rate(wav) !== rate) {
        reason = `its sample rate is ${lib.wav_rate(wav)} Hz, but the archive's clips are at ${rate} Hz`;
    }
    if (reason) {
        lib.wav_free(wav);
        throw new Failure(reason);
    }
    const warnings = [];
    for (let i = 0; i < lib.wav_warning_count(wav); ++i) {
        warnings.push(text(lib.wav_warning(wav, i)));
    }
    return { wav, warnings };
}

// Adds clip `index` of the open archive to `writer`: as stored where the
// library can copy a clip, else decoded and packed again (the same sound,
// slower).
function carryClip(writer, index) {
    if (lib.writer_copy_clip) {
        const status = lib.writer_copy_clip(writer, current.archive, index);
        if (status !== PEV_OK) {
            throw new Failure(`clip ${index + 1} cannot be copied (${phrase(status)}), so the archive cannot be packed anew`);
        }
        return;
    }
    const count = decodeInto(index);
    if (count < 0) {
        throw new Failure(`clip ${index + 1} cannot be decoded (${phrase(-count)}), so the archive cannot be packed anew`);
    }
    check(lib.writer_add_clip(writer, scratch.pointer, count), `Clip ${index + 1} cannot be packed`);
}

// Packs the open archive anew with some clips replaced, as the packer does
// with --like the open archive (its ids and unread header bytes kept), and
// opens the result in its place. Each replacement is {index, name} with
// either `bytes`, a WAV file taken exactly as the packer reads it, or
// `samples`, 16-bit samples the page converted at the archive's rate. With
// `request.match`, each is first given the loudness of the clip it
// replaces.
async function replace(request, progress) {
    requireCurrent(request);
    const rate = sampleRate();
    const count = clipCount();
    const incoming = new Map();
    const problems = [];
    const packed = sparingly(progress);
    try {
        for (const item of request.clips) {
            if (!Number.isInteger(item.index) || item.index < 0 || item.index >= count) {
                throw new Failure('There is no such clip.');
            }
            if (item.samples) {
                const pointer = copyIn(new Uint8Array(item.samples.buffer, item.samples.byteOffset, item.samples.byteLength));
                incoming.set(item.index, { ...item, pointer, length: item.samples.length, warnings: [] });
                continue;
            }
            try {
                const { wav, warnings } = readWav(item.bytes, rate);
                const samples = lib.wav_samples(wav, cells);
                const length = u32(cells);
                if (request.match) {
                    // Its own copy, to be scaled: the library's is read-only.
                    const pointer = copyIn(M.HEAPU8.subarray(samples, samples + 2 * length));
                    lib.wav_free(wav);
                    incoming.set(item.index, { ...item, pointer, length, warnings });
                } else {
                    incoming.set(item.index, { ...item, wav, pointer: samples, length, warnings });
                }
            } catch (error) {
                if (!(error instanceof Failure) || error.message === NO_MEMORY) {
                    throw error;
                }
                problems.push(`“${item.name}” for clip ${item.index + 1}: ${error.message}`);
            }
        }
        if (problems.length) {
            throw new Failure(`Nothing was replaced: ${problems.join('; ')}.`);
        }
        if (request.match) {
            if (!lib.web_match) {
                throw new Failure('This page was built without libebur128, so it cannot match loudness.');
            }
            for (const [index, item] of incoming) {
                item.warnings.push(matchLoudness(item, index, rate));
            }
        }
        let writer = 0;
        try {
            check(lib.writer_new_like(rate, current.archive, cells), 'Cannot start a new archive');
            writer = u32(cells);
            for (let index = 0; index < count; ++index) {
                const item = incoming.get(index);
                const refuse = (reason) => new Failure(item
                    ? `Clip ${index + 1} was not replaced by “${item.name}”: ${reason}.`
                    : `Nothing was replaced: ${reason}.`);
                if (item) {
                    const added = lib.writer_add_clip(writer, item.pointer, item.length);
                    if (added !== PEV_OK && added !== PEV_ERR_NO_MEMORY) {
                        throw refuse(phrase(added));
                    }
                    check(added, 'Cannot pack the clip');
                } else {
                    try {
                        carryClip(writer, index);
                    } catch (error) {
                        throw error instanceof Failure && error.message !== NO_MEMORY ? refuse(error.message) : error;
                    }
                }
                packed(index + 1, count);
                await breathe();
            }
            check(lib.writer_finish_memory(writer, cells, cells + 4), 'The new archive cannot be written');
            adopt(u32(cells), u32(cells + 4), (p) => lib.free(p), 'The new archive');
        } finally {
            lib.writer_free(writer);
        }
        const notes = {};
        for (const [index, item] of incoming) {
            notes[index] = [...item.warnings, ...(item.length % 2 ? [`${item.length} samples + 1 sample repeating the last, for its odd length`] : [])];
        }
        const value = { ...outline(), notes };
        return { value, transfer: [value.ids.buffer] };
    } finally {
        incoming.forEach((item) => (item.wav ? lib.wav_free(item.wav) : M._free(item.pointer)));
    }
}

const exclusive = { open, scan, zip, replace, loudness };
const immediate = { clip, archive, ack, wavProblem };

// Runs one request once the module is there, and answers it; never rejects.
function answer(seq, work) {
    const progress = (done, total, extra, transfer = []) =>
        port.postMessage({ seq, progress: [done, total, extra] }, transfer);
    return started
        .then(() => work(progress))
        .then(
            ({ value, transfer = [] }) => port.postMessage({ seq, result: value }, transfer),
            (error) => {
                const message = error instanceof Failure ? error.message : `Something went wrong: ${error}`;
                port.postMessage({ seq, error: message });
            },
        );
}

// The decoder uses WebAssembly's vector instructions (SIMD128), which
// browsers have had since 2021 (Safari since 16.4, 2023); where they are
// missing the module would not even compile, so say so in words. The probe
// is the smallest module with one: i8x16.splat and i8x16.popcnt.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10,
    10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11]);
const loaded = WebAssembly.validate(SIMD_PROBE)
    ? createPevModule()
    : Promise.reject(new Error('this browser lacks WebAssembly SIMD; Chrome 91, Firefox 89, Safari 16.4 or later have it'));

const started = loaded.then((module) => {
    M = module;
    lib = {};
    const names = ['strerror', 'open_memory', 'close', 'clip_count', 'sample_rate', 'get_clip_info',
        'decode_clip', 'decode_clip_wav', 'writer_new_like', 'writer_add_clip', 'writer_copy_clip',
        'writer_finish_memory', 'writer_free', 'free', 'wav_read', 'wav_refusal', 'wav_rate', 'wav_samples',
        'wav_warning_count', 'wav_warning', 'wav_free', 'web_measure', 'web_match'];
    for (const name of names) {
        lib[name] = M[`_pev_${name}`]; // every argument and result is a number; absent when not built in
    }
    cells = malloc(8 + CLIP_INFO_SIZE);
    figures = malloc(6 * 8);
});

let queue = Promise.resolve();
port.onmessage = ({ data }) => {
    const { seq, op } = data;
    if (immediate[op]) {
        answer(seq, () => immediate[op](data));
    } else if (exclusive[op]) {
        queue = queue.then(() => answer(seq, (progress) => exclusive[op](data, progress)));
    } else {
        port.postMessage({ seq, error: `Unknown request ${op}` });
    }
};

started.then(
    () => port.postMessage({ ready: true, copiesClips: Boolean(lib.writer_copy_clip), measures: Boolean(lib.web_measure) }),
    (error) => port.postMessage({ fatal: `The decoder could not start: ${error}` }),
);

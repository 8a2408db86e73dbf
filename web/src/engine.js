// The engine: the C library compiled to WebAssembly, and the ZIP writer. The
// build wraps this file, the module and fflate in `function pevEngine(port)`;
// it runs in a Web Worker (port is the worker's global scope) or, where the
// browser starts none, on the page itself (port is a stand-in with the same
// postMessage and onmessage), which is why it yields between clips.
//
// The page sends {seq, op, ...}; the engine answers {seq, result} or
// {seq, error}, with {seq, progress: [done, total]} on the way. Requests that
// open, zip or replace run one after another; reading a clip or the archive
// runs at once, between the clips of a longer job, on the archive open then.

/* global createPevModule */

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
const NO_MEMORY = 'There is not enough memory in this browser tab for that.';

let M; // the module
let lib; // its functions, by their C names without the prefix
let cells = 0; // out-parameters: two 32-bit cells, then a pev_clip_info
let scratch = { pointer: 0, size: 0 }; // grow-only buffer for decoding
// The open archive: its handle, its bytes in the module's memory and how
// they are released. The page quotes the generation in its requests, so a
// request made for an archive no longer open is refused.
let current = null;
let generation = 0;

class Failure extends Error {}

// Memory grows, so the heap is looked at afresh after every call.
const u32 = (pointer) => new DataView(M.HEAPU8.buffer).getUint32(pointer, true);
const u16 = (pointer) => new DataView(M.HEAPU8.buffer).getUint16(pointer, true);
const i32 = (pointer) => new DataView(M.HEAPU8.buffer).getInt32(pointer, true);
const u64 = (pointer) => u32(pointer) + u32(pointer + 4) * 2 ** 32;
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

// Lets messages through (and, on the page, lets it draw) about every 15 ms.
let lastBreath = performance.now();
async function breathe() {
    if (performance.now() - lastBreath > 15) {
        await new Promise((resolve) => setTimeout(resolve, 0));
        lastBreath = performance.now();
    }
}

function openMessage(status, name) {
    switch (status) {
        case PEV_ERR_NOT_AN_ARCHIVE:
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
        release(bytes);
        throw new Failure(openMessage(status, name));
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

// Reads clip `index`'s pev_clip_info into info(). The first time, this
// decodes the clip to count its samples exactly.
function readInfo(index) {
    check(lib.get_clip_info(current.archive, index, info()), `Cannot read clip ${index + 1}`);
    return i32(info() + 32);
}

// The table the page shows.
async function describe(progress) {
    const count = clipCount();
    const clips = [];
    for (let index = 0; index < count; ++index) {
        const problem = readInfo(index);
        const at = info();
        clips.push({
            position: index + 1,
            id: u16(at),
            blocks: u16(at + 2),
            silent: u32(at + 4),
            raw: u32(at + 8),
            delta: u32(at + 12),
            storedBytes: u64(at + 16),
            samples: u64(at + 24),
            problem: problem === PEV_OK ? '' : phrase(problem),
            blocksKnown: problem !== PEV_ERR_BLOCK_TABLE_PAST_END, // else its sizes were never read
        });
        progress(index + 1, count);
        await breathe();
    }
    return { generation, rate: sampleRate(), size: current.size, clips };
}

async function open({ name, bytes }, progress) {
    adopt(copyIn(new Uint8Array(bytes)), bytes.byteLength, (p) => M._free(p), name);
    return { value: await describe(progress) };
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

function archive(request) {
    requireCurrent(request);
    const bytes = M.HEAPU8.slice(current.bytes, current.bytes + current.size);
    return { value: new Blob([bytes], { type: 'application/octet-stream' }) };
}

function clipFileName(base, position) {
    return `${base}_${String(position).padStart(4, '0')}.wav`;
}

// Every clip that can be decoded, in one ZIP file, named as Pev2wav names
// its files; the others are left out and listed.
async function zip(request, progress) {
    requireCurrent(request);
    const chunks = [];
    let zipError = null;
    const writer = new self.fflate.Zip((error, chunk) => {
        if (error) {
            zipError = error;
        } else {
            chunks.push(chunk);
        }
    });
    const count = clipCount();
    const skipped = [];
    for (let index = 0; index < count; ++index) {
        if (readInfo(index) !== PEV_OK) {
            skipped.push(index + 1);
        } else {
            // Stored, not deflated: deflating speech saves about 60% of the
            // size but takes four times as long.
            const entry = new self.fflate.ZipPassThrough(clipFileName(request.base, index + 1));
            writer.add(entry);
            entry.push(clipWav(index), true);
        }
        if (zipError) {
            throw new Failure(`The ZIP file could not be written: ${zipError.message}`);
        }
        progress(index + 1, count);
        await breathe();
    }
    writer.end();
    return { value: { blob: new Blob(chunks, { type: 'application/zip' }), skipped } };
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

// Adds clip `index` of the open archive to `writer`, decoded.
function repackClip(writer, index) {
    const size = cells + 4;
    let status = lib.decode_clip(current.archive, index, 0, 0, size);
    let samples = 0;
    if (status === PEV_ERR_BUFFER_TOO_SMALL) {
        samples = scratchOf(u32(size) * 2);
        status = lib.decode_clip(current.archive, index, samples, u32(size), size);
    }
    if (status !== PEV_OK) {
        throw new Failure(`clip ${index + 1} cannot be decoded (${phrase(status)}), so the archive cannot be packed anew`);
    }
    check(lib.writer_add_clip(writer, samples, u32(size)), `Clip ${index + 1} cannot be packed`);
}

// Packs the open archive anew with clip `index` replaced by a WAV file, as
// the packer does with --like the open archive (its ids and unread header
// bytes kept), and opens the result in its place.
async function replace(request, progress) {
    requireCurrent(request);
    const rate = sampleRate();
    const count = clipCount();
    const refuse = (reason) =>
        new Failure(`Clip ${request.index + 1} was not replaced by “${request.name}”: ${reason}.`);
    if (!Number.isInteger(request.index) || request.index < 0 || request.index >= count) {
        throw new Failure('There is no such clip.');
    }
    let read;
    try {
        read = readWav(request.bytes, rate);
    } catch (error) {
        throw error instanceof Failure && error.message !== NO_MEMORY ? refuse(error.message) : error;
    }
    let writer = 0;
    try {
        check(lib.writer_new_like(rate, current.archive, cells), 'Cannot start a new archive');
        writer = u32(cells);
        for (let index = 0; index < count; ++index) {
            if (index === request.index) {
                const wav = read.wav;
                const samples = lib.wav_samples(wav, cells + 4);
                const added = lib.writer_add_clip(writer, samples, u32(cells + 4));
                if (added !== PEV_OK && added !== PEV_ERR_NO_MEMORY) {
                    throw refuse(phrase(added));
                }
                check(added, 'Cannot pack the clip');
            } else {
                try {
                    repackClip(writer, index);
                } catch (error) {
                    throw error instanceof Failure && error.message !== NO_MEMORY ? refuse(error.message) : error;
                }
            }
            progress(index + 1, count);
            await breathe();
        }
        check(lib.writer_finish_memory(writer, cells, cells + 4), 'The new archive cannot be written');
        adopt(u32(cells), u32(cells + 4), (p) => lib.free(p), 'The new archive');
    } finally {
        lib.writer_free(writer);
        lib.wav_free(read.wav);
    }
    return { value: { ...(await describe(() => {})), warnings: read.warnings } };
}

const exclusive = { open, zip, replace };
const immediate = { clip, archive };

// Runs one request once the module is there, and answers it; never rejects.
function answer(seq, work) {
    const progress = (done, total) => port.postMessage({ seq, progress: [done, total] });
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

const started = createPevModule().then((module) => {
    M = module;
    lib = {};
    const names = ['strerror', 'open_memory', 'close', 'clip_count', 'sample_rate', 'get_clip_info',
        'decode_clip', 'decode_clip_wav', 'writer_new_like', 'writer_add_clip', 'writer_finish_memory',
        'writer_free', 'free', 'wav_read', 'wav_refusal', 'wav_rate', 'wav_samples', 'wav_warning_count',
        'wav_warning', 'wav_free'];
    for (const name of names) {
        lib[name] = M[`_pev_${name}`]; // every argument and result is a number
    }
    cells = malloc(8 + CLIP_INFO_SIZE);
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
    () => port.postMessage({ ready: true }),
    (error) => port.postMessage({ fatal: `The decoder could not start: ${error}` }),
);

// The big archives of the web page's benchmarks, packed once from the
// demo's speech by build/Pev2wav and build/Wav2pev and kept in
// $PEV_BENCH_DIR (default /tmp/pev-web-bench) for the next run.

import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = resolve(fileURLToPath(import.meta.url), '../../..');
export const work = process.env.PEV_BENCH_DIR ?? join(tmpdir(), 'pev-web-bench');
const tool = (name) => join(root, 'build', name);

// The demo's three clips as samples, to cut test clips from.
function speech() {
    const dir = join(work, 'demo');
    if (!existsSync(join(dir, 'demo_0003.wav'))) {
        mkdirSync(dir, { recursive: true });
        execFileSync('cp', [join(root, 'examples/demo.pev'), dir]);
        execFileSync(tool('Pev2wav'), ['demo'], { cwd: dir });
    }
    return [1, 2, 3].map((n) => {
        const bytes = readFileSync(join(dir, `demo_000${n}.wav`));
        return new Int16Array(bytes.buffer.slice(bytes.byteOffset + 44, bytes.byteOffset + bytes.length));
    });
}

export function wav(samples) {
    const header = Buffer.alloc(44);
    header.write('RIFF', 0);
    header.writeUInt32LE(36 + samples.byteLength, 4);
    header.write('WAVEfmt ', 8);
    header.writeUInt32LE(16, 16);
    header.writeUInt16LE(1, 20);
    header.writeUInt16LE(1, 22);
    header.writeUInt32LE(22050, 24);
    header.writeUInt32LE(44100, 28);
    header.writeUInt16LE(2, 32);
    header.writeUInt16LE(16, 34);
    header.write('data', 36);
    header.writeUInt32LE(samples.byteLength, 40);
    return Buffer.concat([header, Buffer.from(samples.buffer, samples.byteOffset, samples.byteLength)]);
}

// `count` clips of about `length` samples of speech each (looped where a
// clip is longer than the demo's).
export function archive(name, count, length) {
    const path = join(work, `${name}.pev`);
    if (existsSync(path)) {
        return path;
    }
    mkdirSync(work, { recursive: true });
    const voices = speech();
    const dir = join(work, `${name}-wav`);
    mkdirSync(dir, { recursive: true });
    const names = [];
    for (let n = 0; n < count; ++n) {
        const voice = voices[n % 3];
        const size = Math.round(length * (0.6 + ((n * 7919) % 800) / 1000));
        const samples = new Int16Array(size);
        for (let i = 0, from = (n * 4099) % voice.length; i < size; ++i) {
            samples[i] = voice[(from + i) % voice.length];
        }
        names.push(`c${n}.wav`);
        writeFileSync(join(dir, names.at(-1)), wav(samples));
    }
    execFileSync(tool('Wav2pev'), [join(work, name), ...names], { cwd: dir, maxBuffer: 1 << 28 });
    rmSync(dir, { recursive: true });
    return path;
}

// The page's decoder against the native library: every clip of the
// 2000-clip archive of page_bench.mjs (127 MB of speech) decoded by the
// WebAssembly module the page runs (pev-wasm.js, in headless Chromium) and
// by the native library (build/bench/libpev_bench throughput), into the
// caller's buffer with the clips' sample counts already known. Prints the
// best of 7 rounds of each and their ratio.
//
//   node bench/web/decode_bench.mjs [WASM_BUILD_DIR] [NATIVE_BUILD_DIR]
//
// (defaults build-wasm and build). Another tree's builds can be named, to
// compare. Time in the browser is the clock on the wall, so run it when the
// machine is quiet, and more than once.

import { execFileSync } from 'node:child_process';
import { existsSync, rmSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { archive, root, work } from './archives.mjs';

const [wasmArg, nativeArg] = process.argv.slice(2);
const wasmBuild = resolve(wasmArg ?? join(root, 'build-wasm'));
const nativeBuild = resolve(nativeArg ?? join(root, 'build'));
const moduleScript = join(wasmBuild, 'wasm/pev-wasm.js');
const bench = join(nativeBuild, 'bench/libpev_bench');
for (const needed of [moduleScript, bench]) {
    if (!existsSync(needed)) {
        console.error(`decode_bench: ${needed} is missing (build the wasm preset and the default one)`);
        process.exit(2);
    }
}
const { chromium } = await import(join(root, 'web/node_modules/playwright-core/index.mjs'));
const path = archive('a2000', 2000, 94000);

// Every clip decoded once to learn its size (and have the library count
// it), then the timed rounds; the sum of every clip's middle sample checks
// that the rounds decoded alike.
async function inBrowser() {
    const profile = join(work, `profile-decode-${process.pid}`);
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
    });
    try {
        const page = await context.newPage();
        await page.setContent('<input type="file">');
        await page.addScriptTag({ path: moduleScript });
        await page.setInputFiles('input', path);
        return await page.evaluate(async () => {
            const M = await createPevModule(); // eslint-disable-line no-undef
            const bytes = new Uint8Array(await document.querySelector('input').files[0].arrayBuffer());
            const data = M._malloc(bytes.length);
            M.HEAPU8.set(bytes, data);
            const cell = M._malloc(8);
            if (M._pev_open_memory(data, bytes.length, cell) !== 0) {
                throw new Error('the module could not open the archive');
            }
            const archive = M.HEAPU32[cell >> 2];
            M._pev_clip_count(archive, cell);
            const count = M.HEAPU32[cell >> 2];
            const sizes = [];
            for (let i = 0; i < count; ++i) {
                M._pev_decode_clip(archive, i, 0, 0, cell);
                sizes.push(M.HEAPU32[cell >> 2]);
            }
            const buffer = M._malloc(2 * Math.max(...sizes));
            let best = Infinity;
            let samples = 0;
            let check = 0;
            for (let round = 0; round < 7; ++round) {
                const start = performance.now();
                samples = 0;
                for (let i = 0; i < count; ++i) {
                    M._pev_decode_clip(archive, i, buffer, sizes[i], cell);
                    samples += M.HEAPU32[cell >> 2];
                    check += M.HEAP16[(buffer >> 1) + (sizes[i] >> 1)];
                }
                best = Math.min(best, (performance.now() - start) / 1000);
            }
            return { count, samples, seconds: best, check: check / 7 };
        });
    } finally {
        await context.close();
        rmSync(profile, { recursive: true, force: true });
    }
}

const page = await inBrowser();
const native = execFileSync(bench, ['throughput', path], { encoding: 'utf8' });
const seconds = Number(/whole-clip decoding: ([\d.]+) s/.exec(native)[1]);
const rate = (s) => `${(page.samples / s / 1e6).toFixed(0)} M samples/s`;
console.log(`${page.count} clips, ${(page.samples / 1e6).toFixed(1)} M samples (${path}); best of 7 rounds`);
console.log(`page's module (${moduleScript}): ${page.seconds.toFixed(4)} s, ${rate(page.seconds)}`);
console.log(`native library (${bench}): ${seconds.toFixed(4)} s, ${rate(seconds)}`);
console.log(`page / native: ${(page.seconds / seconds).toFixed(2)}`);

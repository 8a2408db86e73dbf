// Shared by the browser tests: Debian's Chromium driven by playwright-core,
// the native programs' files to compare with, and WAV files to drop.

import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const pageDir = resolve(process.env.PEV_WEB_DIR ?? join(root, 'build-wasm/web'));
export const buildDir = resolve(process.env.PEV_BUILD_DIR ?? join(root, 'build'));
export const demo = join(root, 'examples/demo.pev');

// Scratch folders (browser profiles among them) go when the test process
// ends, whatever the tests did with them.
const scratchFolders = [];
process.on('exit', () => {
    for (const dir of scratchFolders) {
        rmSync(dir, { recursive: true, force: true });
    }
});

export function scratch() {
    const dir = mkdtempSync(join(tmpdir(), 'pev-web-'));
    scratchFolders.push(dir);
    return dir;
}

// A fresh profile each time, so nothing carries over between runs. The
// save picker is taken away: a test cannot answer its dialog, and the page
// then saves as a download.
export async function launch(options = {}) {
    const context = await chromium.launchPersistentContext(scratch(), {
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        acceptDownloads: true,
        viewport: { width: 960, height: 640 },
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync',
            '--autoplay-policy=no-user-gesture-required'],
        ...options,
    });
    await context.addInitScript(() => delete window.showSaveFilePicker);
    return context;
}

// A page whose errors (thrown, or logged as errors) are collected.
export async function openPage(context, url = `file://${pageDir}/index.html`) {
    const page = await context.newPage();
    page.errors = [];
    page.on('pageerror', (error) => page.errors.push(error.message));
    page.on('console', (message) => message.type() === 'error' && page.errors.push(message.text()));
    await page.goto(url);
    await page.waitForSelector('html[data-engine]');
    return page;
}

export async function openArchive(page, file) {
    const before = await page.textContent('#message');
    await page.setInputFiles('#archive-input', file);
    await page.waitForFunction((old) => document.querySelector('#message').textContent !== old, before);
    return page.textContent('#message');
}

// Drops `bytes` as a file named `name` on the element `selector`, as a
// person dragging it there would; more files as [[name, bytes], ...].
export async function drop(page, selector, name, bytes) {
    return dropFiles(page, selector, [[name, bytes]]);
}

export async function dropFiles(page, selector, files) {
    const before = await page.textContent('#message');
    const encoded = files.map(([name, bytes]) => [name, Buffer.from(bytes).toString('base64')]);
    await page.evaluate(({ selector, encoded }) => {
        const data = new DataTransfer();
        for (const [name, base64] of encoded) {
            data.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
        }
        const target = document.querySelector(selector);
        for (const type of ['dragenter', 'dragover', 'drop']) {
            target.dispatchEvent(new DragEvent(type, { bubbles: true, cancelable: true, dataTransfer: data }));
        }
    }, { selector, encoded });
    await page.waitForFunction((old) => document.querySelector('#message').textContent !== old, before);
    return page.textContent('#message');
}

// Waits until every clip's sizes and waveform are in.
export async function scanned(page) {
    await page.waitForSelector('#archive[data-scanned="true"]', { state: 'attached' });
}

// axe-core's WCAG 2 A and AA rules on the page as it is.
export async function axeViolations(page) {
    await page.addScriptTag({ path: join(root, 'web/node_modules/axe-core/axe.min.js') });
    const result = await page.evaluate(() => axe.run(document, { runOnly: ['wcag2a', 'wcag2aa'] }));
    return result.violations.map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target).join(' ')}`);
}

export async function download(page, click) {
    const [saved] = await Promise.all([page.waitForEvent('download'), click()]);
    return { name: saved.suggestedFilename(), bytes: readFileSync(await saved.path()) };
}

// Runs a native program in `dir`; returns what it printed.
export function run(dir, program, ...args) {
    return execFileSync(join(buildDir, program), args, { cwd: dir, encoding: 'utf8', maxBuffer: 1 << 26 });
}

// The demo archive and the WAV files Pev2wav writes for it, in a scratch
// folder.
export function nativeDemo() {
    const dir = scratch();
    copyFileSync(demo, join(dir, 'demo.pev'));
    run(dir, 'Pev2wav', 'demo');
    return { dir, wav: (position) => readFileSync(join(dir, `demo_000${position}.wav`)) };
}

// A canonical WAV file; `frames` holds one value per sample and channel.
export function wavFile({ rate = 22050, channels = 1, bits = 16, frames }) {
    const bytesPerSample = bits / 8;
    const data = Buffer.alloc(frames.length * bytesPerSample);
    frames.forEach((value, i) => (bits === 16 ? data.writeInt16LE(value, i * 2) : data.writeUInt8(value & 0xff, i)));
    const header = Buffer.alloc(44);
    header.write('RIFF', 0);
    header.writeUInt32LE(36 + data.length, 4);
    header.write('WAVEfmt ', 8);
    header.writeUInt32LE(16, 16);
    header.writeUInt16LE(1, 20);
    header.writeUInt16LE(channels, 22);
    header.writeUInt32LE(rate, 24);
    header.writeUInt32LE(rate * channels * bytesPerSample, 28);
    header.writeUInt16LE(channels * bytesPerSample, 32);
    header.writeUInt16LE(bits, 34);
    header.write('data', 36);
    header.writeUInt32LE(data.length, 40);
    return Buffer.concat([header, data]);
}

// An archive of `count` clips packed by Wav2pev from WAV files made here
// (clip n has 1000 + 37 n % 3000 samples of a warbling tone); returns its
// folder.
export function packedArchive(name, count) {
    const dir = scratch();
    const names = [];
    for (let n = 1; n <= count; ++n) {
        const frames = Array.from({ length: 1000 + ((37 * n) % 3000) },
            (_, i) => Math.round(14000 * Math.sin(i / 2) * Math.abs(Math.sin(i / (200 + (n % 300)) + n))));
        names.push(`in_${n}.wav`);
        writeFileSync(join(dir, names.at(-1)), wavFile({ frames }));
    }
    run(dir, 'Wav2pev', name, ...names);
    return dir;
}

export function tone(length) {
    return Array.from({ length }, (_, i) => Math.round(12000 * Math.sin(i / 9) * Math.sin(i / 2000)));
}

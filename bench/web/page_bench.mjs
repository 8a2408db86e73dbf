// The web page with big archives, in headless Chromium: how soon the table
// shows, the longest main-thread task (Long Tasks API) while opening,
// scrolling end to end, filtering and playing, the renderer's memory growth
// over the empty page, Download all, and replacing one clip (time, and the
// renderer's peak growth meanwhile).
//
//   node bench/web/page_bench.mjs [PAGE_DIR]     (default build-wasm/web)
//   node bench/web/page_bench.mjs --prepare      only pack the archives
//   node bench/web/page_bench.mjs --no-use DIR   no scrolling, filtering or
//                                                playing (for older pages,
//                                                which take minutes to scroll)
//
// Needs build/Pev2wav and build/Wav2pev (the archives are packed from the
// demo's speech, cut to lengths that give the sizes below) and web's npm
// packages. The archives are kept in $PEV_BENCH_DIR (default
// /tmp/pev-web-bench) for the next run. Prints one table; the figures vary
// from run to run on a shared machine, so run it more than once.

import { mkdirSync, readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { archive, root, wav, work } from './archives.mjs';

const { chromium } = await import(join(root, 'web/node_modules/playwright-core/index.mjs'));
const options = process.argv.slice(2).filter((arg) => arg.startsWith('--'));
const [pageArg] = process.argv.slice(2).filter((arg) => !arg.startsWith('--'));
const prepareOnly = options.includes('--prepare');
const noUse = options.includes('--no-use');
const pageDir = resolve(pageArg ?? join(root, 'build-wasm/web'));

// ------------------------------------------------------------ measuring

// The resident memory of the browser's renderer processes (the page and its
// worker), in bytes.
function rendererMemory(profile) {
    let total = 0;
    for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
        try {
            const command = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
            if (command.includes('--type=renderer') && command.includes(profile)) {
                const rss = /VmRSS:\s+(\d+) kB/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'));
                total += Number(rss?.[1] ?? 0) * 1024;
            }
        } catch {
            // gone meanwhile
        }
    }
    return total;
}

// Samples the renderer's memory every 50 ms while `work` runs; returns its
// result and the highest memory seen.
async function watching(profile, work) {
    let peak = rendererMemory(profile);
    const timer = setInterval(() => (peak = Math.max(peak, rendererMemory(profile))), 50);
    try {
        const result = await work();
        return { result, peak: Math.max(peak, rendererMemory(profile)) };
    } finally {
        clearInterval(timer);
    }
}

async function launch() {
    const profile = join(work, `profile-${process.pid}-${Date.now()}`);
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        acceptDownloads: true,
        viewport: { width: 1280, height: 800 },
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
    });
    await context.addInitScript(() => {
        delete window.showSaveFilePicker;
        window.longest = 0; // the longest task since the last look
        new PerformanceObserver((list) => {
            for (const entry of list.getEntries()) {
                window.longest = Math.max(window.longest, entry.duration);
            }
        }).observe({ type: 'longtask', buffered: true });
        // When a file was chosen, and when the first row of its table showed.
        document.addEventListener('change', () => (window.fileChosen = performance.now()), true);
        new MutationObserver(() => {
            if (window.fileChosen && !window.tableShown && document.querySelector('#clips tbody tr[data-position]')) {
                window.tableShown = performance.now();
            }
        }).observe(document, { childList: true, subtree: true });
    });
    const page = await context.newPage();
    page.on('dialog', (dialog) => dialog.accept());
    await page.goto(`file://${pageDir}/index.html`);
    await page.waitForSelector('html[data-engine]');
    await page.waitForTimeout(500);
    return { context, page, profile, empty: rendererMemory(profile) };
}

const longest = (page) => page.evaluate(() => {
    const value = window.longest;
    window.longest = 0;
    return value;
});

// Opened, and every clip's row filled in (the page before the virtual
// table said "Opened" only once it had read every clip).
const settled = (page) => page.waitForFunction(() => {
    const scanned = document.querySelector('#archive')?.dataset.scanned;
    return scanned ? scanned === 'true' : /^Opened/.test(document.querySelector('#message').textContent);
}, null, { timeout: 600_000, polling: 100 });

async function scrollEndToEnd(page) {
    await page.evaluate(async () => {
        const scroller = document.querySelector('#scroller') ?? document.scrollingElement;
        const frame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
        // A page down at a time, as a keyboard user would go.
        const step = scroller === document.scrollingElement ? innerHeight : scroller.clientHeight;
        for (let y = 0; y < scroller.scrollHeight; y += step) {
            scroller.scrollTop = y;
            await frame();
        }
        scroller.scrollTop = 0;
        await frame();
    });
}

async function filterAndPlay(page) {
    await page.click('#filter');
    await page.keyboard.type('1-5000', { delay: 60 });
    await page.fill('#filter', '');
    await page.keyboard.type('id:2', { delay: 60 });
    await page.fill('#filter', '');
    await page.waitForTimeout(200);
    for (const position of [1, 2, 3]) {
        await page.click(`tr[data-position="${position}"] button.play`);
        await page.waitForTimeout(300);
    }
    await page.click('tr[data-position="3"] button.play');
}

const MB = 1e6;
const seconds = (ms) => `${(ms / 1000).toFixed(2)} s`;
const megabytes = (bytes) => `${Math.round(bytes / MB)} MB`;

async function openAndUse(path, { zip = false, replace = false, use = true }) {
    const { context, page, profile, empty } = await launch();
    const figures = { archive: `${path.split('/').pop()} (${megabytes(statSync(path).size)})` };
    try {
        figures.longLoad = `${Math.round(await longest(page))} ms`;
        const opened = await watching(profile, async () => {
            await page.setInputFiles('#archive-input', path);
            await page.waitForFunction(() => window.tableShown, null, { timeout: 600_000 });
            figures.table = seconds(await page.evaluate(() => window.tableShown - window.fileChosen));
            await settled(page);
            figures.filled = seconds(await page.evaluate(() => performance.now() - window.fileChosen));
        });
        figures.longOpen = `${Math.round(await longest(page))} ms`;
        if (use && !noUse) {
            await scrollEndToEnd(page);
            figures.longScroll = `${Math.round(await longest(page))} ms`;
            await filterAndPlay(page);
            figures.longFilterPlay = `${Math.round(await longest(page))} ms`;
        }
        await page.waitForTimeout(2000);
        figures.growth = `${megabytes(opened.peak - empty)} (${megabytes(rendererMemory(profile) - empty)})`;
        if (zip) {
            const zipped = await watching(profile, async () => {
                const started = Date.now();
                const [download] = await Promise.all([page.waitForEvent('download', { timeout: 1_200_000 }), page.click('#download-all')]);
                const file = await download.path();
                const took = Date.now() - started;
                const size = statSync(file).size;
                rmSync(file);
                return { took, size };
            });
            figures.zip = `${seconds(zipped.result.took)}, ${megabytes(zipped.result.size)}, growth ${megabytes(zipped.peak - empty)}`;
        }
        if (replace) {
            const samples = new Int16Array(90000).map((_, i) => Math.round(8000 * Math.sin(i / 7)));
            const replaced = await watching(profile, () => page.evaluate(async (bytes) => {
                const data = new DataTransfer();
                data.items.add(new File([new Uint8Array(bytes)], 'new.wav'));
                const row = document.querySelector('tr[data-position="1"]');
                const started = performance.now();
                for (const type of ['dragenter', 'dragover', 'drop']) {
                    row.dispatchEvent(new DragEvent(type, { bubbles: true, cancelable: true, dataTransfer: data }));
                }
                await new Promise((resolve) => {
                    const check = () => (/now holds|not replaced|Nothing|memory/.test(document.querySelector('#message').textContent) ? resolve() : setTimeout(check, 5));
                    check();
                });
                return [performance.now() - started, /now holds/.test(document.querySelector('#message').textContent)];
            }, [...wav(samples)]));
            const [took, done] = replaced.result;
            figures.replace = `${done ? '' : 'refused, '}${seconds(took)}, growth ${megabytes(replaced.peak - empty)}`;
        }
    } finally {
        await context.close();
        rmSync(profile, { recursive: true, force: true });
    }
    return figures;
}

mkdirSync(work, { recursive: true });
const small = archive('a9999-small', 9999, 6400);
const mid = archive('a2000', 2000, 94000);
const large = archive('a9999-large', 9999, 94000);
if (prepareOnly) {
    process.exit(0);
}
const columns = {
    archive: 'archive', table: 'table shown', filled: 'rows filled', longLoad: 'longest task: page load', longOpen: 'open',
    longScroll: 'scroll', longFilterPlay: 'filter+play', growth: 'renderer growth: peak opening (after use)', zip: 'Download all', replace: 'replace one clip',
};
console.log(`| ${Object.values(columns).join(' | ')} |`);
console.log(`|${Object.keys(columns).map(() => '---').join('|')}|`);
for (const [path, how] of [[small, {}], [mid, { replace: true }], [large, { zip: true, replace: true, use: false }]]) {
    const row = await openAndUse(path, how);
    console.log(`| ${Object.keys(columns).map((key) => row[key] ?? '–').join(' | ')} |`);
}

// Where the page's long tasks go: opens an archive in headless Chromium
// under the browser's tracing, scrolls it end to end, types in the filter
// and plays three clips, then prints for each phase the longest main-thread
// task in wall time and in the thread's own CPU time, and what the tasks
// over 50 ms spent their time in. A task much longer in wall time than in
// CPU time waited for a core (other programs ran), it did not work.
//
//   node bench/web/page_trace.mjs [ARCHIVE] [PAGE_DIR]
//     (default: page_bench's 9999-clip 44 MB archive, build-wasm/web)

import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = resolve(fileURLToPath(import.meta.url), '../../..');
const { chromium } = await import(join(root, 'web/node_modules/playwright-core/index.mjs'));
const archive = resolve(process.argv[2] ?? join(process.env.PEV_BENCH_DIR ?? join(tmpdir(), 'pev-web-bench'), 'a9999-small.pev'));
const pageDir = resolve(process.argv[3] ?? join(root, 'build-wasm/web'));
const work = mkdtempSync(join(tmpdir(), 'pev-trace-'));
const tracePath = join(work, 'trace.json');

const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'],
});
const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
const mark = (name) => page.evaluate((name) => performance.mark(name), name);
await browser.startTracing(page, { path: tracePath, categories: ['devtools.timeline', 'disabled-by-default-devtools.timeline', 'blink.user_timing'] });
await page.goto(`file://${pageDir}/index.html`);
await page.waitForSelector('html[data-engine]');
await page.waitForTimeout(300);
await mark('open');
await page.setInputFiles('#archive-input', archive);
await page.waitForSelector('#archive[data-scanned="true"]', { state: 'attached', timeout: 600_000 });
await mark('scroll');
await page.evaluate(async () => {
    const scroller = document.querySelector('#scroller');
    const frame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
    for (let y = 0; y < scroller.scrollHeight; y += scroller.clientHeight) {
        scroller.scrollTop = y;
        await frame();
    }
});
await mark('filter+play');
await page.click('#filter');
await page.keyboard.type('1-5000', { delay: 60 });
await page.fill('#filter', '');
for (const position of [1, 2, 3]) {
    await page.click(`tr[data-position="${position}"] button.play`);
    await page.waitForTimeout(300);
}
await browser.stopTracing();
await browser.close();

const events = JSON.parse(readFileSync(tracePath, 'utf8')).traceEvents;
rmSync(work, { recursive: true });
const threadNames = new Map(events.filter((e) => e.name === 'thread_name').map((e) => [`${e.pid}:${e.tid}`, e.args.name]));
const onMain = (e) => threadNames.get(`${e.pid}:${e.tid}`) === 'CrRendererMain';
const marks = events.filter((e) => e.cat?.includes('blink.user_timing') && ['open', 'scroll', 'filter+play'].includes(e.name))
    .map((e) => [e.name, e.ts]).sort((a, b) => a[1] - b[1]);
const phaseOf = (ts) => marks.filter(([, at]) => at <= ts).at(-1)?.[0] ?? 'load';
const ms = (us) => `${Math.round(us / 1000)} ms`;
const phases = new Map();
for (const task of events.filter((e) => onMain(e) && e.ph === 'X' && e.name === 'RunTask')) {
    const phase = phases.get(phaseOf(task.ts)) ?? { wall: 0, cpu: 0, long: [] };
    phases.set(phaseOf(task.ts), phase);
    phase.wall = Math.max(phase.wall, task.dur);
    phase.cpu = Math.max(phase.cpu, task.tdur ?? 0);
    if (task.dur > 50_000) {
        const spent = new Map();
        for (const e of events) {
            if (e !== task && e.pid === task.pid && e.tid === task.tid && e.ph === 'X' && e.ts >= task.ts && e.ts + e.dur <= task.ts + task.dur && e.dur > 2000) {
                spent.set(e.name, (spent.get(e.name) ?? 0) + e.dur);
            }
        }
        const top = [...spent].sort((a, b) => b[1] - a[1]).slice(0, 4).map(([name, us]) => `${name} ${ms(us)}`);
        phase.long.push(`${ms(task.dur)} (CPU ${ms(task.tdur ?? 0)}): ${top.join(', ')}`);
    }
}
for (const [name, phase] of phases) {
    console.log(`${name}: longest task ${ms(phase.wall)}, longest CPU ${ms(phase.cpu)}`);
    phase.long.forEach((line) => console.log(`  over 50 ms: ${line}`));
}

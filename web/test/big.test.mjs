// An archive of 9999 clips, the most there can be, packed by Wav2pev: the
// table has rows for the clips in view only, and the right ones after
// scrolling and sorting; the clips saved, alone or zipped, are Pev2wav's.

import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { unzipSync } from 'fflate';
import * as t from './support.mjs';

const COUNT = 9999;
let context;
let page;
let dir;

before(async () => {
    dir = t.packedArchive('big', COUNT);
    t.run(dir, 'Pev2wav', 'big');
    context = await t.launch();
    page = await t.openPage(context);
});
after(async () => {
    await context?.close();
    rmSync(dir, { recursive: true, force: true }); // some 20000 files
});

const positions = () => page.$$eval('#clips tbody tr[data-position]', (rows) => rows.map((row) => Number(row.dataset.position)));
const nativeWav = (position) => readFileSync(join(dir, `big_${String(position).padStart(4, '0')}.wav`));

test('shows rows for the clips in view only, the right ones after scrolling and sorting', async () => {
    assert.equal(await t.openArchive(page, join(dir, 'big.pev')), 'Opened “big.pev”.');
    await t.scanned(page);
    const top = await positions();
    assert.ok(top.length > 5 && top.length < 60, `${top.length} rows`);
    assert.deepEqual(top, top.map((_, i) => i + 1));
    if (process.env.PEV_WEB_SCREENSHOT) {
        await page.setViewportSize({ width: 1100, height: 860 });
        await page.$eval('#archive', (archive) => archive.scrollIntoView());
        await page.screenshot({ path: process.env.PEV_WEB_SCREENSHOT });
        await page.setViewportSize({ width: 960, height: 640 });
    }

    await page.$eval('#scroller', (scroller) => (scroller.scrollTop = scroller.scrollHeight));
    await page.waitForSelector(`tr[data-position="${COUNT}"]`);
    const end = await positions();
    assert.deepEqual(end, end.map((_, i) => COUNT - end.length + 1 + i));

    // Longest first: the samples column never grows going down.
    await page.click('th[data-key="samples"] button');
    await page.click('th[data-key="samples"] button');
    const samples = await page.$$eval('#clips tbody tr[data-position] td:nth-child(4)', (cells) => cells.map((c) => Number(c.textContent)));
    assert.equal(samples[0], 4000); // 3999, and one more for its odd length
    assert.deepEqual(samples, [...samples].sort((a, b) => b - a));
    await page.click('th[data-key="position"] button');
    assert.deepEqual(page.errors, []);
});

test('saves the last clip, and every clip as a streamed ZIP, as Pev2wav writes them', async () => {
    await page.fill('#filter', String(COUNT));
    const last = await t.download(page, () => page.click(`tr[data-position="${COUNT}"] button.download`));
    assert.ok(last.bytes.equals(nativeWav(COUNT)));
    await page.fill('#filter', '');

    const zip = await t.download(page, () => page.click('#download-all'));
    const files = unzipSync(zip.bytes);
    assert.equal(Object.keys(files).length, COUNT);
    for (let position = 1; position <= COUNT; ++position) {
        const name = `big_${String(position).padStart(4, '0')}.wav`;
        assert.ok(files[name]?.length && nativeWav(position).equals(files[name]), name);
    }
});

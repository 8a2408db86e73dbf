// The page's loudness against pev's, the same code compiled for each: every
// clip's loudness as `pev list --loudness` measures it, and a recording
// matched to the clip it replaces into the very archive `pev replace
// --match-loudness` writes.

import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import * as t from './support.mjs';

let context;
let page;
let native;
// A sixth of the tone's level, and of odd length.
const quiet = t.wavFile({ frames: t.tone(40001).map((value) => Math.round(value / 6)) });

before(async () => {
    native = t.nativeDemo();
    writeFileSync(join(native.dir, 'quiet.wav'), quiet);
    context = await t.launch();
    page = await t.openPage(context);
});
after(() => context?.close());

const measured = () => page.waitForSelector('#archive[data-measured="true"]', { state: 'attached' });
const loudnessCells = () =>
    page.$$eval('#clips tbody tr[data-position] td.loudness', (cells) => cells.map((cell) => cell.textContent));
const shown = (lufs) => (lufs === null ? '—' : lufs.toFixed(1).replace('-', '−'));

test('shows each clip\'s loudness once measured, as pev list --loudness measures it, and sorts by it', async () => {
    assert.equal(await t.openArchive(page, t.demo), 'Opened “demo.pev”.');
    await measured();
    const listed = JSON.parse(t.run(native.dir, 'pev', 'list', '--json', '--loudness', 'demo.pev'));
    const expected = listed.clips.map((clip) => shown(clip.loudness_lufs));
    assert.deepEqual(await loudnessCells(), expected);
    assert.ok(expected.every((text) => /^−\d+\.\d$/.test(text)), 'the demo\'s clips all have a loudness');

    await page.click('th[data-key="loudness"] button');
    const positions = await page.$$eval('#clips tbody tr[data-position]', (rows) => rows.map((row) => Number(row.dataset.position)));
    const byLoudness = listed.clips.map((clip) => clip).sort((a, b) => a.loudness_lufs - b.loudness_lufs).map((clip) => clip.position);
    assert.deepEqual(positions, byLoudness);
    await page.click('th[data-key="position"] button');
});

test('matches a dropped recording to the loudness of the clip it replaces, as pev replace --match-loudness does', async () => {
    assert.ok(await page.isEnabled('#match-loudness'));
    assert.equal(await page.textContent('#match-loudness-note'), '');
    const [, clipLoudness] = await loudnessCells();
    await page.check('#match-loudness');
    const message = await t.drop(page, 'tr[data-position="2"]', 'quiet.wav', quiet);
    assert.match(message, / Clip 2: loudness matched: \+\d+\.\d dB to −\d+\.\d LUFS\./);
    assert.match(await page.locator('tr[data-position="2"] .note').textContent(), /loudness matched/);
    await measured();
    assert.equal((await loudnessCells())[1], clipLoudness);

    const saved = await t.download(page, () => page.click('#download-archive'));
    const said = t.run(native.dir, 'pev', 'replace', 'demo.pev', '2=quiet.wav', '--match-loudness', '-o', 'matched');
    assert.match(said, /gain \+\d+\.\d dB to -\d+\.\d LUFS/);
    assert.ok(saved.bytes.equals(readFileSync(join(native.dir, 'matched.pev'))), 'the archive pev replace writes');

    // Unchecked, a recording is taken at its own level again.
    await page.uncheck('#match-loudness');
    const plain = await t.drop(page, 'tr[data-position="2"]', 'quiet.wav', quiet);
    assert.doesNotMatch(plain, /loudness/);
    assert.deepEqual(page.errors, []);
});

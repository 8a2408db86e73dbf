// The page in headless Chromium, opened from disk, against the native
// programs: the same clips, the same WAV bytes, the same packed archive.

import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { unzipSync } from 'fflate';
import * as t from './support.mjs';

let context;
let page;
let native;
const replacement = t.wavFile({ frames: t.tone(30001) }); // odd length: the packer adds a sample

before(async () => {
    native = t.nativeDemo();
    writeFileSync(join(native.dir, 'new.wav'), replacement);
    context = await t.launch();
    page = await t.openPage(context);
});
after(() => context?.close());

const rowText = (position) => page.locator(`#clips tbody tr[data-position="${position}"]`);
const visiblePositions = () =>
    page.$$eval('#clips tbody tr:not([hidden])', (rows) => rows.map((row) => Number(row.dataset.position)));

test('opens the demo archive from disk in a worker and lists its clips as the packer counts them', async () => {
    assert.equal(await t.openArchive(page, t.demo), 'Opened “demo.pev”.');
    assert.equal(await page.getAttribute('html', 'data-engine'), 'worker');
    // The packer's own count of each clip, packing Pev2wav's files again.
    const packed = t.run(native.dir, 'Wav2pev', '--like', 'demo.pev', 'again', ...[1, 2, 3].map((n) => `demo_000${n}.wav`));
    const expected = [...packed.matchAll(/\((\d+) samples, \d+ blocks: (\d+) silent, (\d+) raw, (\d+) delta/g)];
    assert.equal(expected.length, 3);
    const archive = readFileSync(t.demo);
    for (const [i, [, samples, silent, raw, delta]] of expected.entries()) {
        const cells = await rowText(i + 1).locator('td').allInnerTexts();
        const id = archive.readUInt16LE(32 + 8 * i);
        const seconds = `${(samples / 22050).toFixed(3)} s`;
        assert.deepEqual(cells.slice(0, 5), [`000${i + 1}`, `${id}`, seconds, samples, `${silent} / ${raw} / ${delta}`]);
    }
    assert.match(await page.textContent('#summary'), /^3 clips · 22050 Hz · 15\.704 s · 233360 bytes/);
    await page.waitForFunction(() => document.querySelectorAll('canvas[data-drawn]').length === 3);
    await page.screenshot({ path: process.env.PEV_WEB_SCREENSHOT || join(t.scratch(), 'page.png') });
});

test('filters the table by position or id', async () => {
    for (const [filter, positions] of [['3', [3]], ['0', [1]], ['2', [2, 3]], ['1-2', [1, 2, 3]], ['', [1, 2, 3]]]) {
        await page.fill('#filter', filter);
        assert.deepEqual(await visiblePositions(), positions, `filter "${filter}"`);
    }
    await page.fill('#filter', 'abc');
    assert.deepEqual(await visiblePositions(), [1, 2, 3]);
    assert.match(await page.textContent('#shown'), /Type positions or ids/);
    await page.fill('#filter', '');
});

test('plays a clip and stops it, by keyboard, without errors', async () => {
    const play = rowText(2).locator('button.play');
    await play.focus();
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.querySelector('tr[data-position="2"] .play').ariaPressed === 'true');
    assert.equal(await page.evaluate(() => audio.state), 'running');
    await page.keyboard.press('Enter');
    assert.equal(await play.getAttribute('aria-pressed'), 'false');
    assert.deepEqual(page.errors, []);
});

test('downloads a clip and every clip as a ZIP, byte for byte as Pev2wav writes them', async () => {
    const wav = await t.download(page, () => rowText(2).locator('button.download').click());
    assert.equal(wav.name, 'demo_0002.wav');
    assert.ok(wav.bytes.equals(native.wav(2)));

    // Every value the progress bar takes on the way.
    await page.evaluate(() => {
        window.progressSeen = [];
        new MutationObserver(() => progressSeen.push(`${progress.value}/${progress.max}`)).observe(
            document.querySelector('#progress'), { attributes: true });
    });
    const zip = await t.download(page, () => page.click('#download-all'));
    assert.equal(zip.name, 'demo.zip');
    const files = unzipSync(zip.bytes);
    assert.deepEqual(Object.keys(files), ['demo_0001.wav', 'demo_0002.wav', 'demo_0003.wav']);
    for (const [n, name] of Object.keys(files).entries()) {
        assert.ok(native.wav(n + 1).equals(files[name]), name);
    }
    assert.ok((await page.evaluate(() => progressSeen)).includes('3/3'));
    await page.waitForSelector('#progress-area', { state: 'hidden' });
    assert.equal(await page.textContent('#message'), 'Saved demo.zip: 3 WAV files.');
});

test('refuses WAV files the packer refuses, saying why, and leaves the archive as it was', async () => {
    const cases = [
        [{ channels: 2, frames: t.tone(2000) }, 'it is 16-bit stereo PCM; only 16-bit mono PCM can be packed'],
        [{ bits: 8, frames: t.tone(1000) }, 'it is 8-bit mono PCM; only 16-bit mono PCM can be packed'],
        [{ rate: 44100, frames: t.tone(1000) }, "its sample rate is 44100 Hz, but the archive's clips are at 22050 Hz"],
    ];
    for (const [format, reason] of cases) {
        const message = await t.drop(page, 'tr[data-position="2"]', 'odd.wav', t.wavFile(format));
        assert.equal(message, `Clip 2 was not replaced by “odd.wav”: ${reason}.`);
    }
    const notWav = await t.drop(page, 'tr[data-position="1"]', 'notes.txt', Buffer.from('just text'));
    assert.match(notWav, /^Clip 1 was not replaced by “notes.txt”: it is not a RIFF file/);
    assert.equal(await rowText(2).locator('td').nth(3).innerText(), '103248');
    assert.ok(await page.isDisabled('#download-archive'));
});

test('replaces a clip by a dropped WAV file and saves the archive Wav2pev --like packs', async () => {
    const message = await t.drop(page, 'tr[data-position="2"]', 'new.wav', replacement);
    assert.match(message, /^Clip 2 now holds “new.wav”\./);
    // An odd length gets one more sample, as the packer does.
    assert.equal(await rowText(2).locator('td').nth(3).innerText(), '30002');

    const saved = await t.download(page, () => page.click('#download-archive'));
    assert.equal(saved.name, 'demo.pev');
    t.run(native.dir, 'Wav2pev', '--like', 'demo.pev', 'packed', 'demo_0001.wav', 'new.wav', 'demo_0003.wav');
    assert.ok(saved.bytes.equals(readFileSync(join(native.dir, 'packed.pev'))));
    assert.deepEqual(page.errors, []);
});

test('opens a damaged archive with the sound clips usable, and refuses files that are no archives', async () => {
    const demoBytes = readFileSync(t.demo);
    const cut = await t.drop(page, 'main', 'cut.pev', demoBytes.subarray(0, 200000));
    assert.equal(cut, 'Opened “cut.pev”, which is damaged: 1 clip cannot be decoded (marked below); the others can be used.');
    assert.match(await rowText(3).innerText(), /Cannot be decoded: its stored bytes/);
    assert.ok(await rowText(3).locator('button.play').isDisabled());
    const first = await t.download(page, () => rowText(1).locator('button.download').click());
    assert.ok(first.bytes.equals(native.wav(1)));
    const zip = await t.download(page, () => page.click('#download-all'));
    assert.deepEqual(Object.keys(unzipSync(zip.bytes)), ['cut_0001.wav', 'cut_0002.wav']);
    assert.match(await page.textContent('#message'), /left out 1 clip that cannot be decoded: 3\.$/);

    // Replacing the clip that cannot be decoded repairs the archive.
    writeFileSync(join(native.dir, 'cut.pev'), demoBytes.subarray(0, 200000));
    assert.match(await t.drop(page, 'tr[data-position="3"]', 'new.wav', replacement), /now holds/);
    const repaired = await t.download(page, () => page.click('#download-archive'));
    t.run(native.dir, 'Wav2pev', '--like', 'cut.pev', 'repaired', 'demo_0001.wav', 'demo_0002.wav', 'new.wav');
    assert.ok(repaired.bytes.equals(readFileSync(join(native.dir, 'repaired.pev'))));

    const refused = [
        ['table.pev', demoBytes.subarray(0, 40), '“table.pev” is damaged: the file ends inside its table of clips'],
        ['photo.png', Buffer.from('\x89PNG\r\n\x1a\n not a voice archive'), '“photo.png” is not a voice archive'],
        ['empty.pev', Buffer.alloc(0), '“empty.pev” is not a voice archive'],
    ];
    for (const [name, bytes, message] of refused) {
        assert.ok((await t.drop(page, 'main', name, bytes)).startsWith(message), name);
        assert.equal(await page.getAttribute('#message', 'role'), 'alert');
    }
    // The archive open before stays open.
    assert.equal(await page.textContent('#archive-name'), 'cut.pev');
});

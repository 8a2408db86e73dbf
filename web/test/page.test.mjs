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
    page.$$eval('#clips tbody tr[data-position]', (rows) => rows.map((row) => Number(row.dataset.position)));

test('opens the demo archive from disk in a worker and lists its clips as the packer counts them', async () => {
    assert.equal(await t.openArchive(page, t.demo), 'Opened “demo.pev”.');
    assert.equal(await page.getAttribute('html', 'data-engine'), 'worker');
    await t.scanned(page);
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
});

test('filters the table by position, or by id when asked, and sorts it by any column', async () => {
    // The demo's ids are 0, 1, 2.
    const cases = [['3', [3]], ['2', [2]], ['1-2', [1, 2]], ['id:2', [3]], ['ID: 0-1', [1, 2]], ['', [1, 2, 3]], ['abc', [1, 2, 3]]];
    for (const [filter, positions] of cases) {
        await page.fill('#filter', filter);
        assert.deepEqual(await visiblePositions(), positions, `filter "${filter}"`);
        assert.equal(await page.textContent('#download-all'), positions.length < 3 ? 'Download shown (ZIP)' : 'Download all (ZIP)');
    }
    await page.fill('#filter', '2-3');
    const shown = await t.download(page, () => page.click('#download-all'));
    assert.deepEqual(Object.keys(unzipSync(shown.bytes)), ['demo_0002.wav', 'demo_0003.wav']);
    await page.fill('#filter', '');
    for (const [column, clicks, positions] of [['duration', 1, [2, 1, 3]], ['duration', 1, [3, 1, 2]], ['position', 1, [1, 2, 3]]]) {
        for (let i = 0; i < clicks; ++i) {
            await page.click(`th[data-key="${column}"] button`);
        }
        assert.deepEqual(await visiblePositions(), positions, column);
    }
});

test('plays a clip and stops it by keyboard, moving between clips with the arrows', async () => {
    await rowText(1).locator('canvas').focus();
    await page.keyboard.press('ArrowDown');
    assert.equal(await page.evaluate(() => document.activeElement.closest('tr').dataset.position), '2');
    await page.keyboard.press(' ');
    const play = rowText(2).locator('button.play');
    await page.waitForFunction(() => document.querySelector('tr[data-position="2"] .play').ariaPressed === 'true');
    assert.equal(await play.getAttribute('aria-label'), 'Stop clip 2');
    assert.equal(await page.evaluate(() => player.paused), false);
    await page.keyboard.press(' ');
    assert.equal(await play.getAttribute('aria-label'), 'Play clip 2');

    // A click three quarters along the waveform plays from there (4.682 s long).
    const wave = rowText(2).locator('canvas');
    const { width } = await wave.boundingBox();
    await wave.click({ position: { x: width * 0.75, y: 10 } });
    await page.waitForFunction(() => !player.paused && player.currentTime > 0);
    const at = await page.evaluate(() => player.currentTime);
    assert.ok(at >= 3.4 && at < 4.3, `playing from ${at} s`);
    await play.click();
    assert.equal(await page.evaluate(() => player.paused), true);
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
    assert.equal(await page.evaluate(() => document.activeElement.id), 'download-all');
    await page.waitForSelector('#progress-area', { state: 'hidden' });
    assert.equal(await page.textContent('#message'), 'Saved demo.zip: 3 WAV files.');
});

test('refuses a file that is no sound, at its row too, and leaves the archive as it was', async () => {
    const notWav = await t.drop(page, 'tr[data-position="1"]', 'notes.txt', Buffer.from('just text'));
    assert.match(notWav, /^Clip 1 was not replaced by “notes.txt”: it is not a RIFF file.*; nor can this browser decode it as sound\.$/);
    assert.match(await rowText(1).locator('.note').textContent(), /^Not replaced by “notes.txt”/);
    assert.equal(await rowText(2).locator('td').nth(3).innerText(), '103248');
    assert.ok(await page.isDisabled('#download-archive'));
});

test('replaces a clip by a dropped WAV file and saves the archive Wav2pev --like packs', async () => {
    const message = await t.drop(page, 'tr[data-position="2"]', 'new.wav', replacement);
    assert.equal(message, 'Clip 2 now holds “new.wav”. Packing re-quantises a clip to the archive\'s 256 levels. ' +
        'Use Download archive to save the new archive. Clip 2: 30001 samples + 1 sample repeating the last, for its odd length.');
    // An odd length gets one more sample, as the packer does.
    await t.scanned(page);
    assert.equal(await rowText(2).locator('td').nth(3).innerText(), '30002');
    assert.match(await page.textContent('#summary'), /changed, not saved yet$/);

    // Another archive, or leaving, would lose the change: the page asks.
    const dialogs = [];
    page.on('dialog', (dialog) => dialogs.push(dialog.type()) && dialog.dismiss());
    await page.setInputFiles('#archive-input', t.demo);
    await page.waitForFunction(() => /was not opened/.test(document.querySelector('#message').textContent));
    assert.deepEqual(dialogs, ['confirm']);
    const leaving = () => page.evaluate(() => !window.dispatchEvent(new Event('beforeunload', { cancelable: true })));
    assert.ok(await leaving(), 'leaving is questioned');

    const saved = await t.download(page, () => page.click('#download-archive'));
    assert.equal(saved.name, 'demo.pev');
    t.run(native.dir, 'Wav2pev', '--like', 'demo.pev', 'packed', 'demo_0001.wav', 'new.wav', 'demo_0003.wav');
    assert.ok(saved.bytes.equals(readFileSync(join(native.dir, 'packed.pev'))));
    assert.doesNotMatch(await page.textContent('#summary'), /not saved/);
    assert.ok(!(await leaving()), 'leaving a saved archive is not questioned');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'download-archive');
    page.removeAllListeners('dialog');
    assert.deepEqual(page.errors, []);
});

// Recordings the browser decodes: [file, bytes, what the row says, samples
// at 22050 Hz (low, high: the resampler may round the length, an MP3
// decoder adds its encoder's delay)].
const recordings = [
    ['phone.wav', t.wavFile({ rate: 48000, channels: 2, frames: t.tone(96000) }), '48 kHz 16-bit stereo WAV', 22050, 22050],
    ['tone.mp3', readFileSync(new URL('recordings/tone.mp3', import.meta.url)), 'stereo MP3', 11025, 13000],
    ['tone.flac', readFileSync(new URL('recordings/tone.flac', import.meta.url)), '48 kHz 16-bit mono FLAC', 6610, 6620],
];

test('converts recordings of other rates, channels and formats to the archive\'s rate in mono, packed as pev test accepts', async () => {
    for (const [name, bytes, from, low, high] of recordings) {
        writeFileSync(join(native.dir, name), bytes);
        const before = await page.textContent('#message');
        const [chooser] = await Promise.all([page.waitForEvent('filechooser'), rowText(3).locator('button.replace').click()]);
        await chooser.setFiles(join(native.dir, name));
        await page.waitForFunction((old) => document.querySelector('#message').textContent !== old, before);
        const message = await page.textContent('#message');
        // The row was made anew; the focus is on its Replace button again.
        assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Replace clip 3 with a recording');
        assert.ok(message.startsWith(`Clip 3 now holds “${name}”.`), message);
        assert.ok(message.includes(` Clip 3: ${from} → 22050 Hz mono.`), message);
        assert.ok((await rowText(3).locator('.note').textContent()).startsWith(`Now holds “${name}” (${from} → 22050 Hz mono`), name);
        await t.scanned(page);
        const samples = Number(await rowText(3).locator('td').nth(3).innerText());
        assert.ok(samples >= low && samples <= high, `${name}: ${samples} samples`);
        const saved = await t.download(page, () => page.click('#download-archive'));
        writeFileSync(join(native.dir, 'converted.pev'), saved.bytes);
        t.run(native.dir, 'pev', 'test', 'converted.pev');
    }
});

test('replaces the clips that several dropped files are named after, once confirmed', async () => {
    let asked = '';
    page.once('dialog', (dialog) => (asked = dialog.message()) && dialog.accept());
    const files = [['demo_0003.wav', replacement], ['demo_0001.wav', t.wavFile({ frames: t.tone(5000) })], ['readme.txt', Buffer.from('x')]];
    const message = await t.dropFiles(page, 'main', files);
    assert.match(message, /^Clips 1, 3 now hold the recordings dropped\./);
    assert.match(asked, /clip 1 ← demo_0001.wav\n.*clip 3 ← demo_0003.wav[^]*not named after a clip: readme.txt/);
    await t.scanned(page);
    assert.deepEqual(await page.$$eval('#clips tbody tr[data-position] td:nth-child(4)', (cells) => cells.map((c) => c.textContent)),
        ['5000', '30002', '30002']);
});

test('has no WCAG 2 A or AA violations that axe-core finds', async () => {
    assert.deepEqual(await t.axeViolations(page), []);
});

test('opens a damaged archive with the sound clips usable, and refuses files that are no archives', async () => {
    const demoBytes = readFileSync(t.demo);
    page.on('dialog', (dialog) => dialog.accept()); // the changes above are let go
    await t.drop(page, 'main', 'cut.pev', demoBytes.subarray(0, 200000));
    await page.waitForFunction(() => /damaged/.test(document.querySelector('#message').textContent));
    assert.equal(await page.textContent('#message'), 'Opened “cut.pev”, which is damaged: 1 clip cannot be decoded (marked in the table); the others can be used.');
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

    await t.scanned(page);

    // Every clip cut away: nothing to play, save or replace.
    await t.drop(page, 'main', 'stub.pev', demoBytes.subarray(0, 60));
    await page.waitForFunction(() => /none of its 3 clips/.test(document.querySelector('#message').textContent));
    assert.match(await page.textContent('#summary'), /no clip can be decoded/);
    assert.ok(await page.isDisabled('#download-all'));
    assert.ok(await rowText(1).locator('button.replace').isDisabled());

    const refused = [
        ['short.pev', Buffer.from('PEVPAC\0\0\0\0'), '“short.pev” is damaged: it ends inside its 32-byte header (10 bytes), so it was probably cut short.'],
        ['table.pev', demoBytes.subarray(0, 40), '“table.pev” is damaged: the file ends inside its table of clips'],
        ['photo.png', Buffer.from('\x89PNG\r\n\x1a\n not a voice archive'), '“photo.png” is not a voice archive'],
        ['empty.pev', Buffer.alloc(0), '“empty.pev” is not a voice archive'],
    ];
    for (const [name, bytes, message] of refused) {
        assert.ok((await t.drop(page, 'main', name, bytes)).startsWith(message), name);
        assert.equal(await page.getAttribute('#message', 'role'), 'alert');
    }
    // The archive open before stays open.
    assert.equal(await page.textContent('#archive-name'), 'stub.pev');
});

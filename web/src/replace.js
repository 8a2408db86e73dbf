// Replacing clips by recordings: read exactly as Wav2pev reads WAV files
// where it can, else decoded and converted by the browser; several at once
// by their names.

'use strict';

// ----------------------------------------------------------------- replace

// What a recording is, from its first bytes: the container, and for WAV and
// FLAC the rate and depth its header gives.
function sniff(bytes) {
    const head = new Uint8Array(bytes, 0, Math.min(64, bytes.byteLength));
    const tag = String.fromCharCode(...head.subarray(0, 4));
    const data = new DataView(bytes);
    if (tag === 'RIFF' && String.fromCharCode(...head.subarray(8, 12)) === 'WAVE') {
        // The fmt chunk usually comes first; its fields at fixed places then.
        const fmt = String.fromCharCode(...head.subarray(12, 16)) === 'fmt ' && bytes.byteLength >= 36;
        return { format: 'WAV', rate: fmt ? data.getUint32(24, true) : 0, bits: fmt ? data.getUint16(34, true) : 0 };
    }
    if (tag === 'fLaC' && bytes.byteLength >= 22) {
        return { format: 'FLAC', rate: (data.getUint32(18) >>> 12), bits: ((data.getUint8(20) & 1) << 4 | data.getUint8(21) >>> 4) + 1 };
    }
    if (tag === 'OggS') {
        return { format: 'Ogg', rate: 0, bits: 0 };
    }
    if (tag.startsWith('ID3') || (head[0] === 0xff && (head[1] & 0xe0) === 0xe0)) {
        return { format: 'MP3', rate: 0, bits: 0 };
    }
    return { format: 'recording', rate: 0, bits: 0 };
}

const kiloHertz = (rate) => `${Number((rate / 1000).toFixed(2))} kHz`;
const channelWord = (channels) => ({ 1: 'mono', 2: 'stereo' })[channels] ?? `${channels}-channel`;

// A recording the packer cannot take as it is, converted as the browser
// decodes it: resampled to the archive's rate by an OfflineAudioContext at
// that rate, mixed down to mono, and rounded to 16 bits.
async function convert(bytes, rate) {
    const kind = sniff(bytes);
    const decoded = await new OfflineAudioContext(1, 1, rate).decodeAudioData(bytes);
    const channels = decoded.numberOfChannels;
    const mixed = new Float32Array(decoded.length);
    for (let c = 0; c < channels; ++c) {
        const data = decoded.getChannelData(c);
        for (let i = 0; i < data.length; ++i) {
            mixed[i] += data[i] / channels;
        }
    }
    const samples = new Int16Array(mixed.length);
    for (let i = 0; i < mixed.length; ++i) {
        samples[i] = Math.max(-32768, Math.min(32767, Math.round(mixed[i] * 32768)));
    }
    const from = [kind.rate ? kiloHertz(kind.rate) : '', kind.bits ? `${kind.bits}-bit` : '', channelWord(channels), kind.format]
        .filter(Boolean).join(' ');
    return { samples, converted: `${from} → ${rate} Hz mono` };
}

// Reads each recording and makes it ready to pack: a 16-bit mono PCM WAV at
// the archive's rate as it is, anything else the browser can decode
// converted. Returns the clips ready and the reasons of those refused.
async function prepare(picks) {
    const ready = [];
    const refused = [];
    for (const { index, file } of picks) {
        const bytes = await file.arrayBuffer();
        const problem = await engine.call('wavProblem', { bytes, rate: state.rate });
        if (!problem) {
            ready.push({ index, name: file.name, bytes });
            continue;
        }
        try {
            const { samples, converted } = await convert(bytes, state.rate);
            ready.push({ index, name: file.name, samples, converted });
        } catch {
            refused.push({ index, name: file.name, reason: `${problem}; nor can this browser decode it as sound` });
        }
    }
    return { ready, refused };
}

// Replaces clips by recordings: picks is [{index, file}].
async function replaceClips(picks) {
    if (busy || !state || picks.length === 0) {
        return;
    }
    stopPlayback();
    const what = picks.length === 1 ? `“${picks[0].file.name}” as clip ${picks[0].index + 1}` : plural(picks.length, 'recording');
    const label = `Packing the archive with ${what}: clip`;
    await keepingFocus(async () => {
        setBusy(label);
        try {
            const { ready, refused } = await prepare(picks);
            for (const { index, name, reason } of refused) {
                state.notes.set(index, { text: `Not replaced by “${name}”: ${reason}.`, kind: 'error' });
            }
            const refusal = refused.map(({ index, name, reason }) => `Clip ${index + 1} was not replaced by “${name}”: ${reason}.`).join(' ');
            if (ready.length === 0) {
                refreshRows();
                say(refusal, 'error');
                return;
            }
            const match = ui.matchLoudness.checked && engine.measures;
            const table = await engine.call('replace', { generation: state.generation, clips: ready, match }, {
                onProgress: showProgress(label),
                transfer: ready.map((item) => (item.bytes ?? item.samples.buffer)),
            });
            const old = state;
            state = newState(table, old.name);
            state.changed = true;
            state.edited = true;
            const replaced = ready.map((item) => item.index);
            carryOver(old, replaced);
            for (const [index, note] of old.notes) {
                state.notes.set(index, note);
            }
            for (const { index, name, converted } of ready) {
                const notes = [converted, ...table.notes[index]].filter(Boolean);
                state.notes.set(index, { text: `Now holds “${name}”${notes.length ? ` (${notes.join('; ')})` : ''}.`, kind: 'info' });
            }
            forgetSounds();
            showSummary();
            arrange();
            scanArchive(replaced); // and measures them again
            const done = ready.length === 1
                ? `Clip ${ready[0].index + 1} now holds “${ready[0].name}”.`
                : `Clips ${ready.map((item) => item.index + 1).join(', ')} now hold the recordings dropped.`;
            const notes = ready.flatMap(({ index, converted }) => [converted, ...table.notes[index]].filter(Boolean).map((note) => ` Clip ${index + 1}: ${note}.`)).join('');
            say(`${done} Packing re-quantises a clip to the archive's 256 levels. Use Download archive to save the new archive.${notes}${refusal ? ` ${refusal}` : ''}`,
                refusal ? 'error' : 'info');
        } catch (error) {
            say(error.message, 'error');
        } finally {
            setBusy(null);
        }
    });
}

// "name_0002.wav", as Download all names the clips: position 2.
function positionNamed(fileName) {
    const match = /_(\d{4})\.[a-z0-9]+$/i.exec(fileName);
    const position = match ? Number(match[1]) : 0;
    return position >= 1 && position <= state.count ? position : 0;
}

// Several recordings at once: each replaces the clip its name points to,
// once the user has seen the list.
function replaceByNames(files) {
    const picks = [];
    const unknown = [];
    for (const file of files) {
        const position = positionNamed(file.name);
        if (position) {
            picks.push({ index: position - 1, file });
        } else {
            unknown.push(file.name);
        }
    }
    if (picks.length === 0) {
        say(`None of the files dropped is named after a clip (like ${state.base}_0002.wav), so nothing was replaced. To replace one clip, drop its recording on its row.`, 'error');
        return;
    }
    picks.sort((a, b) => a.index - b.index);
    const list = picks.map(({ index, file }) => `clip ${index + 1} ← ${file.name}`).join('\n');
    const ignored = unknown.length ? `\n\nLeft aside, not named after a clip: ${unknown.join(', ')}` : '';
    if (!confirm(`Replace ${plural(picks.length, 'clip')}?\n\n${list}${ignored}`)) {
        say('Nothing was replaced.');
        return;
    }
    replaceClips(picks);
}

// Saving: one clip as a WAV file, every clip (or those shown) as a ZIP file
// streamed to disk, and the archive after replacements.

/* global showSaveFilePicker */
'use strict';

// --------------------------------------------------------------- downloads

async function downloadClip(index) {
    try {
        const wav = await engine.call('clip', { generation: state.generation, index });
        save(new Blob([wav], { type: 'audio/wav' }), clipFileName(state.base, index + 1));
    } catch (error) {
        say(error.message, 'error');
    }
}

// Where a ZIP goes as it is made: a file the user picks, where the browser
// offers that, else pieces the browser keeps (on disk when they are large)
// until they are saved as one download.
async function zipSink(zipName) {
    if (window.showSaveFilePicker) {
        const handle = await showSaveFilePicker({
            suggestedName: zipName,
            types: [{ description: 'ZIP file', accept: { 'application/zip': ['.zip'] } }],
        });
        const writable = await handle.createWritable();
        return { take: (blob) => writable.write(blob), finish: () => writable.close(), abort: () => writable.abort() };
    }
    const pieces = [];
    return {
        take: (blob) => pieces.push(blob),
        finish: () => save(new Blob(pieces, { type: 'application/zip' }), zipName),
        abort: () => {},
    };
}

async function downloadAll() {
    const shown = Boolean(filterRanges());
    const indices = [...state.order].sort((a, b) => a - b);
    const zipName = `${state.base}.zip`;
    let sink;
    try {
        sink = await zipSink(zipName);
    } catch (error) {
        if (error.name !== 'AbortError') {
            say(error.message, 'error');
        }
        return;
    }
    const label = 'Zipping clip';
    await keepingFocus(async () => {
        setBusy(label);
        try {
            const progress = showProgress(label);
            let zipSeq = 0;
            const { skipped } = await engine.call('zip', { generation: state.generation, base: state.base, indices, time: Date.now() }, {
                onStart: (seq) => (zipSeq = seq),
                onProgress: async (done, total, piece) => {
                    if (piece instanceof Blob) {
                        await sink.take(piece);
                        engine.call('ack', { for: zipSeq });
                    } else {
                        progress(done, total);
                    }
                },
            });
            await sink.finish();
            const written = indices.length - skipped.length;
            const what = shown ? `${plural(written, 'WAV file')} of the clips shown` : plural(written, 'WAV file');
            say(skipped.length === 0
                ? `Saved ${zipName}: ${what}.`
                : `Saved ${zipName}: ${what}; left out ${plural(skipped.length, 'clip')} that cannot be decoded: ${skipped.join(', ')}.`,
            skipped.length === 0 ? 'info' : 'error');
        } catch (error) {
            await sink.abort();
            say(error.message, 'error');
        } finally {
            setBusy(null);
        }
    });
}

async function downloadArchive() {
    await keepingFocus(async () => {
        try {
            save(await engine.call('archive', { generation: state.generation }), state.name);
            state.changed = false;
            showSummary();
            updateControls();
            say(`Saved ${state.name}.`);
        } catch (error) {
            say(error.message, 'error');
        }
    });
}

// Listening: Play and Stop, a cursor that follows the sound, and seeking by
// clicking or dragging on a waveform.

'use strict';

// ---------------------------------------------------------------- playback

let audio = null;
let playing = null; // {index, source, from (seconds into the clip), started, duration}
const sounds = new Map(); // clip index -> AudioBuffer, the last few played
const SOUNDS_KEPT = 8;

function playedPart() {
    if (!playing) {
        return 0;
    }
    return Math.min(1, (playing.from + audio.currentTime - playing.started) / playing.duration);
}

function stopPlayback() {
    if (!playing) {
        return;
    }
    const { source, index } = playing;
    playing = null;
    source.onended = null;
    try {
        source.stop();
    } catch {
        // already ended
    }
    const row = made.get(index);
    if (row) {
        fillRow(row, index);
        drawWave(index);
    }
}

async function soundOf(index) {
    if (sounds.has(index)) {
        const buffer = sounds.get(index);
        sounds.delete(index); // most recent last
        sounds.set(index, buffer);
        return buffer;
    }
    const floats = await engine.call('sound', { generation: state.generation, index });
    audio ??= new AudioContext();
    const buffer = audio.createBuffer(1, floats.length, state.rate);
    buffer.copyToChannel(floats, 0);
    sounds.set(index, buffer);
    if (sounds.size > SOUNDS_KEPT) {
        sounds.delete(sounds.keys().next().value);
    }
    return buffer;
}

// Plays clip `index` from `part` (0..1) of its length; stops it instead
// when it is playing and no place was asked for.
async function play(index, part = null) {
    const wasThis = playing?.index === index;
    stopPlayback();
    if (wasThis && part === null) {
        return;
    }
    if (!usable(index) || clipSamples(index) === 0) {
        return;
    }
    try {
        audio ??= new AudioContext();
        let buffer;
        try {
            buffer = await soundOf(index);
        } catch (error) {
            if (error.name === 'NotSupportedError') {
                say(`This browser cannot play sound at ${state.rate} Hz.`, 'error');
                return;
            }
            throw error;
        }
        const source = audio.createBufferSource();
        source.buffer = buffer;
        source.connect(audio.destination);
        await audio.resume();
        stopPlayback(); // another clip may have started meanwhile
        const from = (part ?? 0) * buffer.duration;
        source.start(0, from);
        playing = { index, source, from, started: audio.currentTime, duration: buffer.duration };
        source.onended = () => playing?.source === source && stopPlayback();
        const row = made.get(index);
        if (row) {
            fillRow(row, index);
        }
        requestAnimationFrame(followPlayback);
    } catch (error) {
        say(error.message, 'error');
    }
}

function followPlayback() {
    if (!playing) {
        return;
    }
    drawWave(playing.index);
    requestAnimationFrame(followPlayback);
}

// Click or drag on a waveform: the cursor follows, and playing starts where
// the pointer is let go.
function seekAt(event) {
    const canvas = event.target;
    return Math.min(1, Math.max(0, event.offsetX / canvas.clientWidth));
}

function startSeek(event) {
    const canvas = event.target;
    const index = Number(canvas.closest('tr').dataset.index);
    if (!usable(index) || event.button !== 0) {
        return;
    }
    canvas.setPointerCapture(event.pointerId);
    const move = (moved) => drawWave(index, seekAt(moved));
    canvas.addEventListener('pointermove', move);
    canvas.addEventListener('pointerup', (up) => {
        canvas.removeEventListener('pointermove', move);
        play(index, seekAt(up));
    }, { once: true });
    move(event);
}

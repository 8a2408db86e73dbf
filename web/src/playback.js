// Listening: Play and Stop, a cursor that follows the sound, and seeking by
// clicking or dragging on a waveform.

'use strict';

// ---------------------------------------------------------------- playback

// Clips play through one <audio> element, from the WAV file the engine makes
// for them: the browser's media pipeline opens the sound device on threads
// of its own, where the first AudioContext holds up the page for 60 to 240
// ms while it does.
let player = null; // made at the first Play
let playing = null; // {index}
const sounds = new Map(); // clip index -> object URL of its WAV file, the last few played
const SOUNDS_KEPT = 8;

const clipSeconds = (index) => clipSamples(index) / state.rate;

function playedPart() {
    return playing ? Math.min(1, player.currentTime / clipSeconds(playing.index)) : 0;
}

function stopPlayback() {
    if (!playing) {
        return;
    }
    const { index } = playing;
    playing = null;
    player.pause();
    const row = made.get(index);
    if (row) {
        fillRow(row, index);
        drawWave(index);
    }
}

function forgetSounds() {
    sounds.forEach((url) => URL.revokeObjectURL(url));
    sounds.clear();
}

async function soundOf(index) {
    if (sounds.has(index)) {
        const url = sounds.get(index);
        sounds.delete(index); // most recent last
        sounds.set(index, url);
        return url;
    }
    const wav = await engine.call('clip', { generation: state.generation, index });
    const url = URL.createObjectURL(new Blob([wav], { type: 'audio/wav' }));
    sounds.set(index, url);
    if (sounds.size > SOUNDS_KEPT) {
        const [oldest, old] = sounds.entries().next().value;
        sounds.delete(oldest);
        URL.revokeObjectURL(old);
    }
    return url;
}

function makePlayer() {
    player = new Audio();
    player.preload = 'auto';
    player.addEventListener('ended', stopPlayback);
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
        const url = await soundOf(index);
        stopPlayback(); // another clip may have started meanwhile
        player ?? makePlayer();
        if (player.src !== url) {
            player.src = url;
        }
        player.currentTime = (part ?? 0) * clipSeconds(index);
        const started = player.play();
        playing = { index };
        const row = made.get(index);
        if (row) {
            fillRow(row, index);
        }
        requestAnimationFrame(followPlayback);
        await started;
    } catch (error) {
        if (error.name === 'AbortError') {
            return; // stopped, or another clip started, before it began
        }
        if (playing?.index === index) {
            stopPlayback();
        }
        say(error.name === 'NotSupportedError' ? `This browser cannot play sound at ${state.rate} Hz.` : error.message, 'error');
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

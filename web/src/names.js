// The name of clip `position`'s WAV file (counted from 1): BASE_NNNN.wav, at
// least four digits, the names Pev2wav gives. Both the page and the engine
// (which names the files of a ZIP) are given this one file.
function clipFileName(base, position) {
    return `${base}_${String(position).padStart(4, '0')}.wav`;
}

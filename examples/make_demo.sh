#!/usr/bin/env bash
# Remakes examples/demo.pev: a few sentences of synthetic speech, packed by
# Wav2pev. Needs espeak-ng and sox, and a built Wav2pev (build/Wav2pev, or
# the path in $WAV2PEV). The WAV files are made in a scratch directory and
# thrown away; only the archive is kept.
#
# With --measure it then unpacks the archive with Pev2wav ($PEV2WAV, default
# build/Pev2wav) and prints the compression ratio (archive bytes over WAV
# sample bytes) and the signal-to-noise ratio of the round trip (needs
# python3).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
wav2pev="${WAV2PEV:-$root/build/Wav2pev}"
pev2wav="${PEV2WAV:-$root/build/Pev2wav}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# espeak-ng writes 16-bit mono at 22050 Hz; sox makes sure of it and adds
# the pauses that become silent blocks. The whispered clip is mostly noise,
# which is cheaper stored raw than as delta codes.
say() {
    local name="$1" voice="$2"
    shift 2
    espeak-ng -v "$voice" -s 150 -w "$work/raw.wav" "$@"
    sox "$work/raw.wav" -r 22050 -b 16 -c 1 "$work/$name" pad 0.2 0.3
}
say demo_0001.wav en "Hello. This archive holds a few short clips of synthetic speech."
say demo_0002.wav en+whisper "Whispered words are noisy, so many of their blocks are stored raw."
say demo_0003.wav en+f3 "Pauses become silent blocks... and sudden jumps need escape codes!"

(cd "$work" && "$wav2pev" --force demo)
cp "$work/demo.pev" "$root/examples/demo.pev"
echo "Wrote $root/examples/demo.pev ($(wc -c <"$root/examples/demo.pev") bytes)"

if [[ "${1:-}" == "--measure" ]]; then
    mkdir "$work/back"
    cp "$work/demo.pev" "$work/back/"
    (cd "$work/back" && "$pev2wav" demo >/dev/null)
    python3 - "$work" <<'PY'
import math, os, sys, wave
work = sys.argv[1]
signal = noise = data_bytes = 0
for name in sorted(n for n in os.listdir(work) if n.startswith("demo_") and n.endswith(".wav")):
    with wave.open(os.path.join(work, name)) as a, wave.open(os.path.join(work, "back", name)) as b:
        x = memoryview(a.readframes(a.getnframes())).cast("h")
        y = memoryview(b.readframes(b.getnframes())).cast("h")
        data_bytes += 2 * len(x)
        for i in range(len(x)):  # an odd clip's one extra sample is not compared
            signal += x[i] * x[i]
            noise += (x[i] - y[i]) ** 2
archive = os.path.getsize(os.path.join(work, "demo.pev"))
print(f"compression: {archive} / {data_bytes} bytes = {archive / data_bytes:.3f}")
print(f"SNR after the round trip: {10 * math.log10(signal / noise):.1f} dB")
PY
fi

#!/usr/bin/env bash
# Instructions per output sample of the codec, counted by callgrind:
#   bench/codec_instructions.sh [BUILD_DIR] [ENTRIES]
# For each entry kind, runs codec_decode_run once with 0 entries (the set-up)
# and once with ENTRIES, and divides the difference by the samples decoded.
set -euo pipefail
build=${1:-build}
entries=${2:-20}
run=$build/bench/codec_decode_run

instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$run" "$@" 2>&1 >/dev/null |
        awk '/Collected/ { print $4 }'
}

printf '%-8s %14s %10s %12s\n' kind instructions samples per-sample
for kind in raw delta escapes; do
    base=$(instructions "$kind" 0)
    total=$(instructions "$kind" "$entries")
    samples=$("$run" "$kind" "$entries" | awk '{ print $4 }')
    awk -v k="$kind" -v i=$((total - base)) -v s="$samples" \
        'BEGIN { printf "%-8s %14d %10d %12.3f\n", k, i, s, i / s }'
done

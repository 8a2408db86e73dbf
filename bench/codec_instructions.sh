#!/usr/bin/env bash
# Instructions per output sample of the codec, counted by callgrind:
#   bench/codec_instructions.sh [BUILD_DIR] [ENTRIES] [PATH...]
# For each entry kind and decoder path (default: scalar, sse2, avx2, those
# the processor runs), runs codec_decode_run once with 0 entries (the
# set-up) and once with ENTRIES, and divides the difference by the samples
# decoded.
set -euo pipefail
build=${1:-build}
entries=${2:-20}
shift $(($# < 2 ? $# : 2))
paths=("$@")
((${#paths[@]})) || paths=(scalar sse2 avx2)
run=$build/bench/codec_decode_run

instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$run" "$@" 2>&1 >/dev/null |
        awk '/Collected/ { print $4 }'
}

printf '%-8s %-8s %14s %10s %12s\n' kind path instructions samples per-sample
for kind in raw delta escapes; do
    for path in "${paths[@]}"; do
        "$run" "$kind" 0 "$path" >/dev/null 2>&1 || continue # not on this processor
        base=$(instructions "$kind" 0 "$path")
        total=$(instructions "$kind" "$entries" "$path")
        samples=$("$run" "$kind" "$entries" "$path" | awk '{ print $4 }')
        awk -v k="$kind" -v p="$path" -v i=$((total - base)) -v s="$samples" \
            'BEGIN { printf "%-8s %-8s %14d %10d %12.3f\n", k, p, i, s, i / s }'
    done
done

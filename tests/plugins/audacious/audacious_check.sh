#!/usr/bin/env bash
# Audacious with the plugin, headless, driven by audtool: adding an archive
# gives one playlist entry per clip that can be decoded, with its length in
# milliseconds and its title, and playing them through the file writer gives
# each clip's samples. Run inside its own D-Bus session by scripts/test-players:
#
#   audacious_check.sh AUDACIOUS HOME ARCHIVE EXTRACTED_FOLDER
#
# AUDACIOUS is an audacious binary whose plugin folder holds the plugin;
# HOME a fresh folder for its settings and the file writer's output; the
# reference is what `pev extract` wrote into EXTRACTED_FOLDER.
set -euo pipefail
audacious=$1 home=$2 archive=$3 reference=$4
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache
config=$XDG_CONFIG_HOME/audacious
failed=0
check() { # description, then the command that must succeed
    local description=$1
    shift
    if "$@"; then echo "PASS $description"; else echo "FAIL $description"; failed=1; fi
}
wait_for() { # up to 20 s for the command to succeed
    local i
    for ((i = 0; i < 200; ++i)); do "$@" && return 0; sleep 0.1; done
    return 1
}
start() {
    "$audacious" -H >>"$home/audacious.log" 2>&1 &
    audacious_pid=$!
    wait_for audtool version >/dev/null 2>&1
}
stop() {
    audtool shutdown || true
    wait "$audacious_pid" || true
}

# A first start writes the plugin registry; then the file writer is made the
# only output, writing 16-bit WAV files named by title into $home/out.
start
stop
awk '/^[a-z]+ \//{ type = $1; file = $2 }
     /^enabled / && type == "output" { $2 = (file ~ /\/filewriter\.so$/) ? 1 : 0 }
     { print }' "$config/plugin-registry" >"$config/plugin-registry.new"
mv "$config/plugin-registry.new" "$config/plugin-registry"
mkdir -p "$home/out"
cat >>"$config/config" <<END
[audacious]
output_bit_depth=16
metadata_fallbacks=FALSE

[filewriter]
file_path=file://$home/out
fileext=0
filenamefromtags=TRUE
save_original=FALSE
use_suffix=FALSE
prependnumber=FALSE
END

start
titles=() lengths=()
for wav in "$reference"/*_[0-9][0-9][0-9][0-9].wav; do
    titles+=("$(basename "$wav")")
    # Milliseconds to the nearest, from the samples and the rate of the WAV header.
    lengths+=("$(python3 -c 'import sys, wave
w = wave.open(sys.argv[1]); print((w.getnframes() * 1000 + w.getframerate() // 2) // w.getframerate())' "$wav")")
done
audtool playlist-addurl "file://$archive"
entries() { [[ $(audtool playlist-length) == "${#titles[@]}" ]]; }
check "one playlist entry per clip that can be decoded (${#titles[@]})" wait_for entries
described() {
    local n
    for n in "${!titles[@]}"; do
        [[ $(audtool playlist-tuple-data title $((n + 1))) == "${titles[n]}" &&
            $(audtool playlist-song-length-frames $((n + 1))) == "${lengths[n]}" ]] || {
            echo "  entry $((n + 1)): $(audtool playlist-tuple-data title $((n + 1))), " \
                "$(audtool playlist-song-length-frames $((n + 1))) ms; want ${titles[n]}, ${lengths[n]} ms" >&2
            return 1
        }
    done
}
check "each entry has its clip's title and length in milliseconds" wait_for described

audtool playback-play
played() { audtool playback-stopped && (($(ls "$home/out" | wc -l) == ${#titles[@]})); }
check "the file writer wrote one file per clip" wait_for played
same_samples() {
    local title written
    for title in "${titles[@]}"; do
        written=$(ls "$home/out"/*"$title".wav 2>/dev/null | head -1)
        [[ -n $written ]] && cmp -s <(tail -c +45 "$reference/$title") <(tail -c +45 "$written") ||
            { echo "  $title: not written as extracted (${written:-no file})" >&2; return 1; }
    done
}
check "each clip played gives the samples pev extract writes" same_samples
stop
exit $failed

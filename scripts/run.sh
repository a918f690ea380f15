#!/usr/bin/env bash
# Builds Kelvora.exe and runs it under Wine: the 32-bit build where this
# machine runs 32-bit programs, else the same program built for 64-bit Wine.
#  - With $DISPLAY: starts Kelvora.exe there, in the tray, for the user
#    (Settings.ini beside build/win/shell/Kelvora.exe, or build/w64/...).
#  - Without one: a short demonstration instead of an invisible tray
#    program. A virtual display with a moving scene, Kelvora.exe in a scratch
#    folder with its own Settings.ini, about five seconds recorded through its
#    hot keys (Shift+R, Shift+S), a screenshot (Shift+X), then its close; the
#    paths of the files and ffprobe's summary of the recording are printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
"$here/build.sh"
source "$here/env.sh"

echo "run: $(kelvora_wine_summary)" >&2
if [ -n "${DISPLAY:-}" ]; then
    start_wine
    cd "$KELVORA_WIN_BUILD/shell"
    exec "$KELVORA_WINE_LOADER" ./Kelvora.exe "$@"
fi

source "$KELVORA_ROOT/bench/screen_scene.sh"
kelvora_pid=
cleanup() {
    if [ -n "$kelvora_pid" ]; then
        kill "$kelvora_pid" 2>/dev/null || true
    fi
    stop_screen_scene
    stop_wine
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
echo "run: no DISPLAY: a demonstration on the virtual display $DISPLAY" >&2
start_screen_scene
start_wine

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kelvora-demo.XXXXXX")
mkdir -p "$scratch/out"
cp "$KELVORA_WIN_BUILD/shell/Kelvora.exe" "$scratch/"
out_win=$(winepath -w "$scratch/out" 2>/dev/null)
# Microsoft Video 1 (the first built-in compressor), PNG screenshots.
printf '[Options]\r\nOutputDir=%s\\\r\nFormat=PNG\r\nCompress=\r\nCodec=0\r\nVideoCompress=75\r\n' \
    "$out_win" >"$scratch/Settings.ini"

keys() {
    if ! wine "$KELVORA_WIN_BUILD/tests/e2e/send_keys.exe" "$1"; then
        echo "run: Kelvora.exe did not answer '$1' within its time; is it running on $DISPLAY?" >&2
        return 1
    fi
}
(cd "$scratch" && exec "$KELVORA_WINE_LOADER" ./Kelvora.exe) &
kelvora_pid=$!
keys up
echo "run: Kelvora.exe is in the tray; Shift+R: recording for five seconds" >&2
keys R
sleep 5
echo "run: Shift+S: stop and save; Shift+X: a screenshot" >&2
keys S
keys X
echo "run: closing Kelvora.exe (it finishes saving first)" >&2
keys close
status=0
wait "$kelvora_pid" || status=$?
kelvora_pid=
if [ $status -ne 0 ]; then
    echo "run: Kelvora.exe ended with exit code $status" >&2
fi

echo "Files written by Kelvora.exe:"
for f in "$scratch"/out/*; do
    echo "  $f"
done
for f in "$scratch"/out/*.avi; do
    [ -e "$f" ] || { echo "run: no recording was saved" >&2; exit 1; }
    echo "ffprobe of $(basename "$f"):"
    ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=codec_name,width,height,r_frame_rate,nb_frames,nb_read_frames \
        -show_entries format=duration,size -of default=noprint_wrappers=1 "$f" | sed 's/^/  /'
done

#!/usr/bin/env bash
# The recording loop under Wine at 1920x1080, 32 bits, against the bare GDI
# grab and beside ffmpeg's x11grab + msvideo1 on the same display, in one run.
#
#   bench/recording_bench.sh [seconds] [soak-seconds]
#
# With soak-seconds, a recording of that length also reports GDI objects and
# private memory once a minute.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
soak=${2:-0}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
source "$root/scripts/env.sh"
source "$root/bench/screen_scene.sh"
cleanup() {
    stop_screen_scene
    stop_wine
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
start_screen_scene
start_wine
bench="$KELVORA_WIN_BUILD/bench/recording_bench.exe"

wine "$bench" grab "$seconds"
wine "$bench" record MSVC "$seconds"
wine "$bench" record ZMBV "$seconds"

frames=$(ffmpeg -nostats -f x11grab -framerate 100 -video_size 1920x1080 -i "$DISPLAY" \
    -t "$seconds" -c:v msvideo1 -f null - 2>&1 | sed -n 's/.*frame= *\([0-9]*\).*/\1/p' | tail -n 1)
awk -v f="$frames" -v s="$seconds" \
    'BEGIN {printf "ffmpeg x11grab + msvideo1: %d frames in %d s, %.2f frames/s\n", f, s, f / s}'

if [ "$soak" -gt 0 ]; then
    wine "$bench" soak MSVC "$soak"
fi

#!/usr/bin/env bash
# The recording loop under Wine, at 1280x720 and 1920x1080, in one
# run: the pool's grab against the old grab (compatible bitmap + GetDIBits)
# and the bare BitBlt; the loop at 40 slots a second (25 ms) through MSVC,
# ZMBV and MJPG against the bare grab; the slots kept at 60 a second
# (16 ms); ffmpeg's x11grab on the same display as a peer.
#
#   bench/recording_bench.sh [seconds] [soak-seconds] [rounds]
#
# Everything takes turns for several rounds and the medians are compared,
# since a shared machine's load drifts within a run. With soak-seconds, a
# recording of that length at 1080p also reports GDI objects and memory in
# use once a minute. MSVC is also recorded with sound (a private PulseAudio's
# null input): sound may cost the loop at most 3 % of its frame rate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-6}
soak=${2:-0}
rounds=${3:-2}
"$root/scripts/setup.sh"
source "$root/scripts/env.sh"
quietly "build" "$root/scripts/build.sh"
source "$root/bench/screen_scene.sh"
cleanup() {
    stop_screen_scene 2>/dev/null || true
    stop_wine 2>/dev/null || true
    stop_pulse 2>/dev/null || true
    stop_xvfb 2>/dev/null || true
}
trap cleanup EXIT
bench="$KELVORA_WIN_BUILD/bench/recording_bench.exe"
echo "wine: ${KELVORA_WINE_BITS:-$(basename "$KELVORA_WIN_BUILD")}; load: $(uptime)"

for size in 1280x720 1920x1080; do
    export KELVORA_XVFB_SCREEN=${size}x24
    start_xvfb
    start_screen_scene
    start_pulse
    start_wine
    log=$(mktemp)
    for ((round = 1; round <= rounds; round++)); do
        wine "$bench" grab "$seconds" | tee -a "$log"
        for codec in MSVC ZMBV MJPG; do
            wine "$bench" record "$codec" "$seconds" 25 | tee -a "$log"
        done
        wine "$bench" record MSVC "$seconds" 25 sound | tee -a "$log"
        wine "$bench" record MSVC "$seconds" 16 | tee -a "$log"
    done
    frames=$(ffmpeg -nostats -f x11grab -framerate 100 -video_size "$size" -i "$DISPLAY" \
        -t "$seconds" -c:v msvideo1 -f null - 2>&1 | sed -n 's/.*frame= *\([0-9]*\).*/\1/p' | tail -n 1)
    awk -v size="$size" -v ff="$frames" -v s="$seconds" -f "$root/bench/recording_summary.awk" "$log"
    rm -f "$log"
    if [ "$soak" -gt 0 ] && [ "$size" = 1920x1080 ]; then
        wine "$bench" soak MSVC "$soak"
    fi
    stop_screen_scene
    stop_wine
    stop_pulse
    stop_xvfb
done
echo "load at the end: $(uptime)"

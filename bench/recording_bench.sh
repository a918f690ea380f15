#!/usr/bin/env bash
# The recording loop under Wine at 1920x1080, 32 bits, against the bare GDI
# grab and beside ffmpeg's x11grab + msvideo1 on the same display, in one run.
#
#   bench/recording_bench.sh [seconds] [soak-seconds] [rounds]
#
# The grab and the recordings take turns for several rounds and the medians
# are compared, since a shared machine's load drifts within a run. MSVC is
# recorded with and without sound (from a private PulseAudio's null input):
# sound may cost the loop at most 3 % of its frame rate.
#
# With soak-seconds, a recording of that length also reports GDI objects and
# memory in use once a minute.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
soak=${2:-0}
rounds=${3:-3}
"$root/scripts/setup.sh"
source "$root/scripts/env.sh"
quietly "build" "$root/scripts/build.sh"
source "$root/bench/screen_scene.sh"
cleanup() {
    stop_screen_scene
    stop_wine
    stop_pulse
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
start_screen_scene
start_pulse
start_wine
bench="$KELVORA_WIN_BUILD/bench/recording_bench.exe"

log=$(mktemp)
for ((round = 1; round <= rounds; round++)); do
    wine "$bench" grab "$seconds" | tee -a "$log"
    wine "$bench" record MSVC "$seconds" | tee -a "$log"
    wine "$bench" record MSVC "$seconds" sound | tee -a "$log"
    wine "$bench" record ZMBV "$seconds" | tee -a "$log"
done
awk '
    function median(list,   n, a, i, j, t) {
        n = split(list, a, " ")
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    $1 == "grab" { grab = grab " " $(NF - 1) }
    $1 == "record" { rate[$2] = rate[$2] " " $(NF - 1) }
    END {
        g = median(grab)
        printf "median of %d rounds: grab %.2f frames/s", split(grab, x, " "), g
        for (c in rate) printf ", %s %.2f (%.0f%% of the grab)", c, median(rate[c]), 100 * median(rate[c]) / g
        printf "\n"
        if ("MSVC+sound" in rate) {
            r = median(rate["MSVC+sound"]) / median(rate["MSVC"])
            printf "sound: MSVC with sound at %.1f%% of MSVC without (cost %.1f%%, target at most 3%%): %s\n",
                100 * r, 100 * (1 - r), 1 - r <= 0.03 ? "met" : "NOT met"
        }
    }' "$log"
rm -f "$log"

frames=$(ffmpeg -nostats -f x11grab -framerate 100 -video_size 1920x1080 -i "$DISPLAY" \
    -t "$seconds" -c:v msvideo1 -f null - 2>&1 | sed -n 's/.*frame= *\([0-9]*\).*/\1/p' | tail -n 1)
awk -v f="$frames" -v s="$seconds" \
    'BEGIN {printf "ffmpeg x11grab + msvideo1: %d frames in %d s, %.2f frames/s\n", f, s, f / s}'

if [ "$soak" -gt 0 ]; then
    wine "$bench" soak MSVC "$soak"
fi

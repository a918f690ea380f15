#!/usr/bin/env bash
# The camera idle in the tray under Wine at 1920x1080: processor time of the
# process while the preview timer runs on the whole screen with its frame,
# without the preview picture (as Kelvora runs) and, in the same run, with
# the picture grabbed at every tick.
#
#   bench/idle_bench.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
source "$root/scripts/env.sh"
cleanup() {
    stop_wine
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
start_wine
bench="$KELVORA_WIN_BUILD/bench/idle_bench.exe"
wine "$bench" nopicture "$seconds"
wine "$bench" picture "$seconds"

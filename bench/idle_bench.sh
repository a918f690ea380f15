#!/usr/bin/env bash
# The camera idle in the tray under Wine at 1920x1080: processor time of the
# process while the preview timer runs on the whole screen with its frame,
# without the preview picture (as Kelvora runs) and, in the same run, with
# the picture grabbed at every tick; then Kelvora.exe itself, idle in the
# tray after its start-up (target: at most 2 % of one core).
#
#   bench/idle_bench.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
"$root/scripts/setup.sh"
source "$root/scripts/env.sh"
quietly "build" "$root/scripts/build.sh"
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

# Kelvora.exe itself, in a scratch folder: the processor time of its process
# (all its threads, from /proc) from a second after its icon and hot keys
# are there, for the same time.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kelvora-idle.XXXXXX")
cp "$KELVORA_WIN_BUILD/shell/Kelvora.exe" "$scratch/"
(cd "$scratch" && exec "$KELVORA_WINE_LOADER" ./Kelvora.exe) &
kelvora=$!
keys() { wine "$KELVORA_WIN_BUILD/tests/e2e/send_keys.exe" "$1"; }
keys up
sleep 1
ticks() { awk '{print $14 + $15}' "/proc/$kelvora/stat"; }
before=$(ticks)
start=$(date +%s.%N)
sleep "$seconds"
used=$(( $(ticks) - before ))
end=$(date +%s.%N)
awk -v t="$used" -v hz="$(getconf CLK_TCK)" -v w0="$start" -v w1="$end" 'BEGIN {
    w = w1 - w0
    printf "Kelvora.exe idle in the tray: %.2f s of processor time in %.1f s, %.2f%% of one core (target <= 2%%)\n",
           t / hz, w, 100 * t / hz / w }'
keys close
wait "$kelvora"
rm -rf "$scratch"

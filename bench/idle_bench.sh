#!/usr/bin/env bash
# The camera idle in the tray under Wine at 1920x1080: processor time of the
# process while the preview timer runs on the whole screen with its frame,
# without the preview picture (as Kelvora runs) and, in the same run, with
# the picture grabbed at every tick; then Kelvora.exe itself, idle in the
# tray after its start-up: its process, the wineserver it calls and the X
# server's time above its time without Kelvora over as long before
# (target: together at most 0.3 % of one core over 60 s).
#
#   bench/idle_bench.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
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
echo "wine: $(basename "$KELVORA_WIN_BUILD"); load: $(uptime)"
wine "$bench" nopicture "$((seconds / 4))"
wine "$bench" picture "$((seconds / 4))"

# Processor ticks (user + system) of a process so far.
ticks() {
    if [ -n "$1" ] && [ -r "/proc/$1/stat" ]; then awk '{print $14 + $15}' "/proc/$1/stat"; else echo 0; fi
}
# The wineserver of this prefix: the one working in the prefix's server
# folder (other prefixes of the machine have their own).
prefix_server() {
    local dir pid
    dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for pid in $(pgrep -x 'wineserver(64)?'); do
        case "$(readlink "/proc/$pid/cwd")" in */"$dir") echo "$pid"; return ;; esac
    done
}
server=$(prefix_server)
# The X server's and the wineserver's time without Kelvora, as a baseline.
x0=$(ticks "$kelvora_xvfb_pid"); s0=$(ticks "$server")
sleep "$seconds"
xIdle=$(( $(ticks "$kelvora_xvfb_pid") - x0 )); sIdle=$(( $(ticks "$server") - s0 ))

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
server=$(prefix_server)
before=$(ticks "$kelvora"); x0=$(ticks "$kelvora_xvfb_pid"); s0=$(ticks "$server")
start=$(date +%s.%N)
sleep "$seconds"
used=$(( $(ticks "$kelvora") - before ))
xUsed=$(( $(ticks "$kelvora_xvfb_pid") - x0 )); sUsed=$(( $(ticks "$server") - s0 ))
end=$(date +%s.%N)
awk -v t="$used" -v s="$sUsed" -v s0="$sIdle" -v x="$xUsed" -v x0="$xIdle" -v hz="$(getconf CLK_TCK)" \
    -v w0="$start" -v w1="$end" 'BEGIN {
    w = w1 - w0
    printf "Kelvora.exe idle in the tray over %.1f s: process %.2f%%, wineserver %.2f%% (%.2f%% without Kelvora), X server %.2f%% (%.2f%% without Kelvora) of one core\n",
           w, 100 * t / hz / w, 100 * s / hz / w, 100 * s0 / hz / w, 100 * x / hz / w, 100 * x0 / hz / w
    added = (t + s + (x - x0)) / hz / w * 100
    printf "Kelvora + wineserver + X server added: %.2f%% of one core (target <= 0.3%%): %s\n",
           added, added <= 0.3 ? "met" : "not met" }'
keys close
wait "$kelvora"
rm -rf "$scratch"

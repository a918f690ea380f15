#!/usr/bin/env bash
# Records a screen-content clip for the compressor benchmarks: terminals
# scrolling text, a clock and a moving window on a private 1920x1080 Xvfb,
# grabbed by ffmpeg's x11grab into raw 32-bit frames (B, G, R, A, top row first).
#
#   bench/make_screen_clip.sh [out.bgra] [frames]
#
# Default output: bench/out/screen_1920x1080.bgra (git-ignored), 100 frames at
# 10 frames/s. An existing clip is kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/bench/out/screen_1920x1080.bgra}
frames=${2:-100}
[ -s "$out" ] && { echo "$out"; exit 0; }

need=()
for p in xterm xdotool x11-apps x11-xserver-utils xvfb ffmpeg; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

mkdir -p "$(dirname "$out")"
source "$root/scripts/env.sh"
exec 2> >(grep -v -E "cannot load font|Missing charsets" >&2)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    stop_xvfb
}
trap cleanup EXIT
start_xvfb

xsetroot -solid '#3a6ea5'
text='find /usr/share/doc /usr/include -type f | while read -r f; do echo "$f"; head -c 300 "$f" | tr -c "[:print:]\n" .; sleep 0.02; done'
xterm -geometry 110x40+20+20 -fa Monospace -fs 10 -bg white -fg black -e bash -c "$text" & pids+=($!)
xterm -geometry 90x30+980+40 -bg '#202020' -fg '#d0d0d0' -e bash -c "while true; do date; ls -l --color=always /usr/bin | head -60; sleep 0.3; done" & pids+=($!)
xterm -geometry 100x20+900+600 -bg '#fdf6e3' -fg '#586e75' -e bash -c "$text" & pids+=($!)
xclock -update 1 -geometry 260x260+620+700 & pids+=($!)
xterm -geometry 40x12+100+700 -bg '#004000' -fg '#80ff80' -title mover -e bash -c "top -d 0.5" & pids+=($!)
sleep 2

# A window that drifts across the screen while the clip is recorded.
( wid=$(xdotool search --sync --name mover | head -n 1)
  x=100
  while true; do
      xdotool windowmove "$wid" "$x" 700 2>/dev/null || true
      x=$(( (x + 17) % 1400 ))
      sleep 0.05
  done ) & pids+=($!)
sleep 1

ffmpeg -v error -f x11grab -framerate 10 -video_size 1920x1080 -i "$DISPLAY" \
    -frames:v "$frames" -pix_fmt bgra -f rawvideo -y "$out.part"
mv "$out.part" "$out"
echo "$out"

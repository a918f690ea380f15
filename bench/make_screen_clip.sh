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

mkdir -p "$(dirname "$out")"
source "$root/scripts/env.sh"
source "$root/bench/screen_scene.sh"
cleanup() {
    stop_screen_scene
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
start_screen_scene

ffmpeg -v error -f x11grab -framerate 10 -video_size 1920x1080 -i "$DISPLAY" \
    -frames:v "$frames" -pix_fmt bgra -f rawvideo -y "$out.part"
mv "$out.part" "$out"
echo "$out"

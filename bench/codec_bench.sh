#!/usr/bin/env bash
# Compares a built-in compressor with ffmpeg's encoder of the same format on the
# same screen clip, both on one core in one run: frames/s, bytes per frame, PSNR.
#
#   bench/codec_bench.sh msvc|zmbv|mjpg [ours-options...] [-- ffmpeg-encoder-options...]
#
# e.g. bench/codec_bench.sh mjpg --quality 8000 -- -q:v 4
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
codec=${1:?codec name: msvc, zmbv or mjpg}
shift
ours_opts=()
peer_opts=()
while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then shift; peer_opts=("$@"); break; fi
    ours_opts+=("$1"); shift
done

case "$codec" in
    msvc) encoder=msvideo1; peer_fmt=rgb555le ;;
    zmbv) encoder=zmbv; peer_fmt=bgr0 ;;
    mjpg) encoder=mjpeg; peer_fmt=yuvj420p ;;
    *) echo "unknown codec $codec" >&2; exit 2 ;;
esac

source "$root/scripts/env.sh"
clip=$("$root/bench/make_screen_clip.sh")
out=$root/bench/out
bdir=$root/build/bench
if [ ! -f "$bdir/build.ninja" ]; then
    quietly "configuring the benchmarks" cmake -S "$root" -B "$bdir" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DKELVORA_SANITIZE=OFF
fi
quietly "building the benchmarks" cmake --build "$bdir" --target "${codec}_bench"
frames=$(( $(stat -c %s "$clip") / (1920 * 1080 * 4) ))
raw=(-f rawvideo -pix_fmt bgra -s 1920x1080 -r 10 -i "$clip")

now() { date +%s.%N; }

# Ours: the compress loop alone, timed by the program.
ours=$(taskset -c 0 "$bdir/bench/${codec}_bench" --clip "$clip" --out "$out/ours_$codec.avi" "${ours_opts[@]}")

# Peer: the encoding run, less a run that reads and converts the same frames
# without encoding, so that both sides count the encoder alone.
t0=$(now)
taskset -c 0 ffmpeg -v error -threads 1 "${raw[@]}" -pix_fmt "$peer_fmt" -f null - 
t1=$(now)
taskset -c 0 ffmpeg -v error -threads 1 "${raw[@]}" -c:v "$encoder" "${peer_opts[@]}" -f avi -y "$out/peer_$codec.avi"
t2=$(now)
peer_seconds=$(awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN {print (c - b) - (b - a)}')

bytes_per_frame() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" |
        awk '{s += $1; n++} END {printf "%.0f", s / n}'
}
psnr() {
    ffmpeg -v info -i "$1" "${raw[@]}" -lavfi "[0:v]format=gbrp[a];[1:v]format=gbrp[b];[a][b]psnr" \
        -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' | tail -n 1
}

ours_fps=$(sed -n 's/.* fps=\([0-9.]*\).*/\1/p' <<<"$ours")
peer_fps=$(awk -v f="$frames" -v s="$peer_seconds" 'BEGIN {print f / s}')
ours_bpf=$(bytes_per_frame "$out/ours_$codec.avi")
peer_bpf=$(bytes_per_frame "$out/peer_$codec.avi")
ours_psnr=$(psnr "$out/ours_$codec.avi")
peer_psnr=$(psnr "$out/peer_$codec.avi")

echo "ours ($codec): $ours"
printf '%-22s %10s %14s %10s\n' "" "frames/s" "bytes/frame" "PSNR dB"
printf '%-22s %10.2f %14s %10s\n' "ours $codec" "$ours_fps" "$ours_bpf" "$ours_psnr"
printf '%-22s %10.2f %14s %10s\n' "ffmpeg $encoder" "$peer_fps" "$peer_bpf" "$peer_psnr"
awk -v a="$ours_fps" -v b="$peer_fps" -v c="$ours_bpf" -v d="$peer_bpf" \
    'BEGIN {printf "speed ratio %.2fx, size ratio %.2f\n", a / b, c / d}'

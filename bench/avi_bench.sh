#!/usr/bin/env bash
# Benchmarks of the AVI file library against plain tools, in one run on the
# same disk, built without sanitizers:
#   - writing 1920x1080 32-bit uncompressed frames (2 GiB) vs dd writing as
#     many bytes: target >= 80 % of dd's throughput;
#   - AVISaveV of that 2 GiB file vs cp of it: target >= 50 % of cp's;
#   - peak memory while writing, for two recording lengths of big and of
#     small frames: flat apart from the index (a few dozen bytes per frame).
# Every timed side includes flushing its file to disk (fsync). Each pair runs
# RUNS times (default 3), taking turns at going first; the best time of each
# side counts.
#
#   bench/avi_bench.sh [output folder]     (default bench/out/avi; ~7 GB free)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/bench/out/avi}
runs=${RUNS:-3}
source "$root/scripts/env.sh"
build=$KELVORA_BUILD/bench-host

if [ ! -f "$build/build.ninja" ]; then
    quietly "configuring the benchmarks" cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DKELVORA_SANITIZE=OFF
fi
quietly "building the benchmarks" cmake --build "$build" --target avi_write_bench avi_save_bench
write_bench=$build/bench/avi_write_bench
save_bench=$build/bench/avi_save_bench

mkdir -p "$out"
trap 'rm -f "$out"/*.avi "$out"/*.bin' EXIT

frame=$((1920 * 1080 * 4))
frames=259   # 2.15 GB: 2 GiB of frames

now() { date +%s.%N; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
best() { sort -g | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", 100 * a / b }'; }
mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / s / 1048576 }'; }

echo "AVI library benchmarks in $out ($runs runs each, best time counts)"

# --- Writing: ours vs dd ---
ours=() peer=()
bytes=$(field bytes <<<"$("$write_bench" "$out/write.avi" $frames $frame)")  # warm-up
rm -f "$out/write.avi"
run_ours() {
    ours+=("$(field seconds <<<"$("$write_bench" "$out/write.avi" $frames $frame)")")
    rm -f "$out/write.avi"
}
run_peer() {
    local t0 t1
    t0=$(now)
    dd if=/dev/zero of="$out/dd.bin" bs=8M count="$bytes" iflag=count_bytes conv=fsync \
        status=none
    t1=$(now)
    peer+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
    rm -f "$out/dd.bin"
}
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then run_ours; run_peer; else run_peer; run_ours; fi
done
t_ours=$(printf '%s\n' "${ours[@]}" | best)
t_peer=$(printf '%s\n' "${peer[@]}" | best)
echo "  runs (s): ours ${ours[*]}; dd ${peer[*]}"
echo "write 1080p32 x $frames ($bytes bytes): ours $(mbps "$bytes" "$t_ours") MiB/s," \
    "dd $(mbps "$bytes" "$t_peer") MiB/s: $(ratio "$t_peer" "$t_ours") % of dd (target >= 80 %)"

# --- AVISaveV vs cp of the same file ---
"$write_bench" "$out/source.avi" $frames $frame >/dev/null
ours=() peer=()
run_ours() {
    ours+=("$(field seconds <<<"$("$save_bench" "$out/source.avi" "$out/copy.avi")")")
    rm -f "$out/copy.avi"
}
run_peer() {
    local t0 t1
    t0=$(now)
    cp "$out/source.avi" "$out/cp.avi"
    sync "$out/cp.avi"
    t1=$(now)
    peer+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
    rm -f "$out/cp.avi"
}
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then run_ours; run_peer; else run_peer; run_ours; fi
done
bytes=$(stat -c %s "$out/source.avi")
rm -f "$out/source.avi"
t_ours=$(printf '%s\n' "${ours[@]}" | best)
t_peer=$(printf '%s\n' "${peer[@]}" | best)
echo "  runs (s): ours ${ours[*]}; cp ${peer[*]}"
echo "AVISaveV of $bytes bytes: ours $(mbps "$bytes" "$t_ours") MiB/s," \
    "cp $(mbps "$bytes" "$t_peer") MiB/s: $(ratio "$t_peer" "$t_ours") % of cp (target >= 50 %)"

# --- Peak memory while writing, two lengths each ---
rss() {
    local line
    line=$("$write_bench" "$out/rss.avi" "$1" "$2")
    rm -f "$out/rss.avi"
    field peak_rss_kb <<<"$line"
}
for run in "100 400 $frame 1080p32" "20000 500000 1024 1-KiB"; do
    read -r short long bytes name <<<"$run"
    a=$(rss "$short" "$bytes")
    b=$(rss "$long" "$bytes")
    per=$(awk -v a="$a" -v b="$b" -v n=$((long - short)) 'BEGIN { printf "%.1f", (b - a) * 1024 / n }')
    echo "peak RSS writing $name frames: $short frames ${a} KiB, $long frames ${b} KiB:" \
        "$per bytes per extra frame"
done

# Medians of recording_bench.exe's lines for one screen size, with the
# targets each figure is held against (recording_bench.sh).
function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function verdict(ok) { return ok ? "met" : "not met" }
$1 == "grab" { grab = grab " " $3 }
$1 == "grab-old" { speedup = speedup " " ($13 + 0) }
$1 == "grab-bitblt" { share = share " " ($7 + 0) }
$1 == "record" { rate = $(NF - 1) }
$1 == "slots" && $3 == 25 { loop[$2] = loop[$2] " " rate }
$1 == "slots" && $3 == 16 { kept = kept " " ($NF + 0); rate16 = rate16 " " rate }
END {
    g = median(grab); x = median(speedup); b = median(share)
    printf "== %s, medians of %d rounds\n", size, split(grab, t, " ")
    printf "bare grab (pool): %.2f frames/s; ffmpeg x11grab + msvideo1: %.2f frames/s\n", g, ff / s
    printf "new grab against the old one: %.2fx (target >= 1.3 where read-back does not dominate): %s\n", x,
           (b >= 80) ? "read-back dominates here (bare BitBlt " b "% of a grab), the ratio does not apply" : verdict(x >= 1.3)
    printf "bare BitBlt: %.0f%% of a grab\n", b
    want = (g < 40) ? g : 40
    for (c in loop) {
        if (c ~ /sound/) continue
        r = median(loop[c])
        printf "loop %s at 40 slots/s: %.2f frames/s, %.1f%% of min(40, bare grab) (target >= 95%%): %s\n",
               c, r, 100 * r / want, verdict(r >= 0.95 * want)
    }
    if ("MSVC+sound" in loop) {
        r = median(loop["MSVC+sound"]) / median(loop["MSVC"])
        printf "sound: MSVC with sound at %.1f%% of MSVC without (cost %.1f%%, target at most 3%%): %s\n",
               100 * r, 100 * (1 - r), verdict(1 - r <= 0.03)
    }
    k = median(kept)
    if (g >= 1.5 * 62.5) {
        printf "60 slots/s (16 ms): %.1f%% of the slots kept (target >= 99%%): %s\n", k, verdict(k >= 99)
    } else {
        r = median(rate16)
        printf "60 slots/s (16 ms): %.1f%% of the slots kept; this machine grabs %.2f frames/s, under 1.5x the slot rate:" \
               " the loop's %.2f frames/s are %.1f%% of the bare grab (target >= 95%%): %s\n", k, g, r, 100 * r / g, verdict(r >= 0.95 * g)
    }
}

#!/bin/sh
# Times fwbforge2 against cp of the same base image, side by side in one run,
# and compares peak memory across image sizes. Usage: scripts/bench.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
tool="$build/app/fwbforge2"
maker="$build/examples/make_example_image"
work="$build/bench"
runs="${BENCH_RUNS:-30}"
rm -rf "$work" && mkdir -p "$work" && cd "$work"

device() {
    printf '  <device>\n    <pciid vid="fb2f" did="%s" sdid="0001" svid="fb2f" />\n' "$1"
    printf '    <mac>%s</mac>\n    <phy>%s</phy>\n' "$(printf '5a%.0s' $(seq 512))" "$(printf 'c3%.0s' $(seq 300))"
    printf '    <exprom>False</exprom>\n    <image>%s</image>\n  </device>\n' "$2"
}
{
    echo '<devices>'
    device 0b04 base-4m.fwb
    device 0b40 base-64m.fwb
    echo '</devices>'
} > update.xml

"$maker" base-4m.fwb $((4 << 20)) $((1 << 20)) 4096 4
"$maker" base-64m.fwb $((64 << 20)) $((32 << 20)) 4096 64

median() { awk -F, -v row="$2" 'NR == row + 1 { print $4 }' "$1"; }

for size in 4m 64m; do
    did=0b04
    [ "$size" = 64m ] && did=0b40
    hyperfine --style basic --warmup 3 --runs "$runs" -N --export-csv "times-$size.csv" \
        "$tool fb2f $did fb2f 0001 update.xml out-$size.fwb" \
        "cp base-$size.fwb copy-$size.fwb" > "hyperfine-$size.log"
    tool_median=$(median "times-$size.csv" 1)
    cp_median=$(median "times-$size.csv" 2)
    peak_kib=$(/usr/bin/time -f %M "$tool" fb2f $did fb2f 0001 update.xml out-$size.fwb 2>&1 >/dev/null)
    awk -v t="$tool_median" -v c="$cp_median" -v s="$size" -v m="$peak_kib" 'BEGIN {
        printf "%-4s fwbforge2 median %.2f ms, cp median %.2f ms, ratio %.3f, fwbforge2 peak RSS %d KiB\n",
               s, t * 1000, c * 1000, t / c, m }'
done | tee summary.txt

ratio_64m=$(awk '/^64m/ { print $(NF - 5) }' summary.txt | tr -d ,)
awk -v r="$ratio_64m" 'BEGIN { if (r > 1.15) { print "FAIL: 64 MiB ratio " r " exceeds 1.15"; exit 1 }
                               print "OK: 64 MiB ratio " r " is within 1.15" }'

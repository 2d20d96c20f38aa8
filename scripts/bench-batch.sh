#!/bin/sh
# Times fwbforge2 --all on 200 devices sharing a 1 MiB base against 200
# six-argument runs writing the same images, side by side in one run, and fails
# if --all takes more than half their time.
# Usage: scripts/bench-batch.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
tool="$build/app/fwbforge2"
maker="$build/examples/make_example_image"
work="$build/bench-batch-run"
runs="${BENCH_BATCH_RUNS:-5}"
devices=200
max_ratio=0.5

rm -rf "$work" && mkdir -p "$work/each" "$work/all" && cd "$work"

"$maker" base-1m.fwb $((1 << 20)) $((512 << 10)) 4096 1

# Each device its own blobs, all naming the one base.
seq "$devices" | awk '{
    did = sprintf("%04x", 0x0c00 + $1)
    mac = ""; for (i = 0; i < 64; i++) mac = mac sprintf("%02x", ($1 + i) % 256)
    printf "  <device>\n    <pciid vid=\"fb2f\" did=\"%s\" sdid=\"0001\" svid=\"fb2f\" />\n", did
    printf "    <mac>%s</mac>\n    <phy>c3c3c3c3%02x</phy>\n", mac, $1 % 256
    printf "    <exprom>False</exprom>\n    <image>base-1m.fwb</image>\n  </device>\n"
}
BEGIN { print "<devices>" } END { print "</devices>" }' > update.xml

seq "$devices" | awk -v tool="$tool" '{
    did = sprintf("%04x", 0x0c00 + $1)
    printf "%s fb2f %s fb2f 0001 update.xml each/fb2f-%s-fb2f-0001.fwb > /dev/null\n", tool, did, did
}' > each.sh

# Both replace images that are already there, as every timed run after the first does.
hyperfine --style basic --warmup 1 --runs "$runs" --export-csv times.csv \
    -n six-argument "sh each.sh" \
    -n all "$tool --all update.xml all > /dev/null" > hyperfine.log 2>&1 ||
    { cat hyperfine.log; exit 1; }

for image in each/*.fwb; do
    cmp -s "$image" "all/${image#each/}" || { echo "FAIL: --all wrote all/${image#each/} unlike the six-argument run"; exit 1; }
done

median() { awk -F, -v row="$1" 'NR == row + 1 { print $4 }' times.csv; }
each=$(median 1)
all=$(median 2)
ratio=$(awk -v a="$all" -v e="$each" 'BEGIN { printf "%.3f\n", a / e }')
awk -v a="$all" -v e="$each" -v n="$devices" -v r="$ratio" 'BEGIN {
    printf "all  %d devices, 1 MiB base: %d six-argument runs %.1f ms, --all %.1f ms (medians)\n", n, n, e * 1000, a * 1000
    printf "all  ratio of --all to the six-argument runs %.3f\n", r }'
if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
    echo "FAIL: --all takes $ratio of the six-argument runs' time, over $max_ratio"
    exit 1
fi
echo "OK: --all takes $ratio of the six-argument runs' time, within $max_ratio"

#!/bin/sh
# Times fwbforge2 --all on 200 devices sharing a 1 MiB base against 200
# six-argument runs writing the same images, side by side in one run (paired,
# medians), checks that both wrote the same bytes, and fails if --all takes more
# than half their time.
# Usage: scripts/bench-batch.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
tool="$build/app/fwbforge2"
maker="$build/examples/make_example_image"
work="$build/bench-batch-run"
runs="${BENCH_BATCH_RUNS:-7}"
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

now_ns() { date +%s%N; }
time_each() { t=$(now_ns); sh each.sh; echo $(($(now_ns) - t)); }
time_all() { t=$(now_ns); "$tool" --all update.xml all > /dev/null; echo $(($(now_ns) - t)); }

# Paired and alternated, so that the machine's load weighs on both alike; every
# run but the warm-up replaces images that are already there.
time_each > /dev/null
time_all > /dev/null
: > pairs.txt
for pair in $(seq "$runs"); do
    if [ $((pair % 2)) -eq 0 ]; then
        each=$(time_each)
        all=$(time_all)
    else
        all=$(time_all)
        each=$(time_each)
    fi
    echo "$each $all" >> pairs.txt
done

for image in each/*.fwb; do
    cmp -s "$image" "all/${image#each/}" || { echo "FAIL: --all wrote all/${image#each/} unlike the six-argument run"; exit 1; }
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
each=$(awk '{ print $1 / 1e6 }' pairs.txt | median)
all=$(awk '{ print $2 / 1e6 }' pairs.txt | median)
ratio=$(awk '{ print $2 / $1 }' pairs.txt | median)
ratio=$(awk -v r="$ratio" 'BEGIN { printf "%.3f\n", r }')
awk -v a="$all" -v e="$each" -v n="$devices" -v r="$ratio" -v p="$runs" 'BEGIN {
    printf "all  %d devices, 1 MiB base: %d six-argument runs %.1f ms, --all %.1f ms (medians of %d pairs)\n", n, n, e, a, p
    printf "all  ratio of --all to the six-argument runs %.3f (median of the pairs)\n", r }'
if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
    echo "FAIL: --all takes $ratio of the six-argument runs' time, over $max_ratio"
    exit 1
fi
echo "OK: --all takes $ratio of the six-argument runs' time, within $max_ratio"

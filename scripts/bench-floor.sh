#!/bin/sh
# Times fwbforge2 --all against batch_floor, the least a durable batch must do in
# one thread (per device a kernel copy of the base, the region written in place,
# the image's SHA-256, the file flushed; then the renames and one directory flush),
# side by side for 200 and 1 000 devices on a 1 MiB base (paired, medians).
# Fails if --all takes more than 1.25 times the floor.
# Usage: scripts/bench-floor.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
tool="$build/app/fwbforge2"
floor="$build/bench/batch_floor"
maker="$build/examples/make_example_image"
work="$build/bench-floor-run"
runs="${BENCH_FLOOR_RUNS:-5}"
region=$((512 << 10))
max_ratio=1.25

rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$maker" base-1m.fwb $((1 << 20)) "$region" 8192 1

now_ns() { date +%s%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

status=0
for devices in 200 1000; do
    seq "$devices" | awk '{
        did = sprintf("%04x", 0x0c00 + $1)
        mac = ""; for (i = 0; i < 64; i++) mac = mac sprintf("%02x", ($1 + i) % 256)
        printf "<pciid vid=\"fb2f\" did=\"%s\" sdid=\"0001\" svid=\"fb2f\" />\n", did
        printf "<mac>%s</mac>\n<phy>c3c3c3c3%02x</phy>\n", mac, $1 % 256
        printf "<exprom>False</exprom>\n<image>base-1m.fwb</image>\n"
    }' > "update-$devices.xml"
    time_floor() {
        rm -rf floor && mkdir floor
        t=$(now_ns); "$floor" base-1m.fwb floor "$devices" "$region"; echo $(($(now_ns) - t))
    }
    time_all() {
        rm -rf all
        t=$(now_ns); "$tool" --all "update-$devices.xml" all > /dev/null; echo $(($(now_ns) - t))
    }
    time_floor > /dev/null
    time_all > /dev/null
    : > pairs.txt
    for pair in $(seq "$runs"); do
        if [ $((pair % 2)) -eq 0 ]; then
            f=$(time_floor); a=$(time_all)
        else
            a=$(time_all); f=$(time_floor)
        fi
        echo "$f $a" >> pairs.txt
    done
    f=$(awk '{ print $1 / 1e6 }' pairs.txt | median)
    a=$(awk '{ print $2 / 1e6 }' pairs.txt | median)
    ratio=$(awk '{ print $2 / $1 }' pairs.txt | median)
    ratio=$(awk -v r="$ratio" 'BEGIN { printf "%.3f\n", r }')
    awk -v f="$f" -v a="$a" -v n="$devices" -v r="$ratio" -v p="$runs" 'BEGIN {
        printf "floor %d devices, 1 MiB base: batch floor %.1f ms, --all %.1f ms (medians of %d pairs), ratio %.3f\n", n, f, a, p, r }'
    if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
        echo "FAIL: --all takes $ratio of the floor's time for $devices devices, over $max_ratio"
        status=1
    else
        echo "OK: --all takes $ratio of the floor's time for $devices devices, within $max_ratio"
    fi
done
exit $status

#!/bin/sh
# Times fwbforge2 against the durable floor (a whole-file kernel copy, flushed and
# renamed into place) and cp of the same base image, side by side in one run, and
# compares peak memory across image sizes. As root with xfsprogs and a loop device,
# also measures the space one output adds on an XFS that shares extents.
# Usage: scripts/bench.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
tool="$build/app/fwbforge2"
floor="$build/bench/durable_floor"
maker="$build/examples/make_example_image"
work="$build/bench-run"
runs="${BENCH_RUNS:-30}"
max_floor_ratio=1.10
max_rss_growth_kib=1024
max_xfs_growth_mib=8

mounted=""
cleanup() {
    if [ -n "$mounted" ]; then
        umount "$mounted" || echo "bench: could not unmount $mounted" >&2
    fi
    rm -f "$work/xfs.img"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

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
    device 0c00 base-256m.fwb
    echo '</devices>'
} > update.xml

"$maker" base-4m.fwb $((4 << 20)) $((1 << 20)) 4096 4
"$maker" base-64m.fwb $((64 << 20)) $((32 << 20)) 4096 64

median() { awk -F, -v row="$2" 'NR == row + 1 { print $4 }' "$1"; }

for size in 4m 64m; do
    did=0b04
    [ "$size" = 64m ] && did=0b40
    # Every command replaces an output that is already there.
    for name in out floor copy; do cp "base-$size.fwb" "$name-$size.fwb"; done
    hyperfine --style basic --warmup 3 --runs "$runs" -N --export-csv "times-$size.csv" \
        -n fwbforge2 "$tool fb2f $did fb2f 0001 update.xml out-$size.fwb" \
        -n durable_floor "$floor base-$size.fwb floor-$size.fwb" \
        -n cp "cp base-$size.fwb copy-$size.fwb" > "hyperfine-$size.log" 2>&1 ||
        { cat "hyperfine-$size.log"; exit 1; }
    /usr/bin/time -o "peak-$size.txt" -f %M "$tool" fb2f $did fb2f 0001 update.xml out-$size.fwb > /dev/null
    awk -v t="$(median "times-$size.csv" 1)" -v f="$(median "times-$size.csv" 2)" \
        -v c="$(median "times-$size.csv" 3)" -v s="$size" -v m="$(cat "peak-$size.txt")" 'BEGIN {
        printf "%-4s fwbforge2 %.2f ms, durable floor %.2f ms, cp %.2f ms (medians)\n", s, t * 1000, f * 1000, c * 1000
        printf "%-4s ratio to the durable floor %.3f, ratio to cp %.3f\n", s, t / f, t / c
        printf "%-4s fwbforge2 peak RSS %d KiB\n", s, m }'
done

# Prints why XFS cannot be used here, or nothing.
xfs_unusable() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "not root"
    elif [ ! -e /dev/loop-control ]; then
        echo "no loop devices"
    elif ! PATH="$PATH:/usr/sbin:/sbin" command -v mkfs.xfs > /dev/null; then
        echo "mkfs.xfs not found (xfsprogs)"
    fi
}

used_bytes() { sync && stat -f -c '%b %f %S' "$1" | awk '{ printf "%d\n", ($1 - $2) * $3 }'; }

growth_mib() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", (b - a) / 1048576 }'; }

# Space one 256 MiB output adds on an XFS with reflinks, fwbforge2 and the floor.
xfs_growth() {
    truncate -s 1G xfs.img
    mkdir -p xfs
    if ! PATH="$PATH:/usr/sbin:/sbin" mkfs.xfs -q -f -m reflink=1 xfs.img > xfs.log 2>&1; then
        echo "xfs  skipped: mkfs.xfs -m reflink=1 failed: $(head -1 xfs.log)"
        return 0
    fi
    if ! mount -o loop xfs.img xfs > xfs.log 2>&1; then
        echo "xfs  skipped: mount -o loop failed: $(head -1 xfs.log)"
        return 0
    fi
    mounted="$work/xfs"
    "$maker" xfs/base-256m.fwb $((256 << 20)) $((128 << 20)) 4096 256
    before=$(used_bytes xfs)
    (cd xfs && "$tool" fb2f 0c00 fb2f 0001 ../update.xml out.fwb > /dev/null)
    after_tool=$(used_bytes xfs)
    "$floor" xfs/base-256m.fwb xfs/floor.fwb
    after_floor=$(used_bytes xfs)
    umount xfs && mounted=""
    tool_mib=$(growth_mib "$before" "$after_tool")
    floor_mib=$(growth_mib "$after_tool" "$after_floor")
    echo "xfs  256 MiB base: used space grew $tool_mib MiB for fwbforge2's output, $floor_mib MiB for the durable floor's"
    echo "$tool_mib" > xfs-growth.txt
}

reason=$(xfs_unusable)
if [ -n "$reason" ]; then
    echo "xfs  skipped: $reason"
else
    xfs_growth
fi

status=0
ratio=$(awk -v t="$(median times-64m.csv 1)" -v f="$(median times-64m.csv 2)" 'BEGIN { printf "%.3f\n", t / f }')
if awk -v r="$ratio" -v bar="$max_floor_ratio" 'BEGIN { exit !(r > bar) }'; then
    echo "FAIL: 64 MiB ratio to the durable floor $ratio exceeds $max_floor_ratio"
    status=1
else
    echo "OK: 64 MiB ratio to the durable floor $ratio is within $max_floor_ratio"
fi
rss_4m=$(cat peak-4m.txt)
rss_64m=$(cat peak-64m.txt)
if [ $((rss_64m - rss_4m)) -gt "$max_rss_growth_kib" ]; then
    echo "FAIL: peak RSS grows from $rss_4m KiB at 4 MiB to $rss_64m KiB at 64 MiB"
    status=1
else
    echo "OK: peak RSS flat in the image's size ($rss_4m KiB at 4 MiB, $rss_64m KiB at 64 MiB)"
fi
if [ -f xfs-growth.txt ]; then
    growth=$(cat xfs-growth.txt)
    if awk -v g="$growth" -v bar="$max_xfs_growth_mib" 'BEGIN { exit !(g > bar) }'; then
        echo "FAIL: a 256 MiB output on XFS with reflinks added $growth MiB, over $max_xfs_growth_mib MiB"
        status=1
    else
        echo "OK: a 256 MiB output on XFS with reflinks added $growth MiB, within $max_xfs_growth_mib MiB"
    fi
fi
exit $status

#!/bin/sh
# Measures fwbdata normalize (parsed, written, flushed, read back, renamed) on the
# 85 MB update-data file of 300 000 devices that bench-inspect.sh reads, against
# fwbinspect --update-data on the same file, side by side in short rounds (the
# fastest of a few runs each, the order turned every round); the bar is on the
# median of the rounds' ratios. Peak RSS must stay under 64 MiB.
# Usage: scripts/bench-fwbdata.sh BUILD_DIR
set -eu

scripts=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
data="$build/app/fwbdata"
inspect="$build/app/fwbinspect"
work="$build/bench-fwbdata"
rounds="${BENCH_ROUNDS:-7}"
devices=300000
max_rss_kib=$((64 * 1024))
max_ratio=8.00

rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$scripts/make-bench-update-data.sh" "$devices" update.xml
# As bench-inspect.sh: a regular base image, so the check finds nothing to report.
: > base.fwb
echo "update data: $(stat -c %s update.xml) bytes, $devices devices"

/usr/bin/time -o peak.txt -f %M "$data" normalize update.xml out.xml
cmp -s update.xml out.xml || { echo "FAIL: normalize changed the scanner's own layout"; exit 1; }

normalize_cmd="$data normalize update.xml out.xml"
inspect_cmd="$inspect --update-data update.xml"
: > rounds.txt
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 0 ]; then
        set -- -n inspect "$inspect_cmd" -n normalize "$normalize_cmd"
    else
        set -- -n normalize "$normalize_cmd" -n inspect "$inspect_cmd"
    fi
    hyperfine --style none --warmup 1 --runs 3 -N -i --export-csv round.csv "$@" > hyperfine.log 2>&1 ||
        { cat hyperfine.log; exit 1; }
    awk -F, 'NR > 1 { fastest[$1] = $7 * 1000 }
        END { printf "%.3f %.3f\n", fastest["inspect"], fastest["normalize"] }' round.csv >> rounds.txt
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
of_rounds() { awk "{ print $1 }" rounds.txt | median; }
inspect=$(of_rounds '$1')
normalize=$(of_rounds '$2')
ratio=$(awk -v r="$(of_rounds '$2 / $1')" 'BEGIN { printf "%.2f\n", r }')
peak=$(cat peak.txt)
printf "fwbinspect --update-data %.1f ms, fwbdata normalize %.1f ms (medians of %d rounds)\n" \
    "$inspect" "$normalize" "$rounds"
echo "ratio: $ratio; peak RSS of normalize: $peak KiB"

status=0
if [ "$peak" -ge "$max_rss_kib" ]; then
    echo "FAIL: normalize peak RSS $peak KiB is not under $max_rss_kib KiB"
    status=1
else
    echo "OK: normalize peak RSS $peak KiB is under $max_rss_kib KiB"
fi
if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
    echo "FAIL: normalize takes $ratio times fwbinspect --update-data, over $max_ratio"
    status=1
else
    echo "OK: normalize takes $ratio times fwbinspect --update-data, within $max_ratio"
fi
exit $status

#!/bin/sh
# Measures fwbinspect --update-data on an 85 MB update-data file of 300 000 devices:
# peak RSS of the text and the --json report, and their time against fwbforge2
# looking up the file's last device. The three are timed side by side in short
# rounds (the fastest of a few runs each, the order turned every round), and the
# bar is on the median of the rounds' ratios: the load of a shared machine moves
# within a round far less than across one long block of runs per command.
# Usage: scripts/bench-inspect.sh BUILD_DIR
set -eu

scripts=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
inspect="$build/app/fwbinspect"
forge="$build/app/fwbforge2"
work="$build/bench-inspect"
rounds="${BENCH_ROUNDS:-15}"
devices=300000
max_rss_kib=$((64 * 1024))
max_ratio=3.00

rm -rf "$work" && mkdir -p "$work" && cd "$work"

"$scripts/make-bench-update-data.sh" "$devices" update.xml
last=$((devices - 1))
last_did=$(printf '%04x' $((4096 + last / 65536)))
last_ssid=$(printf '%04x' $((last % 65536)))
# A regular file, so the check finds nothing to report; an empty one, so that
# fwbforge2 stops right after its lookup (its region is too small) and writes nothing.
: > base.fwb

size=$(stat -c %s update.xml)
echo "update data: $size bytes, $devices devices; last device fb2f $last_did fb2f $last_ssid"

/usr/bin/time -o peak-text.txt -f %M "$inspect" --update-data update.xml > report.txt
/usr/bin/time -o peak-json.txt -f %M "$inspect" --update-data update.xml --json > report.json
tail -1 report.txt

lookup_cmd="$forge fb2f $last_did fb2f $last_ssid update.xml out.fwb"
text_cmd="$inspect --update-data update.xml"
json_cmd="$inspect --update-data update.xml --json"
# One line a round: the fastest lookup, text and --json run, in milliseconds.
: > rounds.txt
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 0 ]; then
        set -- -n lookup "$lookup_cmd" -n text "$text_cmd" -n json "$json_cmd"
    else
        set -- -n json "$json_cmd" -n text "$text_cmd" -n lookup "$lookup_cmd"
    fi
    hyperfine --style none --warmup 1 --runs 3 -N -i --export-csv round.csv "$@" > hyperfine.log 2>&1 ||
        { cat hyperfine.log; exit 1; }
    awk -F, 'NR > 1 { fastest[$1] = $7 * 1000 }
        END { printf "%.3f %.3f %.3f\n", fastest["lookup"], fastest["text"], fastest["json"] }' round.csv >> rounds.txt
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
of_rounds() { awk "{ print $1 }" rounds.txt | median; }
lookup=$(of_rounds '$1')
text=$(of_rounds '$2')
json=$(of_rounds '$3')
text_ratio=$(of_rounds '$2 / $1')
json_ratio=$(of_rounds '$3 / $1')
awk -v l="$lookup" -v t="$text" -v j="$json" -v rt="$text_ratio" -v rj="$json_ratio" -v n="$rounds" \
    -v mt="$(cat peak-text.txt)" -v mj="$(cat peak-json.txt)" 'BEGIN {
    printf "fwbforge2 lookup of the last device %.1f ms, fwbinspect --update-data %.1f ms, with --json %.1f ms (medians of %d rounds)\n", l, t, j, n
    printf "ratio to the lookup: text %.2f, --json %.2f (medians of the rounds)\n", rt, rj
    printf "peak RSS: text %d KiB, --json %d KiB\n", mt, mj }'

status=0
for kind in text json; do
    peak=$(cat "peak-$kind.txt")
    if [ "$peak" -ge "$max_rss_kib" ]; then
        echo "FAIL: --update-data ($kind) peak RSS $peak KiB is not under $max_rss_kib KiB"
        status=1
    else
        echo "OK: --update-data ($kind) peak RSS $peak KiB is under $max_rss_kib KiB"
    fi
done
check_ratio() {
    ratio=$(awk -v r="$2" 'BEGIN { printf "%.2f\n", r }')
    if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
        echo "FAIL: --update-data ($1) takes $ratio times the lookup, over $max_ratio"
        status=1
    else
        echo "OK: --update-data ($1) takes $ratio times the lookup, within $max_ratio"
    fi
}
check_ratio text "$text_ratio"
check_ratio json "$json_ratio"
exit $status

#!/bin/sh
# Measures fwbinspect --update-data on an 85 MB update-data file of 300 000 devices:
# peak RSS of the text and the --json report, and their time against fwbforge2
# looking up the file's last device, side by side in one hyperfine run. The bar is
# on the fastest run of each: on a shared machine the load moves the medians (printed too).
# Usage: scripts/bench-inspect.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
inspect="$build/app/fwbinspect"
forge="$build/app/fwbforge2"
work="$build/bench-inspect"
runs="${BENCH_RUNS:-20}"
devices=300000
max_rss_kib=$((64 * 1024))
max_ratio=2.00

rm -rf "$work" && mkdir -p "$work" && cd "$work"

# Invented identifiers, a 34-byte MAC and a 24-byte PHY blob per device.
awk -v n="$devices" 'BEGIN {
    print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    print "<updatedata>"
    for (i = 0; i < n; i++) {
        printf "  <device>\n    <pciid vid=\"fb2f\" did=\"%04x\" sdid=\"%04x\" svid=\"fb2f\" />\n", 4096 + int(i / 65536), i % 65536
        printf "    <mac>4642464f52474532%08x000200030004a1b2c3d4e5f60718293a4b5c6d7e8f90</mac>\n", i
        printf "    <phy>50485931%08x0c1e2d3c4b5a69788796a5b4c3d2e1f0</phy>\n", i
        printf "    <exprom>%s</exprom>\n    <image>base.fwb</image>\n  </device>\n", (i % 2 ? "True" : "False")
    }
    print "</updatedata>"
}' > update.xml
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

hyperfine --style basic --warmup 2 --runs "$runs" -N -i --export-csv times.csv \
    -n fwbforge2-lookup "$forge fb2f $last_did fb2f $last_ssid update.xml out.fwb" \
    -n fwbinspect-text "$inspect --update-data update.xml" \
    -n fwbinspect-json "$inspect --update-data update.xml --json" > hyperfine.log 2>&1 ||
    { cat hyperfine.log; exit 1; }

column() { awk -F, -v row="$1" -v col="$2" 'NR == row + 1 { print $col }' times.csv; }
median() { column "$1" 4; }
fastest() { column "$1" 7; }
awk -v l="$(median 1)" -v t="$(median 2)" -v j="$(median 3)" \
    -v fl="$(fastest 1)" -v ft="$(fastest 2)" -v fj="$(fastest 3)" \
    -v mt="$(cat peak-text.txt)" -v mj="$(cat peak-json.txt)" 'BEGIN {
    printf "medians: fwbforge2 lookup of the last device %.1f ms, fwbinspect --update-data %.1f ms, with --json %.1f ms\n", l * 1000, t * 1000, j * 1000
    printf "fastest: fwbforge2 lookup of the last device %.1f ms, fwbinspect --update-data %.1f ms, with --json %.1f ms\n", fl * 1000, ft * 1000, fj * 1000
    printf "ratio to the lookup: text %.2f (medians %.2f), --json %.2f (medians %.2f)\n", ft / fl, t / l, fj / fl, j / l
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
lookup=$(fastest 1)
for row in 2 3; do
    ratio=$(awk -v t="$(fastest $row)" -v l="$lookup" 'BEGIN { printf "%.2f\n", t / l }')
    kind=$([ $row -eq 2 ] && echo text || echo json)
    if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
        echo "FAIL: --update-data ($kind) takes $ratio times the lookup, over $max_ratio"
        status=1
    else
        echo "OK: --update-data ($kind) takes $ratio times the lookup, within $max_ratio"
    fi
done
exit $status

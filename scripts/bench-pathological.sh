#!/bin/sh
# The update-data check and a batch's listing on three files made to be hard: an
# entry left open over many lines, a million keys on one line, a hundred thousand
# devices sharing one value. Each run must take time linear in the file's size
# and memory for its longest line and a few words a device: fails when the check
# takes 2 s or more, --all --dry-run 10 s or more, or either peak RSS reaches
# three times the file's size plus 64 MiB.
# Usage: scripts/bench-pathological.sh BUILD_DIR
set -eu

build=$(cd "${1:-build}" && pwd)
forge="$build/app/fwbforge2"
inspect="$build/app/fwbinspect"
work="$build/bench-pathological-run"
rm -rf "$work" && mkdir -p "$work" && cd "$work"

# A base whose region holds a 1 KiB MAC and a 1 KiB PHY blob, so that every device is sealed.
"$build/examples/make_example_image" base.fwb 8480 6144 2336 7 > /dev/null

awk 'function key(i) { return sprintf("<pciid vid=\"fb2f\" did=\"%04x\" sdid=\"%04x\" svid=\"fb2f\" />", int(i / 65536), i % 65536) }
BEGIN {
    # open-entries.xml: 100 000 keys with distinct <mac> values on one line, then 5 000 lines
    for (i = 0; i < 100000; i++) printf "%s<mac>%08x</mac>", key(i), i > "open-entries.xml"
    printf "\n" > "open-entries.xml"
    for (i = 0; i < 5000; i++) print "<exprom>True</exprom>" > "open-entries.xml"
    print "<phy>0c</phy><image>base.fwb</image>" > "open-entries.xml"
    # one-line.xml: 1 000 000 keys on one line, then two 2 KiB <phy> lines
    for (i = 0; i < 1000000; i++) printf "%s", key(i) > "one-line.xml"
    printf "\n" > "one-line.xml"
    phy = ""; for (i = 0; i < 1024; i++) phy = phy "ab"
    print "<phy>" phy "</phy>" > "one-line.xml"
    gsub(/ab/, "cd", phy)
    print "<phy>" phy "</phy>" > "one-line.xml"
    print "<mac>0a</mac><image>base.fwb</image>" > "one-line.xml"
    # shared-values.xml: 100 000 devices sharing one 2 KiB MAC and PHY
    for (i = 0; i < 100000; i++) print key(i) > "shared-values.xml"
    print "<mac>" phy "</mac>" > "shared-values.xml"
    print "<phy>" phy "</phy>" > "shared-values.xml"
    print "<exprom>False</exprom>\n<image>base.fwb</image>" > "shared-values.xml"
}'

status=0
# Runs a command, prints its time and peak RSS, and checks both against the bars.
measure() {
    label=$1 file=$2 max_seconds=$3
    shift 3
    /usr/bin/time -f "%e %M" -o time.txt "$@" > /dev/null 2>&1 || true
    read -r seconds kib <<EOT
$(tail -n 1 time.txt)
EOT
    size=$(wc -c < "$file")
    max_kib=$((3 * size / 1024 + 65536))
    printf "%-34s %-18s %6.2f s  %7d KiB (bars: %d s, %d KiB)\n" "$label" "$file" "$seconds" "$kib" "$max_seconds" "$max_kib"
    if awk -v s="$seconds" -v m="$max_seconds" 'BEGIN { exit !(s >= m) }'; then
        echo "FAIL: $label on $file took $seconds s"; status=1
    fi
    if [ "$kib" -ge "$max_kib" ]; then
        echo "FAIL: $label on $file took $kib KiB"; status=1
    fi
}

for file in open-entries.xml one-line.xml shared-values.xml; do
    measure "fwbinspect --update-data" "$file" 2 "$inspect" --update-data "$file"
    measure "fwbforge2 --all --dry-run" "$file" 10 "$forge" --all --dry-run "$file" out
done
[ "$status" -eq 0 ] && echo "OK: every run within its bars"
exit $status

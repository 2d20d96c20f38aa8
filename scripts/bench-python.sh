#!/bin/sh
# Measures the Python module against the tools a station would otherwise call:
# 500 expect() calls in one interpreter against 500 `fwbinspect --expect` runs,
# side by side in short rounds (the order turned every round; the bar is on the
# median of the rounds' ratios), and the peak RSS of provision() to memory of a
# 64 MiB image over that of the same interpreter that only looked the entry up.
# Usage: scripts/bench-python.sh BUILD_DIR (after make python)
set -eu

build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
python=/usr/bin/python3
inspect="$build/app/fwbinspect"
work="$build/bench-python"
rounds="${BENCH_ROUNDS:-3}"
calls=500
max_ratio=0.10
max_extra_kib=$((64 * 1024 + 4 * 1024))

if [ ! -d "$build/python" ]; then
    echo "bench-python.sh: no module in $build/python: run make python first" >&2
    exit 1
fi
export PYTHONPATH="$build/python"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
cp "$source_dir/examples/update-data.xml" "$source_dir/examples/example-base.fwb" .
device="fb2f 0a01 fb2f 0001"
"$python" -c "
import fwbforge2
d = fwbforge2.DeviceId.parse(*'$device'.split())
open('unit.fwb', 'wb').write(fwbforge2.provision(d, 'update-data.xml'))"

# Milliseconds for the calls alone: the interpreter stays up in a station.
module_ms() {
    "$python" -c "
import time, fwbforge2
d = fwbforge2.DeviceId.parse(*'$device'.split())
start = time.perf_counter()
for _ in range($calls):
    assert fwbforge2.expect('unit.fwb', d, 'update-data.xml').as_expected
print('%.3f' % ((time.perf_counter() - start) * 1000))"
}
# shellcheck disable=SC2086 # the device is four words
tool_ms() {
    start=$(date +%s%N)
    i=0
    while [ $i -lt $calls ]; do
        "$inspect" unit.fwb --expect $device update-data.xml > /dev/null
        i=$((i + 1))
    done
    echo $((($(date +%s%N) - start) / 1000)) | awk '{ printf "%.3f\n", $1 / 1000 }'
}
: > rounds.txt
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 0 ]; then
        module=$(module_ms)
        tool=$(tool_ms)
    else
        tool=$(tool_ms)
        module=$(module_ms)
    fi
    echo "$module $tool" >> rounds.txt
done
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
module=$(awk '{ print $1 }' rounds.txt | median)
tool=$(awk '{ print $2 }' rounds.txt | median)
ratio=$(awk '{ print $1 / $2 }' rounds.txt | median | awk '{ printf "%.3f\n", $1 }')
echo "$calls expect calls: module $module ms, fwbinspect --expect runs $tool ms (medians of $rounds rounds)"

# A 64 MiB base image, and an entry that names it.
"$build/examples/make_example_image" base64.fwb 67108864 65536 4096 2026 > /dev/null
sed 's/example-base.fwb/base64.fwb/' update-data.xml > update64.xml
peak_of() {
    /usr/bin/time -o peak.txt -f %M "$python" -c "
import fwbforge2
d = fwbforge2.DeviceId.parse(*'$device'.split())
$1"
    cat peak.txt
}
looked_up=$(peak_of "fwbforge2.find_entry('update64.xml', d)")
provisioned=$(peak_of "assert len(fwbforge2.provision(d, 'update64.xml')) == 67108864")
extra=$((provisioned - looked_up))
echo "provision() of a 64 MiB image: peak RSS $provisioned KiB, $extra KiB over a lookup alone ($looked_up KiB)"

status=0
if awk -v r="$ratio" -v bar="$max_ratio" 'BEGIN { exit !(r > bar) }'; then
    echo "FAIL: the module's expect() takes $ratio times fwbinspect --expect, over $max_ratio"
    status=1
else
    echo "OK: the module's expect() takes $ratio times fwbinspect --expect, within $max_ratio"
fi
if [ "$extra" -gt "$max_extra_kib" ]; then
    echo "FAIL: provision() to memory took $extra KiB over the lookup, over $max_extra_kib KiB"
    status=1
else
    echo "OK: provision() to memory took $extra KiB over the lookup, within $max_extra_kib KiB"
fi
exit $status

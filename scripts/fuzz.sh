#!/bin/sh
# Builds the libFuzzer harnesses with clang and runs each for SECONDS on a copy of
# its seed corpus. Any finding fails the run; its input is kept in the findings folder.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS [HARNESS...]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$1"
seconds="$2"
shift 2
harnesses="${*:-hex update_data provision image_reader xml_source csv_source}"

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFWBFORGE2_FUZZ=ON -DFWBFORGE2_SANITIZE=ON -DBUILD_TESTING=OFF > /dev/null
targets=""
for name in $harnesses; do targets="$targets fuzz_$name"; done
cmake --build "$build" -j "$(nproc)" --target $targets > "$build/fuzz-build.log" 2>&1 ||
    { cat "$build/fuzz-build.log"; exit 1; }

status=0
for name in $harnesses; do
    work="$build/fuzz-run/$name"
    rm -rf "$work" && mkdir -p "$work/corpus" "$work/findings"
    cp "$root/fuzz/corpus/$name/"* "$work/corpus/"
    if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/findings/" "$work/corpus" > "$work/log" 2>&1; then
        runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$work/log")
        echo "fuzz_$name: $runs executions in $seconds s, no finding"
    else
        echo "fuzz_$name: FINDING (input in $work/findings/, log in $work/log)"
        tail -40 "$work/log"
        status=1
    fi
done
exit $status

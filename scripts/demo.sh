#!/bin/sh
# Provisions the bundled example for one device in BUILD_DIR/demo.
# Usage: scripts/demo.sh BUILD_DIR
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
demo="$build/demo"
mkdir -p "$demo" && cd "$demo"
cp "$root/examples/update-data.xml" .
# 1 MiB of filler with a 4 KiB BDP region at 64 KiB, sealed with empty board data.
"$build/examples/make_example_image" example-base.fwb 1048576 65536 4096 2026

echo "\$ fwbforge2 fb2f 0a02 fb2f 0011 update-data.xml device.fwb"
"$build/app/fwbforge2" fb2f 0a02 fb2f 0011 update-data.xml device.fwb
echo "(in $demo)"

#!/bin/sh
# Provisions the bundled example for one device in BUILD_DIR/demo and verifies the
# result, then makes the image of every device the example lists, with its manifest,
# and the images of the boards a table lists.
# Usage: scripts/demo.sh BUILD_DIR
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo" && cd "$demo"
cp "$root/examples/update-data.xml" "$root/examples/example-base.fwb" .

run() {
    echo "\$ $*"
    "$build/app/$@"
    echo
}
run fwbinspect --update-data update-data.xml
run fwbforge2 fb2f 0a02 fb2f 0011 update-data.xml device.fwb
run fwbinspect device.fwb
run fwbforge2 --all update-data.xml images
echo "\$ ls images"
ls images
echo
echo "\$ head -22 images/manifest.json"
head -22 images/manifest.json
echo "  ..."
echo
run fwbinspect --manifest images/manifest.json
# Line data that starts as a spreadsheet: a table, then images from it.
printf 'vid,did,svid,ssid,mac,phy,exprom,image\r\nfb2f,0b01,fb2f,0001,00112233,4455,True,example-base.fwb\r\nfb2f,0b01,fb2f,0002,00112244,,False,"example-base.fwb"\r\n' > boards.csv
echo "\$ cat boards.csv"
cat boards.csv
echo
run fwbdata from-csv boards.csv boards.xml
run fwbforge2 --all boards.xml board-images
echo "\$ ls board-images"
ls board-images
echo
echo "(files in $demo)"

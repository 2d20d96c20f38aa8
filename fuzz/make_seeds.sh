#!/bin/sh
# Writes the committed seed corpus from the project's own example and tools.
# Usage: fuzz/make_seeds.sh BUILD_DIR
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
corpus="$root/fuzz/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

key='<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />'
printf '0a0b0c' > "$corpus/hex/even"
printf 'aBc' > "$corpus/hex/odd"
printf '0g' > "$corpus/hex/not-hex"
printf '%s' "$(printf 'ee%.0s' $(seq 1024))" > "$corpus/hex/full"

cp "$root/examples/update-data.xml" "$corpus/update_data/example.xml"
printf '%s\r\n<mac>0a0b</mac><phy>0c</phy><exprom>True</exprom>\r\n<image>base.fwb\r\n' "$key" > "$corpus/update_data/crlf.xml"
printf '<pciid vid="FB2F" did="0a01"  sdid="0001" svid="fb2f" />\n%s<mac>0a0</mac>\n<mac></mac><image>i<\n' "$key" > "$corpus/update_data/near-miss.xml"
tr '\n' '\r' < "$root/examples/update-data.xml" > "$corpus/update_data/cr-only.xml"
tr -d '\n' < "$root/examples/update-data.xml" > "$corpus/update_data/one-line.xml"

"$build/examples/make_example_image" "$work/base.fwb" 8192 6144 1024 7
cp "$work/base.fwb" "$corpus/image_reader/sealed-empty.fwb"
printf '%s<mac>0a0b0c</mac><phy>d0d1</phy><exprom>False</exprom><image>base.fwb</image>\n' "$key" > "$work/u.xml"
(cd "$work" && "$build/app/fwbforge2" fb2f 0a01 fb2f 0001 u.xml out.fwb > /dev/null)
cp "$work/out.fwb" "$corpus/image_reader/provisioned.fwb"
head -c 6500 "$work/out.fwb" > "$corpus/image_reader/truncated.fwb"

# exprom 0, PHY 5 and MAC 6 bytes, placed region (gap 16, 4 spare region bytes, 8 after), blobs, image.
{ printf '\000\005\000\006\000\001\020\000\004\010'; printf 'PPPPPMMMMMM'; head -c 7000 "$work/base.fwb"; } \
    > "$corpus/provision/placed"
{ printf '\001\002\000\003\000\000\000\000\000\000'; printf 'PPMMM'; cat "$work/base.fwb"; } \
    > "$corpus/provision/as-is"

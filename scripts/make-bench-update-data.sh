#!/bin/sh
# Writes the benches' update data: DEVICES devices with invented identifiers, a
# 34-byte MAC and a 24-byte PHY blob each (300 000 make 85 MB).
# Usage: scripts/make-bench-update-data.sh DEVICES OUT
set -eu
awk -v n="$1" 'BEGIN {
    print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    print "<updatedata>"
    for (i = 0; i < n; i++) {
        printf "  <device>\n    <pciid vid=\"fb2f\" did=\"%04x\" sdid=\"%04x\" svid=\"fb2f\" />\n", 4096 + int(i / 65536), i % 65536
        printf "    <mac>4642464f52474532%08x000200030004a1b2c3d4e5f60718293a4b5c6d7e8f90</mac>\n", i
        printf "    <phy>50485931%08x0c1e2d3c4b5a69788796a5b4c3d2e1f0</phy>\n", i
        printf "    <exprom>%s</exprom>\n    <image>base.fwb</image>\n  </device>\n", (i % 2 ? "True" : "False")
    }
    print "</updatedata>"
}' > "$2"

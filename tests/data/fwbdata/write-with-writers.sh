#!/bin/sh
# Writes the same update data with the XML writers people use, into OUTDIR:
# ElementTree (attributes in another order too), minidom, lxml plain and pretty,
# xmlstarlet fo of that, and xmlstarlet ed of the bundled example (one MAC edited).
# Debian's Python, whose python3-lxml the tests install.
# Usage: write-with-writers.sh EXAMPLE OUTDIR
set -eu
example="$1"
out="$2"
/usr/bin/python3 - "$out" <<'PY'
import sys
import xml.etree.ElementTree as ET
from xml.dom import minidom
from lxml import etree

out = sys.argv[1]
entries = [
    ([("fb2f", "0a01", "0001", "fb2f")], "4642464f5247453200010002", "5048593100000010",
     "True", "R&D-base.fwb"),
    ([("fb2f", "0a02", "0010", "fb2f"), ("FB2F", "0A02", "0011", "FB2F")],
     "4642464f52474532000100020003", "", "False", "example-base.fwb"),
]

def build(module, order):
    root = module.Element("updatedata")
    for ids, mac, phy, exprom, image in entries:
        device = module.SubElement(root, "device")
        for vid, did, sdid, svid in ids:
            attributes = {"vid": vid, "did": did, "sdid": sdid, "svid": svid}
            pciid = module.SubElement(device, "pciid")
            for name in order:
                pciid.set(name, attributes[name])
        for tag, text in (("mac", mac), ("phy", phy), ("exprom", exprom), ("image", image)):
            module.SubElement(device, tag).text = text
    return root

ET.ElementTree(build(ET, ["vid", "did", "sdid", "svid"])).write(
    out + "/elementtree.xml", encoding="UTF-8", xml_declaration=True)
ET.ElementTree(build(ET, ["svid", "sdid", "did", "vid"])).write(
    out + "/elementtree-reordered.xml", encoding="UTF-8", xml_declaration=True)
plain = ET.tostring(build(ET, ["vid", "did", "sdid", "svid"]), encoding="unicode")
with open(out + "/minidom.xml", "w", encoding="UTF-8") as f:
    f.write(minidom.parseString(plain).toprettyxml(indent="  "))
for name, pretty in (("lxml.xml", False), ("lxml-pretty.xml", True)):
    tree = etree.ElementTree(build(etree, ["vid", "did", "sdid", "svid"]))
    tree.write(out + "/" + name, pretty_print=pretty, xml_declaration=True, encoding="UTF-8")
PY
xmlstarlet fo "$out/elementtree.xml" > "$out/xmlstarlet-fo.xml"
xmlstarlet ed -u '(//mac)[1]' -v 00112233 "$example" > "$out/xmlstarlet-ed.xml"

"""The module against the command-line tools: the same inputs give the same
bytes, statuses and lines."""

import faulthandler
import hashlib
import json
import os
import pathlib
import threading

import pytest

import fwbforge2
from conftest import failure_lines

GOOD = [("fb2f", "0a01", "fb2f", "0001"), ("fb2f", "0a02", "fb2f", "0011"),
        ("fb2f", "0a03", "fb30", "0001")]
# (identifiers, update data): each fails in fwbforge2 in its own way.
FAILING = [
    (("fb2f", "ffff", "0", "0"), "update-data.xml"),  # no entry
    (("fb2f", "0b01", "fb2f", "0001"), "broken.xml"),  # odd MAC text
    (("fb2f", "0b02", "fb2f", "0001"), "broken.xml"),  # PHY text not hex
    (("fb2f", "0b03", "fb2f", "0001"), "broken.xml"),  # base image missing
    (("fb2f", "0a01", "fb2f", "0001"), "missing.xml"),  # update data missing
]


def device(ids):
    return fwbforge2.DeviceId.parse(*ids)


@pytest.mark.parametrize("ids,expected", [
    (("fb2f", "0a02", "fb2f", "0011"), (0xFB2F, 0x0A02, 0xFB2F, 0x0011)),
    (("0xFB2F", " a02", "+fb2f", "11zz"), (0xFB2F, 0x0A02, 0xFB2F, 0x0011)),
    (("1ffff", "0", "0", "0"), None), (("0", "0", "0", "10000"), None),
    (("", "-1", "0", "0"), None)])
def test_parse_takes_and_refuses_identifiers_as_the_tool_does(station, forge, ids, expected):
    ran = forge(*ids, "update-data.xml", "out.fwb", "--dry-run")
    if expected is None:
        with pytest.raises(fwbforge2.Error) as raised:
            device(ids)
        assert raised.value.status == ran.status == 1
        assert raised.value.messages == ran.lines()
        return
    parsed = device(ids)
    assert (parsed.vid, parsed.did, parsed.svid, parsed.ssid) == expected
    assert parsed == fwbforge2.DeviceId(*expected)


@pytest.mark.parametrize("ids", GOOD)
def test_provision_gives_the_bytes_fwbforge2_writes(station, forge, ids):
    ran = forge(*ids, "update-data.xml", "tool.fwb")
    assert ran.status == 0
    image = fwbforge2.provision(device(ids), "update-data.xml")
    assert image == (station / "tool.fwb").read_bytes()


@pytest.mark.parametrize("ids,update_data", FAILING)
def test_provision_fails_with_the_tools_status_and_lines(station, forge, ids, update_data):
    ran = forge(*ids, update_data, "tool.fwb")
    with pytest.raises(fwbforge2.Error) as raised:
        fwbforge2.provision(device(ids), update_data)
    assert raised.value.status == ran.status
    assert raised.value.messages == failure_lines(ran, raised.value.messages)
    assert str(raised.value) == "\n".join(raised.value.messages)


@pytest.mark.parametrize("ids,output", [
    (GOOD[0], "module.fwb"), (GOOD[1], pathlib.Path("module.fwb")),
    (GOOD[2], b"module.fwb"), (GOOD[0], "update-data.xml"), (GOOD[0], "no-dir/module.fwb"),
    (("fb2f", "0b03", "fb2f", "0001"), "module.fwb")])
def test_provision_to_a_file_writes_and_refuses_as_fwbforge2(station, forge, ids, output):
    tool_output = "tool.fwb" if output != "update-data.xml" else output
    update_data = "broken.xml" if ids[1] == "0b03" else "update-data.xml"
    ran = forge(*ids, update_data, "no-dir/tool.fwb" if output == "no-dir/module.fwb" else
                tool_output)
    if ran.status:
        with pytest.raises(fwbforge2.Error) as raised:
            fwbforge2.provision(device(ids), update_data, output=output)
        assert raised.value.status == ran.status
        assert raised.value.messages == [
            line.replace("tool.fwb", "module.fwb") for line in failure_lines(
                ran, raised.value.messages)]
        return
    written = fwbforge2.provision(device(ids), update_data, output=output)
    tool_bytes = (station / "tool.fwb").read_bytes()
    assert (station / os.fsdecode(output)).read_bytes() == tool_bytes
    assert written.length == len(tool_bytes)
    assert written.sha256 == hashlib.sha256(tool_bytes).digest()
    assert written.sha256_hex == hashlib.sha256(tool_bytes).hexdigest()


MISSING_BASE = (("fb2f", "0b03", "fb2f", "0001"), "broken.xml")


# The lookup finds the entry whose base is missing; fwbforge2 stops only after it.
@pytest.mark.parametrize("ids,update_data",
                         [(ids, "update-data.xml") for ids in GOOD] + FAILING)
def test_find_entry_gives_what_fwbforge2_reads(station, forge, ids, update_data):
    ran = forge(*ids, update_data, "tool.fwb", "--dry-run")
    if ran.status and (ids, update_data) != MISSING_BASE:
        with pytest.raises(fwbforge2.Error) as raised:
            fwbforge2.find_entry(update_data, device(ids))
        assert raised.value.status == ran.status
        assert raised.value.messages == failure_lines(ran, raised.value.messages)
        return
    entry = fwbforge2.find_entry(update_data, device(ids))
    printed = dict(line.split(":", 1) for line in ran.lines()[:4])
    assert (entry.exprom, entry.image_name, len(entry.mac), len(entry.phy)) == (
        int(printed["exprom        "]), printed["Image Name    "],
        int(printed["macBdpLen     "]), int(printed["phyBdpLen     "]))
    listed = [e for e in fwbforge2.entries(update_data) if e.device == device(ids)]
    assert entry.key_line == listed[0].key_line


LISTED = ("key_line", "image_line", "mac_length", "phy_length", "exprom", "image_name")


@pytest.mark.parametrize("update_data", ["update-data.xml", "broken.xml", "missing.xml"])
def test_entries_and_check_give_what_the_tools_report(station, forge, inspect_tool, update_data):
    ran = inspect_tool("--update-data", update_data)
    if ran.status == 67:
        # entries() fails as fwbforge2 --all does, the check as fwbinspect does.
        for call, tool_ran in ((fwbforge2.entries, forge("--all", update_data, "images")),
                               (fwbforge2.check_update_data, ran)):
            with pytest.raises(fwbforge2.Error) as raised:
                call(update_data)
            assert raised.value.status == tool_ran.status == 67
            assert raised.value.messages == failure_lines(tool_ran, raised.value.messages)
        return
    report = json.loads(inspect_tool("--update-data", update_data, "--json").stdout)
    listed = [{"vid": f"{e.device.vid:04x}", "did": f"{e.device.did:04x}",
               "svid": f"{e.device.svid:04x}", "ssid": f"{e.device.ssid:04x}",
               **{key: getattr(e, key) for key in LISTED}}
              for e in fwbforge2.entries(update_data)]
    assert listed == [{key: d[key] for key in listed[0]} for d in report["devices"]]
    check = fwbforge2.check_update_data(update_data)
    assert check.devices == len(report["devices"])
    assert check.clean == (ran.status == 0)
    assert [(f.line, f.message) for f in check.findings] == [
        (f["line"], f["message"]) for f in report["findings"]]


@pytest.mark.parametrize("image", ["example-base.fwb", "provisioned", "corrupt", "update-data.xml",
                                   "missing.fwb", "."])
def test_inspect_gives_what_fwbinspect_reports(station, inspect_tool, image):
    if image in ("provisioned", "corrupt"):
        data = bytearray(fwbforge2.provision(device(GOOD[0]), "update-data.xml"))
        if image == "corrupt":
            data[65600] ^= 0xFF
        (station / image).write_bytes(data)
    ran = inspect_tool(image)
    if ran.status == 67:
        with pytest.raises(fwbforge2.Error) as raised:
            fwbforge2.inspect(image)
        assert raised.value.status == 67
        assert raised.value.messages == failure_lines(ran, raised.value.messages)
        return
    report = json.loads(inspect_tool(image, "--json").stdout)["images"][0]
    got = fwbforge2.inspect(image)
    assert got.verified == report["verified"] == (ran.status == 0)
    assert (got.length, got.bdp_offset, got.bdp_size, got.region_valid, got.header_complete,
            got.exprom_cleared) == (
        report["length"], report["bdp_offset"], report["bdp_size"], report["region_valid"],
        report["header_complete"], report["exprom"]["cleared"])
    digests = report["digests"]
    hexes = [(d.stored and d.stored.hex(), d.computed and d.computed.hex(), d.holds)
             for d in got.digests]
    assert hexes == [
        (digests[k]["stored"], digests[k]["computed"], digests[k]["ok"])
        for k in ("header", "second_area", "table")]
    assert [(e.index, e.type_name, e.type, e.length, e.in_region, e.digest.holds)
            for e in got.entries] == [
        (e["index"], e["type"], e["type_code"], e["length"], e["in_region"], e["digest"]["ok"])
        for e in report["entries"]]


@pytest.mark.parametrize("made_for,ids,update_data,base", [
    (GOOD[0], GOOD[0], "update-data.xml", None), (GOOD[1], GOOD[0], "update-data.xml", None),
    (GOOD[0], GOOD[0], "update-data.xml", "example-base.fwb"),
    (GOOD[0], ("fb2f", "0b01", "fb2f", "0001"), "broken.xml", None),
    (GOOD[0], ("fb2f", "0b03", "fb2f", "0001"), "broken.xml", None),
    (GOOD[0], GOOD[0], "missing.xml", None), (None, GOOD[0], "update-data.xml", None),
    (GOOD[0], GOOD[0], "update-data.xml", "missing-base.fwb")])
def test_expect_gives_what_fwbinspect_reports(station, inspect_tool, made_for, ids, update_data,
                                              base):
    image = "missing.fwb"
    if made_for:
        image = "unit.fwb"
        (station / image).write_bytes(fwbforge2.provision(device(made_for), "update-data.xml"))
    arguments = [image, "--expect", *ids, update_data, *(["--base", base] if base else [])]
    ran = inspect_tool(*arguments)
    if ran.status == 67:
        with pytest.raises(fwbforge2.Error) as raised:
            fwbforge2.expect(image, device(ids), update_data, base=base)
        assert raised.value.status == 67
        assert raised.value.messages == failure_lines(ran, raised.value.messages)
        return
    report = json.loads(inspect_tool(*arguments, "--json").stdout)
    got = fwbforge2.expect(image, device(ids), update_data, base=base)
    assert got.as_expected == report["as_expected"] == (ran.status == 0)
    assert got.refusal == (report["refusal"] or "")
    assert got.length == report["image"]["length"]
    assert [(d.part, d.offset) for d in got.differences] == [
        (d["part"], d["offset"]) for d in report["differences"]]


@pytest.mark.parametrize("a,b", [("example-base.fwb", "example-base.fwb"),
                                 ("unit.fwb", "example-base.fwb"), ("unit.fwb", "short.fwb"),
                                 ("missing.fwb", "example-base.fwb"), ("missing.fwb", "gone.fwb")])
def test_diff_gives_what_fwbinspect_reports(station, inspect_tool, a, b):
    (station / "unit.fwb").write_bytes(fwbforge2.provision(device(GOOD[0]), "update-data.xml"))
    (station / "short.fwb").write_bytes((station / "unit.fwb").read_bytes()[:70000])
    ran = inspect_tool("--diff", a, b)
    if ran.status == 67:
        with pytest.raises(fwbforge2.Error) as raised:
            fwbforge2.diff(a, b)
        assert raised.value.status == 67
        assert sorted(raised.value.messages) == sorted(ran.lines() + ran.error_lines())
        return
    report = json.loads(inspect_tool("--diff", a, b, "--json").stdout)
    got = fwbforge2.diff(a, b)
    assert got.identical == report["identical"] == (ran.status == 0)
    assert (got.length_a, got.length_b) == (report["a"]["length"], report["b"]["length"])
    assert [(d.part, d.offset) for d in got.differences] == [
        (d["part"], d["offset"]) for d in report["differences"]]


@pytest.mark.parametrize("call,exception", [
    (lambda: fwbforge2.DeviceId(0x10000, 0, 0, 0), ValueError),
    (lambda: fwbforge2.DeviceId(-1, 0, 0, 0), ValueError),
    (lambda: fwbforge2.DeviceId(0, 0, 2**70, 0), ValueError),
    (lambda: fwbforge2.DeviceId(0, 1.5, 0, 0), TypeError),
    (lambda: fwbforge2.entries(pathlib.Path("update-data.xml\0")), ValueError),
    (lambda: fwbforge2.inspect("example-base.fwb\0x"), ValueError),
    (lambda: fwbforge2.inspect(42), TypeError),
    (lambda: fwbforge2.provision(None, "update-data.xml"), TypeError),
    (lambda: fwbforge2.DeviceId.parse("fb2f", "0a01", "fb2f", 1), TypeError)])
def test_wrong_arguments_raise_and_leave_the_interpreter_standing(station, call, exception):
    with pytest.raises(exception):
        call()


def test_version_is_the_tools(forge):
    assert fwbforge2.__version__ == fwbforge2.version()
    assert forge("--version").stdout.decode() == f"fwbforge2 {fwbforge2.__version__}\n"


def test_calls_release_the_gil_while_they_wait(station):
    """Two threads each wait inside a call for a FIFO's writer; only this thread,
    which needs the GIL, can write to them."""
    faulthandler.dump_traceback_later(60, exit=True)
    try:
        fifos = [station / "first.xml", station / "second.xml"]
        results = [None, None]

        def check(index):
            results[index] = fwbforge2.check_update_data(fifos[index])

        threads = []
        for index, fifo in enumerate(fifos):
            os.mkfifo(fifo)
            threads.append(threading.Thread(target=check, args=(index,)))
            threads[-1].start()
        for fifo in fifos:
            with open(fifo, "wb") as writer:
                writer.write((station / "update-data.xml").read_bytes())
        for thread in threads:
            thread.join()
        assert [r.devices for r in results] == [4, 4]
    finally:
        faulthandler.cancel_dump_traceback_later()

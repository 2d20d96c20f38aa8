"""Runs the tools and the module on the same inputs in a fresh directory."""

import os
import pathlib
import shutil
import subprocess

import pytest

EXAMPLES = pathlib.Path(os.environ["EXAMPLES_DIR"])

# Update data whose entries each fail in another way; the base image is the example's.
BROKEN_UPDATE_DATA = """<updatedata>
  <device>
    <pciid vid="fb2f" did="0b01" sdid="0001" svid="fb2f" />
    <mac>123</mac>
    <phy>00</phy>
    <image>example-base.fwb</image>
  </device>
  <device>
    <pciid vid="fb2f" did="0b02" sdid="0001" svid="fb2f" />
    <mac>00</mac>
    <phy>zz</phy>
    <image>example-base.fwb</image>
  </device>
  <device>
    <pciid vid="fb2f" did="0b03" sdid="0001" svid="fb2f" />
    <mac>00</mac>
    <phy>00</phy>
    <image>no-such-base.fwb</image>
  </device>
  <device>
    <pciid vid="fb2f" did="0b04" sdid="0001" svid="fb2f" />
    <mac>0011</mac>
    <mac>2233</mac>
    <phy>00</phy>
    <image>example-base.fwb</image>
  </device>
</updatedata>
"""


class Ran:
    def __init__(self, completed):
        self.status = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr

    def lines(self):
        return self.stdout.decode().splitlines()

    def error_lines(self):
        return self.stderr.decode().splitlines()


@pytest.fixture
def station(tmp_path, monkeypatch):
    """A fresh directory holding the examples and the broken update data, made current."""
    for name in ("update-data.xml", "example-base.fwb"):
        shutil.copy(EXAMPLES / name, tmp_path / name)
    (tmp_path / "broken.xml").write_text(BROKEN_UPDATE_DATA)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def run_tool(variable, *args):
    return Ran(subprocess.run([os.environ[variable], *map(str, args)], capture_output=True,
                              check=False))


@pytest.fixture
def forge():
    return lambda *args: run_tool("FWBFORGE2", *args)


@pytest.fixture
def inspect_tool():
    return lambda *args: run_tool("FWBINSPECT", *args)


def failure_lines(ran, messages):
    """The lines the tool printed for its failure, as the module gives them: the
    last lines of standard output, then standard error's."""
    errors = ran.error_lines()
    printed = len(messages) - len(errors)
    return (ran.lines()[-printed:] if printed > 0 else []) + errors

import os
from typing import Optional, Union, overload

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

__version__: str

class Error(Exception):
    status: int
    messages: list[str]

class DeviceId:
    vid: int
    did: int
    svid: int
    ssid: int
    def __init__(self, vid: int, did: int, svid: int, ssid: int) -> None: ...
    @staticmethod
    def parse(vid: Union[str, bytes], did: Union[str, bytes], svid: Union[str, bytes],
              ssid: Union[str, bytes]) -> DeviceId: ...

class Written:
    length: int
    sha256: bytes
    sha256_hex: str

class Entry:
    mac: bytes
    phy: bytes
    exprom: int
    image_name: str
    key_line: int

class ListedEntry:
    device: DeviceId
    key_line: int
    image_line: int
    mac_length: Optional[int]
    phy_length: Optional[int]
    exprom: int
    image_name: str

class Finding:
    line: int
    message: str

class UpdateDataCheck:
    devices: int
    line_too_long: bool
    findings: list[Finding]
    clean: bool

class DigestCheck:
    name: str
    stored: Optional[bytes]  # None where the digest or its range lies past the end
    computed: Optional[bytes]
    in_file: bool
    holds: bool

class TableEntry:
    index: int
    type: int
    type_name: str
    length: int
    offset: int
    in_region: bool
    digest: DigestCheck

class Inspection:
    length: int
    header_complete: bool
    bdp_offset: int
    bdp_size: int
    region_valid: bool
    exprom_cleared: bool
    digests: list[DigestCheck]
    entries: list[TableEntry]
    verified: bool

class Difference:
    part: str
    offset: int

class Expectation:
    as_expected: bool
    refusal: str
    length: int
    base: str
    differences: list[Difference]

class Comparison:
    identical: bool
    length_a: int
    length_b: int
    differences: list[Difference]

@overload
def provision(device: DeviceId, update_data: _Path) -> bytes: ...
@overload
def provision(device: DeviceId, update_data: _Path, *, output: _Path) -> Written: ...
def find_entry(update_data: _Path, device: DeviceId) -> Entry: ...
def entries(update_data: _Path) -> list[ListedEntry]: ...
def check_update_data(update_data: _Path) -> UpdateDataCheck: ...
def inspect(image: _Path) -> Inspection: ...
def expect(image: _Path, device: DeviceId, update_data: _Path, *,
           base: Optional[_Path] = None) -> Expectation: ...
def diff(a: _Path, b: _Path) -> Comparison: ...
def version() -> str: ...

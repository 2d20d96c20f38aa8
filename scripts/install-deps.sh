#!/bin/sh
# Installs what building, testing and benchmarking need on a fresh Debian machine.
# Usage: scripts/install-deps.sh [windows|coverage]
#   windows: what the cross build for Windows and its tests under wine need instead
#   coverage: gcovr, for make coverage
set -eu

case "${1:-}" in
"")
    packages="cmake g++ clang libclang-rt-14-dev make pkg-config libtomcrypt-dev libssl-dev libgtest-dev nlohmann-json3-dev libexpat1-dev hyperfine time xfsprogs python3 python3-jsonschema zsh python3-lxml xmlstarlet pybind11-dev python3-dev python3-pytest"
    ;;
windows)
    # dpkg-dev unpacks the LibTomCrypt source package; libgtest-dev ships GoogleTest's source.
    packages="cmake make pkg-config g++-mingw-w64-x86-64-posix wine64 dpkg-dev libgtest-dev nlohmann-json3-dev"
    ;;
coverage)
    packages="gcovr"
    ;;
*)
    echo "install-deps.sh: unknown build '$1' (none, windows or coverage)" >&2
    exit 1
    ;;
esac

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=""
else
    as_root="sudo"
fi
echo "Installing:$missing"
$as_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq --no-install-recommends $missing

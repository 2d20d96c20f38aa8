#!/bin/sh
# Installs what building, testing and benchmarking need on a fresh Debian machine.
set -eu

missing=""
for package in cmake g++ clang libclang-rt-14-dev make pkg-config libtomcrypt-dev libgtest-dev nlohmann-json3-dev hyperfine time xfsprogs; do
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

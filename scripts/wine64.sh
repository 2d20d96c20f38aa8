#!/bin/sh
# Runs a Windows program under Debian's wine64 in the given prefix (made on first use),
# without wine's debug output and without the .NET and HTML engines, which nothing here needs.
# Usage: scripts/wine64.sh WINEPREFIX PROGRAM [ARGUMENTS...]
set -eu

launcher=$(dpkg -L wine64 2>/dev/null | grep '/wine64$' | head -n 1) || true
if [ -z "$launcher" ]; then
    echo "wine64.sh: wine64 is not installed (scripts/install-deps.sh windows)" >&2
    exit 127
fi
mkdir -p "$1"
WINEPREFIX=$(cd "$1" && pwd)
shift
export WINEPREFIX
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" exec "$launcher" "$@"

#!/bin/sh
# Runs COMMAND while the wine server of WINEPREFIX stays up, started apart from COMMAND's output:
# each Windows program then starts in a tenth of a second, and a test runner does not wait for
# wine's own services to let go of its pipes. The server is stopped at the end.
# Usage: scripts/wine-session.sh WINEPREFIX COMMAND [ARGUMENTS...]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
server=$(dpkg -L wine64 2>/dev/null | grep '/wineserver64$' | head -n 1) || true
if [ -z "$server" ]; then
    echo "wine-session.sh: wine64 is not installed (scripts/install-deps.sh windows)" >&2
    exit 127
fi
mkdir -p "$1"
WINEPREFIX=$(cd "$1" && pwd)
export WINEPREFIX
shift

"$server" -p </dev/null >/dev/null 2>&1
"$here/wine64.sh" "$WINEPREFIX" wineboot </dev/null >/dev/null 2>&1
status=0
"$@" || status=$?
"$server" -k || true
exit "$status"

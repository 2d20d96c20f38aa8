#!/bin/bash
# The completion files load, and offer each tool's options and the values they take.
# Usage: completions_test.sh COMPLETIONS_DIR
set -u
source "$1/fwbforge2.bash"
cd "$(mktemp -d)" && mkdir out && touch update-data.xml out/manifest.json
failures=0

# Completes the words given (the last is the one being typed) and compares.
expect_completion() {
    local function=$1 expected=$2
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function"
    local got="${COMPREPLY[*]}"
    if [[ $got != "$expected" ]]; then
        echo "FAIL: $* -> '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

expect_completion _fwbforge2 "--dry-run" fwbforge2 --dr
expect_completion _fwbforge2 "--only" fwbforge2 --all --on
expect_completion _fwbforge2 "--base-dir" fwbforge2 --base
expect_completion _fwbforge2 "out" fwbforge2 --base-dir o
expect_completion _fwbforge2 "update-data.xml" fwbforge2 --all upd
expect_completion _fwbforge2 "@update-data.xml" fwbforge2 --all --only @up
expect_completion _fwbinspect "--manifest" fwbinspect --man
expect_completion _fwbinspect "out/manifest.json" fwbinspect --manifest out/
expect_completion _fwbinspect "out" fwbinspect --base-dir o
expect_completion _fwbinspect "--blobs --base --base-dir" fwbinspect --b

if command -v zsh > /dev/null && ! zsh -n "$1/_fwbforge2"; then
    echo "FAIL: the zsh completion does not parse"
    failures=$((failures + 1))
fi
exit $((failures > 0))

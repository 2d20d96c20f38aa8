#!/bin/sh
# Builds the Windows target's libraries into BUILD_DIR/deps: LibTomCrypt's SHA-256 and expat from
# Debian's source packages, GoogleTest from the libgtest-dev source and the nlohmann-json headers.
# Each step is skipped when its result is already there, so the source is fetched once.
# Usage: scripts/windows-deps.sh BUILD_DIR
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
prefix="$build/deps"
sources="$build/src"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

# The deb entries of the machine's own sources (one-line and deb822 files), as deb-src entries
# for the same archives: only those whose suite is this release or one of its -updates kind.
write_source_entries() {
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$list" ] || continue
        awk -v codename="$codename" '
            $1 != "deb" { next }
            {
                i = 2
                if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                if ($(i + 1) == codename || index($(i + 1), codename "-") == 1) { $1 = "deb-src"; print }
            }' "$list" >>"$1/sources.list"
    done
    for list in /etc/apt/sources.list.d/*.sources; do
        [ -f "$list" ] || continue
        awk -v codename="$codename" '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && enabled != "no" && suites ~ ("(^| )" codename "(-[^ ]*)?( |$)"))
                    printf "Types: deb-src\n%s\n\n", stanza
                stanza = ""; types = ""; suites = ""; enabled = ""
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types); next }
            /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
            /^Enabled:/ { enabled = tolower($2) }
            { stanza = stanza (stanza == "" ? "" : "\n") $0 }
            END { flush() }' "$list" >>"$1/parts/machine-src.sources"
    done
}

# apt-get with a source list, package lists and cache of its own, so the machine's stay as they are.
private_apt() {
    apt-get -q -o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts="$state/parts" \
        -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache" "$@"
}

# Fetches and unpacks Debian's source package $1 into $sources.
fetch_source() {
    state=$(mktemp -d)
    trap 'rm -rf "$state"' EXIT
    mkdir -p "$state/parts" "$state/lists/partial" "$state/cache/archives/partial" "$state/download"
    if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
        # Run by root, apt downloads as _apt: let it reach its directories.
        chmod 755 "$state"
        chown -R _apt "$state/lists" "$state/cache" "$state/download"
    fi
    : >"$state/sources.list"
    write_source_entries "$state"
    if [ ! -s "$state/sources.list" ] && [ ! -s "$state/parts/machine-src.sources" ]; then
        echo "windows-deps.sh: no Debian archive for this release among the machine's apt sources" >&2
        exit 1
    fi
    private_apt update
    # A mirror may lack a security update's .dsc and patches while it has the upstream
    # tarball: what was fetched is kept, and the tarball alone unpacked then.
    (cd "$state/download" && private_apt source --download-only "$1") || true
    mkdir -p "$sources"
    cp "$state/download"/* "$sources/" 2>/dev/null || true
    if ls "$sources/$1"_*.dsc >/dev/null 2>&1; then
        # apt checked every file against the archive's signed index, as its own unpacking assumes.
        (cd "$sources" && dpkg-source --no-check -x "$1"_*.dsc)
    elif ls "$sources/$1"_*.orig.tar.* >/dev/null 2>&1; then
        (cd "$sources" && tar -xf "$1"_*.orig.tar.*)
    else
        echo "windows-deps.sh: Debian's archive gave no source of $1" >&2
        exit 1
    fi
    rm -rf "$state"
    trap - EXIT
}

# What sha256_init/process/done and the descriptor reach, and nothing else.
tomcrypt_sources="
    src/hashes/sha2/sha256.c
    src/misc/burn_stack.c
    src/misc/zeromem.c
    src/misc/compare_testvector.c
    src/misc/crypt/crypt_argchk.c
"

build_tomcrypt() {
    source_dir=$(find "$sources" -mindepth 1 -maxdepth 1 -type d -name 'libtomcrypt-*' | head -n 1)
    objects="$build/deps-build/tomcrypt"
    rm -rf "$objects" && mkdir -p "$objects" "$prefix/lib/pkgconfig" "$prefix/include"
    for source in $tomcrypt_sources; do
        "$cc" -O2 -I"$source_dir/src/headers" -c "$source_dir/$source" -o "$objects/$(basename "$source" .c).o"
    done
    "$ar" rcs "$objects/libtomcrypt.a" "$objects"/*.o
    cp "$source_dir"/src/headers/*.h "$prefix/include/"
    version=$(sed -n 's/^#define SCRYPT[ \t]*"\([^"]*\)".*/\1/p' "$source_dir/src/headers/tomcrypt.h")
    cat >"$prefix/lib/pkgconfig/libtomcrypt.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: LibTomCrypt
Description: SHA-256 of LibTomCrypt, built for x86_64-w64-mingw32
Version: $version
Libs: -L\${libdir} -ltomcrypt
Cflags: -I\${includedir}
EOF
    mv "$objects/libtomcrypt.a" "$prefix/lib/"
}

# The static library alone: no tools, examples, tests or documentation.
build_expat() {
    # Debian's unpacked source, or upstream's tarball, which keeps it one folder down.
    source_dir=$(dirname "$(find "$sources" -maxdepth 4 -path '*/lib/expat.h' | head -n 1)")
    source_dir=${source_dir%/lib}
    expat_build="$build/deps-build/expat"
    cmake -S "$source_dir" -B "$expat_build" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DFWBFORGE2_WINDOWS_PREFIX="$prefix" -DEXPAT_SHARED_LIBS=OFF \
        -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
        -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF
    cmake --build "$expat_build" -j2
    cmake --install "$expat_build"
}

build_googletest() {
    gtest_build="$build/deps-build/googletest"
    cmake -S /usr/src/googletest -B "$gtest_build" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DFWBFORGE2_WINDOWS_PREFIX="$prefix" -DBUILD_GMOCK=OFF
    cmake --build "$gtest_build" -j2
    cmake --install "$gtest_build"
}

copy_json_headers() {
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    cp -R /usr/include/nlohmann "$prefix/include/"
    cp -R /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
}

# Not "fetch && touch": set -e does not stop a failing fetch inside such a list.
if [ ! -f "$sources/libtomcrypt.stamp" ]; then
    fetch_source libtomcrypt
    touch "$sources/libtomcrypt.stamp"
fi
[ -f "$prefix/lib/libtomcrypt.a" ] || build_tomcrypt
if [ ! -f "$sources/expat.stamp" ]; then
    fetch_source expat
    touch "$sources/expat.stamp"
fi
[ -f "$prefix/lib/libexpat.a" ] || build_expat
[ -f "$prefix/lib/libgtest.a" ] || build_googletest
[ -f "$prefix/include/nlohmann/json.hpp" ] || copy_json_headers

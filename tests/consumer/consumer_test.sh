#!/bin/sh
# Installs the library into a temporary prefix and builds a program against it
# twice, through the CMake package and through pkg-config; both must run.
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR VERSION
set -eu
build=$1
source=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for component in libfwbforge2 libfwbforge2-dev; do
    cmake --install "$build" --prefix "$work/prefix" --component "$component" >/dev/null
done
cp "$source/examples/update-data.xml" "$source/examples/example-base.fwb" "$work"
expected="262144 bytes; missing device: 69"

cmake -S "$source/tests/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
got=$(cd "$work" && "$work/cmake/consumer" update-data.xml "$version")
[ "$got" = "$expected" ] || { echo "through CMake: $got"; exit 1; }

flags=$(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs fwbforge2)
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++17 -o "$work/pkgconfig-consumer" "$source/tests/consumer/consumer.cpp" $flags
got=$(cd "$work" && LD_LIBRARY_PATH="$work/prefix/lib" "$work/pkgconfig-consumer" update-data.xml "$version")
[ "$got" = "$expected" ] || { echo "through pkg-config: $got"; exit 1; }
echo "consumer: CMake package and pkg-config both build and run"

#!/bin/bash
# Installs the build into a scratch prefix, then builds a small C program
# against it twice: through pkg-config and through find_package(vekdc).
set -euo pipefail
build=$1 src=$2 cflags=$3 cc=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
libdir=$(dirname "$(find "$work/prefix" -name 'libvekdch9.so.10' | head -1)")
test -L "$libdir/libvekdch9.so"
test -f "$work/prefix/include/vekdc.h"

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags vekdc) "$src/main.c" \
    -o "$work/consumer_pc" $(pkg-config --libs vekdc) -Wl,-rpath,"$libdir"
"$work/consumer_pc"

# CMake package
cmake -S "$src" -B "$work/cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" \
    -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_RPATH="$libdir" > "$work/cmake.log"
cmake --build "$work/cmake" > "$work/build.log"
"$work/cmake/consumer"
echo "install test: pkg-config and find_package consumers both ran"

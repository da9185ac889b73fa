#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves it (nothing may depend on the prefix it was
# installed under) and builds and runs the consumer through find_package and through pkg-config.
# usage: run.sh BUILD_DIR CMAKE CXX [GENERATOR]
set -euo pipefail
build=$1
cmake=$2
cxx=$3
generator=${4:-Unix Makefiles}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Runs a command quietly; on failure shows its output and fails as WHAT.
quiet() { local what=$1; shift; "$@" >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail "$what"; }; }

quiet "cmake --install" "$cmake" --install "$build" --prefix "$tmp/stage"
mv "$tmp/stage" "$tmp/prefix"
prefix=$tmp/prefix

pc=$(find "$prefix" -name oxmiddle.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "no oxmiddle.pc installed"
libdir=$(dirname "$(dirname "$pc")")
# The installed program finds its libraries without LD_LIBRARY_PATH (the loader only lists them).
if [ -x "$prefix/bin/oxmail" ]; then
  loaded=$(env -u LD_LIBRARY_PATH LD_TRACE_LOADED_OBJECTS=1 "$prefix/bin/oxmail")
  printf '%s\n' "$loaded" | grep -q 'not found' && fail "installed oxmail misses a library: $loaded"
fi
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

# 1. CMake package.
quiet find_package "$cmake" -S "$here" -B "$tmp/cm" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix"
quiet "building the CMake consumer" "$cmake" --build "$tmp/cm"
"$tmp/cm/consumer" || fail "CMake consumer"

# 2. pkg-config, seeing only this prefix.
flags=$(PKG_CONFIG_LIBDIR="$libdir/pkgconfig" PKG_CONFIG_PATH= pkg-config --cflags --libs oxmiddle) ||
  fail "pkg-config oxmiddle"
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++20 "$here/consumer.cpp" $flags -o "$tmp/pc-consumer" || fail "building with pkg-config flags: $flags"
"$tmp/pc-consumer" || fail "pkg-config consumer"
echo "install test: CMake package and pkg-config consumers built and ran against $prefix"

#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the installed tree elsewhere (nothing may
# depend on the prefix it was installed under) and builds and runs the consumer twice: through
# find_package(OxMiddle) and through pkg-config.
#
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

"$cmake" --install "$build" --prefix "$tmp/stage" >"$tmp/install.log" ||
  { cat "$tmp/install.log"; fail "cmake --install"; }
mv "$tmp/stage" "$tmp/prefix"
prefix=$tmp/prefix

pc=$(find "$prefix" -name oxmiddle.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "no oxmiddle.pc installed"
libdir=$(dirname "$(dirname "$pc")")
# Checked by name too: without the version file the refusal of a newer version below would pass.
for f in include/oxmiddle/oxmiddle.h include/oxmiddle/frame/oxerror_table.inc \
         "${libdir#"$prefix"/}"/{liboxmiddle.so,cmake/OxMiddle/OxMiddle{Config,ConfigVersion,Targets}.cmake}; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
# The installed program finds every library it needs without LD_LIBRARY_PATH (the loader
# only lists what it would load; the program does not run).
if [ -x "$prefix/bin/oxmail" ]; then
  loaded=$(env -u LD_LIBRARY_PATH LD_TRACE_LOADED_OBJECTS=1 "$prefix/bin/oxmail")
  if printf '%s\n' "$loaded" | grep -q 'not found'; then
    fail "installed oxmail misses a library:
$loaded"
  fi
fi
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

# 1. CMake package.
"$cmake" -S "$here" -B "$tmp/cm" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" >"$tmp/cm.log" 2>&1 || { cat "$tmp/cm.log"; fail "find_package"; }
"$cmake" --build "$tmp/cm" >"$tmp/cm-build.log" 2>&1 ||
  { cat "$tmp/cm-build.log"; fail "building the CMake consumer"; }
"$tmp/cm/consumer" || fail "CMake consumer"

# The version file refuses a newer major version.
if "$cmake" -S "$here" -B "$tmp/cm-new" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
     -DCMAKE_PREFIX_PATH="$prefix" -DOXM_WANT_VERSION=99.0 >"$tmp/cm-new.log" 2>&1; then
  fail "find_package(OxMiddle 99.0) succeeded"
fi

# 2. pkg-config, seeing only this prefix.
flags=$(PKG_CONFIG_LIBDIR="$libdir/pkgconfig" PKG_CONFIG_PATH= pkg-config --cflags --libs oxmiddle) ||
  fail "pkg-config oxmiddle"
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++20 "$here/consumer.cpp" $flags -o "$tmp/pc-consumer" || fail "building with pkg-config flags: $flags"
"$tmp/pc-consumer" || fail "pkg-config consumer"
echo "install test: CMake package and pkg-config consumers built and ran against $prefix"

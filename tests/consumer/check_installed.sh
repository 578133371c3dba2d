#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs a build into a temporary prefix (cmake --install BUILD --prefix),
# checks the installed tree, moves it elsewhere (the CMake package and the
# .pc file must follow) and builds and runs an outside consumer against it
# through find_package(qelrpc) and through pkg-config.
#   check_installed.sh BUILD_DIR VERSION
# Environment: CMAKE, CC, GENERATOR, PKG_CONFIG (see consumer_lib.sh).
set -eu
build=$1
EXPECTED_VERSION=$2
major=${EXPECTED_VERSION%%.*}
. "$(dirname "$0")/consumer_lib.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qelrpc-installed.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

"$CMAKE" --install "$build" --prefix "$tmp/first" >"$tmp/install.log" 2>&1 || {
    cat "$tmp/install.log"
    fail "cmake --install $build --prefix $tmp/first"
}
# Moved after the install: nothing may still point at the first place.
mv "$tmp/first" "$tmp/moved"
prefix=$tmp/moved
echo "== installed tree"
(cd "$prefix" && find . ! -type d | sort)

lib=$(dirname "$(find "$prefix" -name "libqelrpc.so.$EXPECTED_VERSION" | head -n 1)")
[ -f "$lib/libqelrpc.so.$EXPECTED_VERSION" ] || fail "no libqelrpc.so.$EXPECTED_VERSION under $prefix"
expect_link "$lib" "libqelrpc.so.$major" "libqelrpc.so.$EXPECTED_VERSION"
expect_link "$lib" libqelrpc.so "libqelrpc.so.$major"
readelf -d "$lib/libqelrpc.so.$EXPECTED_VERSION" | grep -q "(SONAME).*\[libqelrpc.so.$major\]" ||
    fail "libqelrpc.so's SONAME is not libqelrpc.so.$major"
for f in "$lib/libqeldes.so" "$lib/libqelnis.so" "$prefix/include/qelrpc.h" \
    "$lib/cmake/qelrpc/qelrpcConfig.cmake" "$lib/cmake/qelrpc/qelrpcConfigVersion.cmake" \
    "$lib/cmake/qelrpc/qelrpcTargets.cmake" "$lib/pkgconfig/qelrpc.pc"; do
    [ -f "$f" ] || fail "$f is not installed"
done

# The installed programs (the tool, the reference daemon) find the moved
# library through their run path.
for prog in "$prefix"/bin/* "$prefix"/sbin/*; do
    [ -f "$prog" ] || continue
    expect_own_library "$prog" "$lib"
    echo "$(basename "$prog") loads the library from the installed tree"
done

build_and_run_consumer "$prefix" "$lib" "$tmp"
echo "check_installed: the consumer builds and runs against the installed tree both ways"

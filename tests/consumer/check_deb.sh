#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian package of a build (cpack -G DEB), checks what it holds
# (dpkg-deb -c) and its control fields, checks that the library looks for the
# directory-service library exactly where the package puts libqelnis.so,
# and builds and runs the outside consumer against the unpacked package.
# Where unshare works (root), the unpacked package is also mounted at its
# real place in a private mount namespace and the consumer runs from there
# with no path overrides, finding libqelnis.so as an installed system would.
#   check_deb.sh BUILD_DIR VERSION
# Environment: CMAKE, CPACK, CC, GENERATOR, PKG_CONFIG (see consumer_lib.sh).
set -eu
build=$1
EXPECTED_VERSION=$2
major=${EXPECTED_VERSION%%.*}
: "${CPACK:=cpack}"
. "$(dirname "$0")/consumer_lib.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qelrpc-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

"$CPACK" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log"
    fail "cpack -G DEB"
}
deb=$(find "$tmp/pkg" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb"
echo "== $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Maintainer Depends
[ "$(dpkg-deb -f "$deb" Package)" = qelrpc ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$EXPECTED_VERSION" ] || fail "package version"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "qelrpc developers" ] || fail "maintainer"
dpkg-deb -f "$deb" Depends | grep -q 'libgcrypt20' || fail "the package does not depend on libgcrypt20"

dpkg-deb -c "$deb" >"$tmp/contents"
echo "== dpkg-deb -c"
cat "$tmp/contents"
# Paths as dpkg-deb prints them ("./usr/..."), with " -> target" for links.
paths=$(awk '{ p = $6; for (i = 7; i <= NF; i++) p = p " " $i; print p }' "$tmp/contents")
so=$(echo "$paths" | grep "/libqelrpc\.so\.$EXPECTED_VERSION\$" | head -n 1) ||
    fail "no libqelrpc.so.$EXPECTED_VERSION in the package"
libdir=${so%/*}
has() {
    echo "$paths" | grep -qxF -- "$1" || fail "the package lacks $1"
}
has "$libdir/libqelrpc.so.$major -> libqelrpc.so.$EXPECTED_VERSION"
has "$libdir/libqelrpc.so -> libqelrpc.so.$major"
has "$libdir/libqeldes.so"
has "$libdir/libqelnis.so"
has "$libdir/cmake/qelrpc/qelrpcConfig.cmake"
has "$libdir/cmake/qelrpc/qelrpcConfigVersion.cmake"
has "$libdir/cmake/qelrpc/qelrpcTargets.cmake"
has "$libdir/pkgconfig/qelrpc.pc"
echo "$paths" | grep -q '^\./.*/include/qelrpc\.h$' || fail "the package lacks include/qelrpc.h"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
# The package's own library dir, as an installed system sees it.
installed_libdir=${libdir#.}
prefix_in_pkg=$(dirname "$(dirname "$(echo "$paths" | grep '/include/qelrpc\.h$' | head -n 1)")")
installed_prefix=${prefix_in_pkg#.}
readelf -d "$root$installed_libdir/libqelrpc.so.$EXPECTED_VERSION" | grep -q "(SONAME).*\[libqelrpc.so.$major\]" ||
    fail "libqelrpc.so's SONAME is not libqelrpc.so.$major"
# The library loads <libdir fixed at build time>/libqelnis.so; that must be
# the folder the package installs libqelnis.so into.
strings -a "$root$installed_libdir/libqelrpc.so.$EXPECTED_VERSION" | grep -qxF -- "$installed_libdir" ||
    fail "libqelrpc.so does not look for libqelnis.so in $installed_libdir, where the package installs it"
echo "libqelrpc.so looks for libqelnis.so in $installed_libdir, where the package puts it"

build_and_run_consumer "$root$installed_prefix" "$root$installed_libdir" "$tmp"

case $installed_prefix in
/usr/local | /usr/local/* | /opt/*)
    if unshare --mount --propagation private true 2>/dev/null; then
        echo "== the unpacked package mounted at $installed_prefix, consumer with no path overrides"
        cp "$tmp/pc/consumer" "$tmp/consumer-installed"
        unshare --mount --propagation private sh -c '
            mount --bind "$1" "$2" || exit 1
            unset QELRPC_QELNIS_PATH
            LD_LIBRARY_PATH="$3" QELNIS_TYPE=1 "$4" --directory' \
            sh "$root$installed_prefix" "$installed_prefix" "$installed_libdir" "$tmp/consumer-installed" ||
            fail "the consumer against the package at its installed place"
    else
        # Only a developer's machine may leave it out (QELRPC_REQUIRE_PEERS).
        case ${QELRPC_REQUIRE_PEERS:-0} in
        0 | "") echo "(no mount namespace here: the run at the installed place is left out)" ;;
        *) fail "no mount namespace here for the run at the installed place" ;;
        esac
    fi
    ;;
*)
    # Mounting over /usr would hide the system's own libraries.
    echo "(prefix $installed_prefix: the run at the installed place is left out)"
    ;;
esac
echo "check_deb: the package holds the library, its links, header, siblings, CMake package and .pc file, and the consumer runs against it"

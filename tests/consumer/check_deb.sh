#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the Debian packages built from debian/ (tools/package/build_deb.sh):
#  - lintian over the three packages, their -dbgsym packages and the source
#    package: no error, warning or info that debian/*.lintian-overrides does
#    not explain;
#  - what each package holds: the library and its private siblings
#    (libqelrpc0; nothing unversioned in the public library folder), the
#    development files (libqelrpc-dev), the programs and their man pages
#    (qelrpc-tools); stripped binaries with -dbgsym beside them; ldconfig by
#    trigger, no maintainer script; the symbols file equal to the export list;
#  - the library loads libqelnis from the folder the package puts it in;
#  - the three installed with dpkg into a scratch root, and the outside
#    consumer built (find_package and pkg-config) and run against that tree;
#    where a mount namespace is possible (root), the scratch root's /usr laid
#    over the system's (overlayfs) and the consumer built and run from /usr
#    as on an installed system, with no path overrides.
#   check_deb.sh PACKAGE_DIR VERSION SOURCE_DIR
# Environment: CMAKE, CC, GENERATOR, PKG_CONFIG (see consumer_lib.sh),
# QELRPC_REQUIRE_PEERS (1: what cannot run here fails instead of being left out).
set -eu
pkgs=$(cd "$1" && pwd)
EXPECTED_VERSION=$2
src=$(cd "$3" && pwd)
major=${EXPECTED_VERSION%%.*}
. "$(dirname "$0")/consumer_lib.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qelrpc-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
libdir=/usr/lib/$triplet
private=$libdir/qelrpc

deb() { echo "$pkgs/$1_${EXPECTED_VERSION}_$arch.deb"; }
for p in libqelrpc0 libqelrpc-dev qelrpc-tools; do
    [ -f "$(deb $p)" ] || fail "no $(basename "$(deb $p)") in $pkgs"
done

echo "== lintian"
# Every tag lintian shows counts (info and pedantic included), unless an
# override explains it. unused-override is let through: the overrides name
# compiler artefacts that another GCC release may not produce.
changes=$(find "$pkgs" -maxdepth 1 -name "qelrpc_${EXPECTED_VERSION}_$arch.changes" | head -n 1)
[ -n "$changes" ] || fail "no .changes file in $pkgs"
dsc=$pkgs/qelrpc_$EXPECTED_VERSION.dsc
[ -f "$dsc" ] || fail "no source package qelrpc_$EXPECTED_VERSION.dsc in $pkgs"
lintian_rc=0
lintian --pedantic --display-info --fail-on error,warning,info,pedantic --suppress-tags unused-override \
    "$changes" "$dsc" >"$tmp/lintian.log" 2>&1 || lintian_rc=$?
grep -v '^running with root privileges' "$tmp/lintian.log" || true
[ "$lintian_rc" -eq 0 ] || fail "lintian (status $lintian_rc)"
echo "lintian: no error, warning or info tag besides the overridden ones:"
lintian --pedantic --display-info --show-overrides --suppress-tags unused-override "$changes" "$dsc" 2>&1 |
    grep '^O:' || true

# Paths as dpkg-deb prints them, without the leading ".", " -> target" kept.
contents() {
    dpkg-deb -c "$(deb "$1")" | awk '{ p = $6; for (i = 7; i <= NF; i++) p = p " " $i; sub(/^\./, "", p); print p }'
}
has() { # PACKAGE PATH
    contents "$1" | grep -xF -- "$2" >/dev/null || fail "$1 lacks $2"
}
for p in libqelrpc0 libqelrpc-dev qelrpc-tools; do
    echo "== $p: $(dpkg-deb -f "$(deb $p)" Version), Depends: $(dpkg-deb -f "$(deb $p)" Depends)"
    [ "$(dpkg-deb -f "$(deb $p)" Version)" = "$EXPECTED_VERSION" ] || fail "$p's version"
    # A name and an address, as Debian's policy asks (5.6.2).
    dpkg-deb -f "$(deb $p)" Maintainer | grep -Eq '^[^<>]+ <[^@<> ]+@[^@<> ]+\.[^@<> ]+>$' ||
        fail "$p's Maintainer field is not 'Name <address>'"
    has "$p" "/usr/share/doc/$p/copyright"
    has "$p" "/usr/share/doc/$p/changelog.gz"
    # No maintainer script: ldconfig runs by trigger.
    scripts=$(dpkg-deb --ctrl-tarfile "$(deb $p)" | tar -t | grep -E 'preinst|postinst|prerm|postrm' || true)
    [ -z "$scripts" ] || fail "$p has maintainer scripts: $scripts"
done
has libqelrpc0 "$libdir/libqelrpc.so.$EXPECTED_VERSION"
has libqelrpc0 "$libdir/libqelrpc.so.$major -> libqelrpc.so.$EXPECTED_VERSION"
has libqelrpc0 "$private/libqeldes.so"
has libqelrpc0 "$private/libqelnis.so"
unversioned=$(contents libqelrpc0 | grep -E "^$libdir/[^/]*\.so( |\$)" || true)
[ -z "$unversioned" ] || fail "libqelrpc0 puts unversioned libraries in $libdir: $unversioned"
dpkg-deb -I "$(deb libqelrpc0)" triggers | grep -qx 'activate-noawait ldconfig' ||
    fail "libqelrpc0 does not run ldconfig by trigger"
has libqelrpc-dev "$libdir/libqelrpc.so -> libqelrpc.so.$major"
has libqelrpc-dev /usr/include/qelrpc.h
for f in qelrpcConfig.cmake qelrpcConfigVersion.cmake qelrpcTargets.cmake; do
    has libqelrpc-dev "$libdir/cmake/qelrpc/$f"
done
has libqelrpc-dev "$libdir/pkgconfig/qelrpc.pc"
has qelrpc-tools /usr/bin/qelrpc
has qelrpc-tools /usr/sbin/qelrpc-refd
has qelrpc-tools /usr/share/man/man1/qelrpc.1.gz
has qelrpc-tools /usr/share/man/man8/qelrpc-refd.8.gz

# The symbols file: exactly the export list's names under the version node.
dpkg-deb -I "$(deb libqelrpc0)" symbols | awk '/^ / { sub(/@.*/, "", $1); print $1 }' | sort >"$tmp/symbols"
{ echo QELRPC_0; grep -v -e '^#' -e '^[[:space:]]*$' "$src/include/qelrpc.exports"; } | sort >"$tmp/exports"
diff -u "$tmp/exports" "$tmp/symbols" >"$tmp/symbols.diff" ||
    fail "debian/libqelrpc0.symbols differs from include/qelrpc.exports (+ the QELRPC_0 node):
$(cat "$tmp/symbols.diff")"

root=$tmp/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
echo "== dpkg --root: the three packages installed into a scratch root"
# The scratch root holds no libc or libgcrypt: their dependencies are the
# system's, and the packages' maintainer scripts (none) would not run.
dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless --log=/dev/null \
    -i "$(deb libqelrpc0)" "$(deb libqelrpc-dev)" "$(deb qelrpc-tools)" >"$tmp/dpkg.log" 2>&1 || {
    cat "$tmp/dpkg.log"
    fail "dpkg --root -i"
}
dpkg --root="$root" -l | awk '/^ii/ { print "  " $2, $3 }'

# Stripped, with the debug data in the -dbgsym packages (by build id).
for f in "$libdir/libqelrpc.so.$EXPECTED_VERSION" "$private/libqeldes.so" "$private/libqelnis.so" \
    /usr/bin/qelrpc /usr/sbin/qelrpc-refd; do
    readelf -S "$root$f" | grep -q '\.debug_info' && fail "$f is not stripped"
    id=$(readelf -n "$root$f" | awk '/Build ID:/ { print $3 }')
    [ -n "$id" ] || fail "$f has no build id"
    found=0
    for d in "$pkgs"/*-dbgsym_"${EXPECTED_VERSION}_$arch".*deb; do
        dpkg-deb -c "$d" | grep "/usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug" >/dev/null &&
            found=1
    done
    [ "$found" -eq 1 ] || fail "no -dbgsym package holds the debug data of $f"
done
echo "stripped, debug data in the -dbgsym packages"

readelf -d "$root$libdir/libqelrpc.so.$EXPECTED_VERSION" | grep -q "(SONAME).*\[libqelrpc.so.$major\]" ||
    fail "libqelrpc.so's SONAME is not libqelrpc.so.$major"
# The library loads <folder fixed at build time>/libqelnis.so; that must be
# the folder the package installs libqelnis.so into.
# (strings may join the text to the bytes before it: the end is what counts).
strings -a "$root$libdir/libqelrpc.so.$EXPECTED_VERSION" |
    awk -v p="$private" 'length($0) >= length(p) && substr($0, length($0) - length(p) + 1) == p { found = 1 }
        END { exit !found }' ||
    fail "libqelrpc.so does not look for libqelnis.so in $private, where the package installs it"
echo "libqelrpc.so looks for libqelnis.so in $private, where the package puts it"

echo "== the programs from the scratch root"
LD_LIBRARY_PATH="$root$libdir" "$root/usr/bin/qelrpc" --version
LD_LIBRARY_PATH="$root$libdir" "$root/usr/sbin/qelrpc-refd" --version
[ "$(LD_LIBRARY_PATH="$root$libdir" "$root/usr/bin/qelrpc" --version)" = "qelrpc $EXPECTED_VERSION" ] ||
    fail "qelrpc --version from the package"

QELRPC_PRIVATE_LIBDIR="$root$private" build_and_run_consumer "$root/usr" "$root$libdir" "$tmp"

# The scratch root's /usr over the system's, read-only, in a mount namespace
# of its own: the consumer finds the package where a system that installed
# it would, and the library loads libqelnis from its fixed folder.
if unshare --mount --propagation private mount -t overlay overlay \
    -o "lowerdir=$root/usr:/usr" "$tmp" 2>/dev/null; then
    echo "== the scratch root's /usr over /usr: the consumer as on an installed system"
    mkdir -p "$tmp/installed"
    unshare --mount --propagation private sh -c '
        set -e
        mount -t overlay overlay -o "lowerdir=$1/usr:/usr" /usr
        unset QELRPC_QELNIS_PATH LD_LIBRARY_PATH PKG_CONFIG_PATH
        "$2" -S "$3" -B "$4/cmake" ${5:+-G "$5"} -DCMAKE_C_COMPILER="$6" >"$4/configure.log" 2>&1 ||
            { cat "$4/configure.log"; exit 1; }
        grep -q "qelrpc_DIR:PATH=/usr/lib/" "$4/cmake/CMakeCache.txt"
        "$2" --build "$4/cmake" >/dev/null
        ldd "$4/cmake/consumer" | grep -E "libqelrpc|libqeldes"
        "$4/cmake/consumer"
        QELNIS_TYPE=1 "$4/cmake/consumer" --directory
        "$6" -std=c11 -Wall -Wextra -Werror -o "$4/pc-consumer" "$3/consumer.c" $(pkg-config --cflags --libs qelrpc)
        "$4/pc-consumer"
        /usr/bin/qelrpc --version
        # man finds the installed pages and renders them.
        [ "$(man -w qelrpc)" = /usr/share/man/man1/qelrpc.1.gz ]
        MANWIDTH=80 man -P cat 1 qelrpc 2>&1 | grep -q "^NAME"
        MANWIDTH=80 man -P cat 8 qelrpc-refd 2>&1 | sed -n 4p' \
        sh "$root" "$CMAKE" "$CONSUMER_SRC" "$tmp/installed" "${GENERATOR:-}" "$CC" ||
        fail "the consumer against the packages at their installed place"
else
    case ${QELRPC_REQUIRE_PEERS:-0} in
    0 | "") echo "(no mount namespace or overlayfs here: the run at the installed place is left out)" ;;
    *) fail "no mount namespace or overlayfs here for the run at the installed place" ;;
    esac
fi
echo "check_deb: lintian clean, the three packages hold what they should, and the consumer runs against them"

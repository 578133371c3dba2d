#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian packages (debian/: libqelrpc0, libqelrpc-dev,
# qelrpc-tools and their -dbgsym packages) with dpkg-buildpackage, outside
# the source tree, and the source package (.dsc, .tar.xz) with dpkg-source,
# and copies them to OUT_DIR.
#   build_deb.sh SOURCE_DIR WORK_DIR OUT_DIR
# WORK_DIR/qelrpc-VERSION is the package's source folder: links to the
# source tree's own files and folders (so their times are the source's and
# the build folder, WORK_DIR/qelrpc-VERSION/obj-<triplet>, which is kept,
# rebuilds only what changed) and a fresh copy of debian/ (debhelper writes
# its state there, which must not carry over from an earlier run).
set -eu
src=$(cd "$1" && pwd)
mkdir -p "$2" "$3"
work=$(cd "$2" && pwd)
out=$(cd "$3" && pwd)

version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
pkgdir=$work/qelrpc-$version
mkdir -p "$pkgdir"
# Links to every top-level entry but the build output, git's data and debian/.
for entry in "$pkgdir"/* "$pkgdir"/.[!.]*; do
    [ -L "$entry" ] && rm -f "$entry"
done
for entry in "$src"/* "$src"/.[!.]*; do
    [ -e "$entry" ] || continue
    name=${entry##*/}
    case $name in
    out | .git | debian | obj-*) continue ;;
    esac
    ln -s "$entry" "$pkgdir/$name"
done
rm -rf "$pkgdir/debian"
cp -R "$src/debian" "$pkgdir/debian"

rm -f "$work"/*.deb "$work"/*.ddeb "$work"/*.buildinfo "$work"/*.changes
# -b: binary packages only; -nc: no clean first, so the kept build folder
# is reused; unsigned.
(cd "$pkgdir" && dpkg-buildpackage -b -nc -us -uc -j"${JOBS:-2}") >"$work/build.log" 2>&1 || {
    tail -60 "$work/build.log"
    echo "build_deb: dpkg-buildpackage failed (whole log: $work/build.log)" >&2
    exit 1
}
# The source package (3.0 native: debian/ lives in the source tree) from a
# plain copy of the tree without build output or git's data.
srccopy=$work/source/qelrpc-$version
rm -rf "$work/source"
mkdir -p "$srccopy"
(cd "$src" && tar -c --exclude=./out --exclude=./.git --exclude='./obj-*' .) | tar -x -C "$srccopy"
(cd "$work/source" && dpkg-source -b "qelrpc-$version") >"$work/source.log" 2>&1 || {
    cat "$work/source.log"
    echo "build_deb: dpkg-source -b failed" >&2
    exit 1
}

rm -f "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes "$out"/*.dsc "$out"/*.tar.*
cp "$work"/*.deb "$work/source"/*.dsc "$work/source"/*.tar.* "$out"/
for f in "$work"/*.ddeb "$work"/*.buildinfo "$work"/*.changes; do
    [ -e "$f" ] && cp "$f" "$out"/
done
ls "$out"

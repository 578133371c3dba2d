# SPDX-License-Identifier: MIT
# Shared by check_installed.sh and check_deb.sh (sourced, POSIX sh).
# Environment: CMAKE, CC, GENERATOR (optional), PKG_CONFIG (optional).

CONSUMER_SRC=$(cd "$(dirname "$0")" && pwd)
: "${CMAKE:=cmake}" "${CC:=cc}" "${PKG_CONFIG:=pkg-config}"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# expect_link DIR NAME TARGET: DIR/NAME is a symbolic link to TARGET.
expect_link() {
    [ -L "$1/$2" ] || fail "$1/$2 is not a symbolic link"
    [ "$(readlink "$1/$2")" = "$3" ] || fail "$1/$2 points to $(readlink "$1/$2"), not $3"
}

# expect_own_library PROGRAM LIBDIR: the program loads libqelrpc.so.0 from
# LIBDIR and libqeldes.so from the siblings' folder (QELRPC_PRIVATE_LIBDIR,
# default LIBDIR), not from another copy on the machine.
expect_own_library() {
    # Names with a leading _: sh has no local variables.
    _deps=$(LD_LIBRARY_PATH=${3:-} ldd "$1") || fail "ldd $1"
    for _name in libqelrpc.so.0 libqeldes.so; do
        if [ "$_name" = libqeldes.so ]; then _want=${QELRPC_PRIVATE_LIBDIR:-$2}; else _want=$2; fi
        _found=$(echo "$_deps" | awk -v l="$_name" '$1 == l && $2 == "=>" { print $3 }')
        [ -n "$_found" ] && [ "$(realpath "$(dirname "$_found")")" = "$(realpath "$_want")" ] ||
            fail "$1 does not load $_name from $_want:
$_deps"
    done
}

# build_and_run_consumer PREFIX LIBDIR WORK: builds the consumer against the
# installed tree PREFIX (libraries in LIBDIR) through find_package and
# through pkg-config, and runs both builds.
build_and_run_consumer() {
    _prefix=$1 _libdir=$2 _work=$3

    echo "== consumer through find_package(qelrpc), CMAKE_PREFIX_PATH=$_prefix"
    set -- -S "$CONSUMER_SRC" -B "$_work/cmake" -DCMAKE_PREFIX_PATH="$_prefix" -DCMAKE_C_COMPILER="$CC"
    [ -n "${GENERATOR:-}" ] && set -- "$@" -G "$GENERATOR"
    "$CMAKE" "$@" >"$_work/cmake-configure.log" 2>&1 || {
        cat "$_work/cmake-configure.log"
        fail "configuring the consumer against $_prefix"
    }
    grep -q "qelrpc_DIR:PATH=$_prefix/" "$_work/cmake/CMakeCache.txt" ||
        fail "find_package(qelrpc) did not take the package under $_prefix"
    "$CMAKE" --build "$_work/cmake" || fail "building the consumer with CMake"
    expect_own_library "$_work/cmake/consumer" "$_libdir"
    "$_work/cmake/consumer" || fail "the CMake-built consumer"
    QELNIS_TYPE=1 QELRPC_QELNIS_PATH="${QELRPC_PRIVATE_LIBDIR:-$_libdir}/libqelnis.so" "$_work/cmake/consumer" --directory ||
        fail "the CMake-built consumer with the installed directory-service library"

    # SameMajorVersion: the next major version is not this package.
    _next=$((${EXPECTED_VERSION%%.*} + 1)).0
    if "$CMAKE" -S "$CONSUMER_SRC" -B "$_work/cmake-next" -DCMAKE_PREFIX_PATH="$_prefix" \
        -DCMAKE_C_COMPILER="$CC" ${GENERATOR:+-G "$GENERATOR"} -DCONSUMER_QELRPC_VERSION="$_next" >"$_work/cmake-next.log" 2>&1; then
        fail "find_package(qelrpc $_next) accepted version $EXPECTED_VERSION"
    fi
    grep -q "version: $EXPECTED_VERSION" "$_work/cmake-next.log" ||
        fail "find_package(qelrpc $_next) failed for another reason: $(cat "$_work/cmake-next.log")"

    echo "== consumer through pkg-config --cflags --libs qelrpc"
    _pcdir=$(dirname "$(find "$_prefix" -name qelrpc.pc | head -n 1)")
    [ -f "$_pcdir/qelrpc.pc" ] || fail "no qelrpc.pc under $_prefix"
    export PKG_CONFIG_PATH="$_pcdir"
    [ "$("$PKG_CONFIG" --modversion qelrpc)" = "$EXPECTED_VERSION" ] ||
        fail "pkg-config --modversion qelrpc is not $EXPECTED_VERSION"
    _includedir=$("$PKG_CONFIG" --variable=includedir qelrpc)
    [ -f "$_includedir/qelrpc.h" ] || fail "pkg-config's includedir $_includedir holds no qelrpc.h"
    _flags=$("$PKG_CONFIG" --cflags --libs qelrpc) || fail "pkg-config --cflags --libs qelrpc"
    echo "pkg-config --cflags --libs qelrpc: $_flags"
    mkdir -p "$_work/pc"
    # shellcheck disable=SC2086 # the flags are words
    "$CC" -std=c11 -Wall -Wextra -Werror -o "$_work/pc/consumer" "$CONSUMER_SRC/consumer.c" $_flags ||
        fail "building the consumer with pkg-config's flags"
    expect_own_library "$_work/pc/consumer" "$_libdir" "$_libdir"
    LD_LIBRARY_PATH="$_libdir" "$_work/pc/consumer" || fail "the pkg-config-built consumer"
    LD_LIBRARY_PATH="$_libdir" QELNIS_TYPE=1 QELRPC_QELNIS_PATH="${QELRPC_PRIVATE_LIBDIR:-$_libdir}/libqelnis.so" \
        "$_work/pc/consumer" --directory ||
        fail "the pkg-config-built consumer with the installed directory-service library"
}

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

# expect_own_library PROGRAM LIBDIR: the program loads libqelrpc.so.0 and
# libqeldes.so from LIBDIR (not from another copy on the machine).
expect_own_library() {
    deps=$(LD_LIBRARY_PATH=${3:-} ldd "$1") || fail "ldd $1"
    for lib in libqelrpc.so.0 libqeldes.so; do
        echo "$deps" | grep -q "^[[:space:]]*$lib => $2/$lib " ||
            fail "$1 does not load $lib from $2:
$deps"
    done
}

# build_and_run_consumer PREFIX LIBDIR WORK: builds the consumer against the
# installed tree PREFIX (libraries in LIBDIR) through find_package and
# through pkg-config, and runs both builds.
build_and_run_consumer() {
    prefix=$1 libdir=$2 work=$3

    echo "== consumer through find_package(qelrpc), CMAKE_PREFIX_PATH=$prefix"
    set -- -S "$CONSUMER_SRC" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$CC"
    [ -n "${GENERATOR:-}" ] && set -- "$@" -G "$GENERATOR"
    "$CMAKE" "$@" >"$work/cmake-configure.log" 2>&1 || {
        cat "$work/cmake-configure.log"
        fail "configuring the consumer against $prefix"
    }
    grep -q "qelrpc_DIR:PATH=$prefix/" "$work/cmake/CMakeCache.txt" ||
        fail "find_package(qelrpc) did not take the package under $prefix"
    "$CMAKE" --build "$work/cmake" || fail "building the consumer with CMake"
    expect_own_library "$work/cmake/consumer" "$libdir"
    "$work/cmake/consumer" || fail "the CMake-built consumer"
    QELNIS_TYPE=1 QELRPC_QELNIS_PATH="$libdir/libqelnis.so" "$work/cmake/consumer" --directory ||
        fail "the CMake-built consumer with the installed directory-service library"

    echo "== consumer through pkg-config --cflags --libs qelrpc"
    pcdir=$(dirname "$(find "$prefix" -name qelrpc.pc | head -n 1)")
    [ -f "$pcdir/qelrpc.pc" ] || fail "no qelrpc.pc under $prefix"
    export PKG_CONFIG_PATH="$pcdir"
    [ "$("$PKG_CONFIG" --modversion qelrpc)" = "$EXPECTED_VERSION" ] ||
        fail "pkg-config --modversion qelrpc is not $EXPECTED_VERSION"
    includedir=$("$PKG_CONFIG" --variable=includedir qelrpc)
    [ -f "$includedir/qelrpc.h" ] || fail "pkg-config's includedir $includedir holds no qelrpc.h"
    flags=$("$PKG_CONFIG" --cflags --libs qelrpc) || fail "pkg-config --cflags --libs qelrpc"
    echo "pkg-config --cflags --libs qelrpc: $flags"
    mkdir -p "$work/pc"
    # shellcheck disable=SC2086 # the flags are words
    "$CC" -std=c11 -Wall -Wextra -Werror -o "$work/pc/consumer" "$CONSUMER_SRC/consumer.c" $flags ||
        fail "building the consumer with pkg-config's flags"
    expect_own_library "$work/pc/consumer" "$libdir" "$libdir"
    LD_LIBRARY_PATH="$libdir" "$work/pc/consumer" || fail "the pkg-config-built consumer"
    LD_LIBRARY_PATH="$libdir" QELNIS_TYPE=1 QELRPC_QELNIS_PATH="$libdir/libqelnis.so" \
        "$work/pc/consumer" --directory ||
        fail "the pkg-config-built consumer with the installed directory-service library"
}

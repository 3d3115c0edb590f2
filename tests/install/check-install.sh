#!/bin/sh
# Installs the library from BUILD into a fresh prefix and builds three
# applications against it: with find_package(Qapi), with pkg-config, and
# with the source taken in as a guest of another build, which must build
# the library only and impose no -Werror.
#
#   tests/install/check-install.sh SOURCE BUILD VERSION
set -eu
source=$1 build=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }
runs() {  # PROGRAM prints the version it was built against
  out=$("$@") || fail "$1 failed"
  [ "${out%% *}" = qapi ] && [ "$(echo "$out" | cut -d' ' -f2)" = "$version" ] || fail "$1 printed \"$out\""
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
library=$(find "$prefix" -name libqapi.so.0 | head -n 1)
[ -n "$library" ] || fail "no libqapi.so.0 installed"
readelf -d "$library" | grep -q 'SONAME.*\[libqapi\.so\.0\]' || fail "libqapi.so.0 has no SONAME libqapi.so.0"
for header in qapi.h qmsg.h qapi_version.h; do
  [ -f "$prefix/include/$header" ] || fail "$header not installed"
done
for program in qapi-sim qapi-console qapi-cdr qapi-bridge; do
  [ -x "$prefix/bin/$program" ] || fail "$program not installed"
done

# find_package(Qapi), asking for this version.
cmake -S "$here/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DQAPI_WANTED="$version" >/dev/null
cmake --build "$work/cmake" >/dev/null
runs "$work/cmake/consumer"

# pkg-config, with nothing but the .pc file's place.
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name qapi.pc | head -n 1)")
[ "$(pkg-config --modversion qapi)" = "$version" ] || fail "pkg-config reports $(pkg-config --modversion qapi)"
# shellcheck disable=SC2046
cc -o "$work/pkg-consumer" "$here/consumer.c" $(pkg-config --cflags --libs qapi)
LD_LIBRARY_PATH=$(dirname "$library") runs "$work/pkg-consumer"

# A guest in another build: the library only, on the host's warnings.
cmake -S "$here/guest" -B "$work/guest" -DQAPI_SOURCE="$source" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
targets=$(cmake --build "$work/guest" --target help)
for unwanted in qapi_tests qapi-console qapi-sim qapi-cdr qapi-bridge epoll_station; do
  ! echo "$targets" | grep -qw "$unwanted" || fail "a guest build has the target $unwanted"
done
! grep -q -- '-Werror' "$work/guest/compile_commands.json" || fail "a guest build compiles with -Werror"
cmake --build "$work/guest" --target consumer -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
runs "$work/guest/consumer"
echo "check-install: find_package, pkg-config and a guest build of $version work"

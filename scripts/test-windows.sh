#!/bin/sh
# Builds and checks the library for Windows, on a fresh Debian 12 machine as
# well (as root it installs the mingw-w64 compilers and Wine when they are
# missing, and makes the tree of Wine's WoW64 mode with
# scripts/install-wine-wow64.sh; any other user is told what is missing):
#  - windows-x86: the 32-bit qapi.dll that applications load, its export
#    table (exactly the 29 QAPI_ names, undecorated) and the 32-bit layouts
#    of the payload records (a C file of static assertions); the test suite,
#    the example and every export called as its callers call it (__stdcall)
#    under Wine's WoW64 mode: Debian's 64-bit wine64 with the 32-bit Windows
#    DLLs of libwine:i386, no 32-bit Linux code;
#  - windows-x64: the same, the suite and the example under wine64.
# Every Wine run is inside a private network namespace (tests/windows/wine-run.sh).
set -eu
cd "$(dirname "$0")/.."
missing=
for tool in cmake make ip unshare i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
for file in /usr/lib/wine/wine64 /usr/src/googletest/CMakeLists.txt; do
  [ -e "$file" ] || missing="$missing $file"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing:$missing" >&2
    echo "as root, scripts/test-windows.sh installs them" >&2
    exit 1
  fi
  echo "installing what is missing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends cmake make iproute2 util-linux googletest \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 >/dev/null
fi
if ! scripts/install-wine-wow64.sh --check; then
  if [ "$(id -u)" != 0 ] && [ -z "${QAPI_WINE_WOW64:-}" ]; then
    echo "missing: the WoW64 tree of Wine (/opt/qapi-wine-wow64)" >&2
    echo "as root, scripts/test-windows.sh makes it (or set QAPI_WINE_WOW64 to a folder of yours)" >&2
    exit 1
  fi
  scripts/install-wine-wow64.sh
fi
jobs=$(nproc 2>/dev/null || echo 2)

for preset in windows-x86 windows-x64; do
  echo "=== $preset build ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "the Windows builds passed"

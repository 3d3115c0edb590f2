#!/bin/sh
# Builds and tests the library every way it is built (the presets of
# CMakePresets.json): the normal 64-bit build, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, a 32-bit build, the tests
# that cross threads under ThreadSanitizer, and the Windows builds
# (scripts/test-windows.sh: qapi.dll, its exports and layouts, the suite under
# Wine, the 32-bit one in Wine's WoW64 mode), the .NET package
# (scripts/test-dotnet.sh); then each fuzz target for about
# 30 seconds (scripts/fuzz.sh).  The first three run one simulated hour of
# the soak (the 32-bit one only where it runs natively, not under qemu;
# scripts/soak.sh runs days).
# Every test runs in a private network namespace: as root, or as any other
# user inside a user namespace of its own (see tests/support/netns-run.sh);
# only root can install what is missing.  First of all, every library source
# must be in the house style (scripts/check-format.sh lists those that are
# not).
set -eu
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
scripts/check-format.sh
jobs=$(nproc 2>/dev/null || echo 2)

run() {
  echo "=== $1 build ==="
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

run linux
run sanitize
run linux-m32
# ThreadSanitizer over the message layer and the suites whose timers or
# notifications cross threads: a build of those tests only.
run tsan
scripts/test-windows.sh
# The .NET package: its xunit suite, the packed package, the contract under Wine.
scripts/test-dotnet.sh
scripts/fuzz.sh 30
echo "all six builds, the .NET package and the fuzz targets passed"

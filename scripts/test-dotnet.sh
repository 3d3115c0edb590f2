#!/bin/sh
# The .NET package Quentara.Qapi (dotnet/): builds what it packs (the linux
# preset's library and simulator, the two Windows DLLs), packs it, checks
# that every project is `dotnet format` clean, and runs the xunit suite
# inside a private network namespace (the simulator on a second one, joined
# by a veth pair), the packed package in a fresh project among its tests.
# Then a net462 project on the package is built for x86, x64 and AnyCPU and
# must get the right qapi.dll (dotnet/tests/framework-targets.sh), and the
# contract program, published self-contained for win-x64 and win-x86, runs
# against the Windows DLLs under Wine (dotnet/tests/wine-contract.sh).
# Closes with one line: "N passed, N failed", after "N skipped: ..." when a
# build cannot run here at all (win-x86 on a host that runs no 32-bit code).
set -eu
cd "$(dirname "$0")/.."
command -v dotnet >/dev/null 2>&1 || { echo "missing: the .NET SDK (dotnet)" >&2; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1

echo "=== .NET: native builds ==="
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target qapi qapi-sim
for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j "$jobs" --target qapi
done

echo "=== .NET: pack and format ==="
dotnet pack dotnet/src/Quentara.Qapi -c Release --nologo -v quiet
dotnet build examples/dotnet --nologo -v quiet
for project in dotnet/src/Quentara.Qapi dotnet/tests/Quentara.Qapi.Tests dotnet/tests/Contract dotnet/bench \
               examples/dotnet; do
  dotnet format "$project" --verify-no-changes
done

echo "=== .NET: xunit ==="
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
tests/support/netns-run.sh env QAPI_LIBRARY="$PWD/build/plain/libqapi.so.0" QAPI_SIM="$PWD/build/plain/apps/sim/qapi-sim" \
  QAPI_GENERATED_INCLUDE="$PWD/build/plain/include" \
  dotnet test dotnet/tests/Quentara.Qapi.Tests --nologo 2>&1 | tee "$log"
set -e
count() { sed -n "s/.*[ ,]$1: *\([0-9][0-9]*\).*/\1/p" "$log" | tail -1; }
passed=$(count Passed); failed=$(count Failed)
passed=${passed:-0}; failed=${failed:-1}

echo "=== .NET: the .NET Framework targets ==="
result=$(dotnet/tests/framework-targets.sh | tail -1)
echo "$result"
case $result in
  "framework targets passed") passed=$((passed + 1)) ;;
  *) failed=$((failed + 1)) ;;
esac

echo "=== .NET: the contract under Wine ==="
skipped=0
for rid in win-x64 win-x86; do
  result=$(dotnet/tests/wine-contract.sh "$rid" | tail -1)
  echo "$rid: $result"
  case $result in
    "contract passed") passed=$((passed + 1)) ;;
    "not run:"*) skipped=$((skipped + 1)) ;;
    *) failed=$((failed + 1)) ;;
  esac
done

[ "$skipped" -eq 0 ] || echo "$skipped skipped: a build this host cannot run (above)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

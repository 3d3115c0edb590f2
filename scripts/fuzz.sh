#!/bin/sh
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer: the fuzz preset, in build/fuzz) and runs each for
# SECONDS over its seeds in fuzz/corpus/<target>/ and what earlier runs found
# (build/fuzz/corpus/<target>/; the seeds in the tree are never written).
#
#   scripts/fuzz.sh [--coverage] SECONDS [TARGET...]
#
# TARGET is station, cmdr_stream, adjunct or dial (all four by default).  Each
# run ends with a line of its executions, coverage (libFuzzer's cov and ft)
# and speed; a broken rule or a sanitizer report stops it, keeps the input in
# build/fuzz/artifacts/ and fails the script.  --coverage then also builds the
# targets for source-based coverage (build/fuzz-coverage), runs every input of
# both corpora once and prints llvm-cov's line coverage of the library's files.
# The targets open no network socket; they run in a private network namespace
# all the same (tests/support/netns-run.sh).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
coverage=
if [ "${1:-}" = --coverage ]; then coverage=1; shift; fi
if [ $# -lt 1 ] || ! [ "$1" -ge 0 ] 2>/dev/null; then
  echo "usage: $0 [--coverage] SECONDS [station|cmdr_stream|adjunct|dial ...]" >&2
  exit 2
fi
seconds=$1
shift
targets=${*:-station cmdr_stream adjunct dial}
cd "$here"

scripts/ensure-deps.sh  # clang, libFuzzer and llvm-cov among them

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" >/dev/null

# Longer inputs make slower runs: each target's scripts need only so much.
max_len() {
  case $1 in
    station) echo 2048 ;; cmdr_stream) echo 8192 ;; adjunct) echo 2048 ;; *) echo 256 ;;
  esac
}

mkdir -p build/fuzz/artifacts
failed=
for t in $targets; do
  [ -d "fuzz/corpus/$t" ] || { echo "no such target: $t" >&2; exit 2; }
  mkdir -p "build/fuzz/corpus/$t"
  log=build/fuzz/$t.log
  if tests/support/netns-run.sh "build/fuzz/fuzz/qapi_fuzz_$t" -max_total_time="$seconds" \
       -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$t-" \
       "build/fuzz/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed="$failed $t"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
  cov=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\) ft: \([0-9]*\).*/cov \1 ft \2/p')
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  corpus=$(echo "$last" | sed -n 's/.*corp: \([0-9]*\)\/.*/\1/p')
  echo "fuzz $t: $status, ${execs:-?} executions, ${cov:-cov ?}, ${speed:-?}/s, corpus ${corpus:-?} inputs"
  if [ "$status" != ok ]; then
    grep -E 'broken:|ERROR|SUMMARY|^    #[0-9]' "$log" | head -30 >&2
    echo "(the whole log: $log)" >&2
  fi
done

if [ -n "$coverage" ]; then
  cmake -S . -B build/fuzz-coverage -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DQAPI_FUZZ=ON -DQAPI_FUZZ_COVERAGE=ON >/dev/null
  cmake --build build/fuzz-coverage -j "$jobs" >/dev/null
  profiles=
  for t in $targets; do
    LLVM_PROFILE_FILE=build/fuzz-coverage/$t.profraw tests/support/netns-run.sh \
      "build/fuzz-coverage/fuzz/qapi_fuzz_$t" -runs=0 "build/fuzz/corpus/$t" "fuzz/corpus/$t" >/dev/null 2>&1
    llvm-profdata merge -o "build/fuzz-coverage/$t.profdata" "build/fuzz-coverage/$t.profraw"
    echo "=== line coverage of the library by the $t corpus"
    llvm-cov report "build/fuzz-coverage/fuzz/qapi_fuzz_$t" -instr-profile="build/fuzz-coverage/$t.profdata" \
      core net dial station cmdr adjunct library | awk 'NR == 1 || /TOTAL/ || $10 != "-" && $10+0 > 0'
  done
fi
[ -z "$failed" ] || { echo "fuzzing failed:$failed" >&2; exit 1; }

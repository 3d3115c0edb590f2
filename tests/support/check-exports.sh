#!/bin/sh
# Fails when the shared library exports anything besides QAPI_ and qmsg
# functions, or lacks one of the exports it must have.
lib="$1"
extra=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -E '^(QAPI_|qmsg)' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$')
if [ -n "$extra" ]; then
  echo "unexpected exports:"; echo "$extra"; exit 1
fi
dir=$(dirname "$0")
missing=0
for name in $(cat "$dir/expected-exports.txt"); do
  nm -D --defined-only "$lib" | awk '{print $3}' | grep -qx "$name" || { echo "missing export: $name"; missing=1; }
done
count=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -c '^QAPI_')
expected=$(grep -c '^QAPI_' "$dir/expected-exports.txt")
[ "$count" -eq "$expected" ] || { echo "QAPI_ exports: $count, expected $expected"; missing=1; }
exit $missing

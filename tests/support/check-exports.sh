#!/bin/sh
# Fails unless the shared library exports exactly the functions listed in
# expected-exports.txt: the QAPI_ functions and the message layer's qmsg
# functions, nothing more and nothing less.
lib="$1"
dir=$(dirname "$0")
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' |
  grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' | sort)
expected=$(grep -v '^$' "$dir/expected-exports.txt" | sort)
[ "$actual" = "$expected" ] && exit 0
printf '%s\n' "$actual" > "${TMPDIR:-/tmp}/qapi-exports.$$"
printf '%s\n' "$expected" | diff - "${TMPDIR:-/tmp}/qapi-exports.$$" | sed -n 's/^> /unexpected export: /p; s/^< /missing export: /p'
rm -f "${TMPDIR:-/tmp}/qapi-exports.$$"
exit 1

#!/bin/sh
# Fails unless the export table of a Windows DLL lists exactly the QAPI_
# names of tests/support/expected-exports.txt, undecorated, and nothing else.
#   check-dll-exports.sh OBJDUMP DLL
set -eu
objdump=$1 dll=$2
expected=$(dirname "$0")/../support/expected-exports.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The name table follows the "[Ordinal/Name Pointer] Table" heading, one
# "[   n] name" line per export, up to the next empty line.
"$objdump" -p "$dll" | awk '/^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
                            inside && /^[ \t]*$/ { inside = 0 }
                            inside { print $NF }' | sort > "$work/actual"
grep '^QAPI_' "$expected" | sort > "$work/expected"
if ! cmp -s "$work/actual" "$work/expected"; then
  echo "the exports of $dll differ from the 29 QAPI_ names (< expected, > actual):"
  diff "$work/expected" "$work/actual" | grep '^[<>]'
  exit 1
fi
echo "$dll exports exactly $(wc -l < "$work/actual") names, all QAPI_, undecorated"

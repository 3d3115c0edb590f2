#!/bin/sh
# Checks that every source of the library (src/, include/) is in the house
# style of .clang-format, as Debian 12's clang-format 14 formats it; lists
# the files that are not, and fails.  `scripts/check-format.sh --fix`
# formats them in place.
set -eu
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "check-format: clang-format is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
fix=false
[ "${1:-}" != --fix ] || fix=true
bad=
for file in $(find src include -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) | sort); do
  if $fix; then
    "$format" -i "$file"
  elif ! "$format" --dry-run -Werror "$file" >/dev/null 2>&1; then
    bad="$bad $file"
  fi
done
[ -n "$bad" ] || exit 0
echo "not in the house style ($("$format" --version | sed 's/.*version //')); scripts/check-format.sh --fix formats them:" >&2
for file in $bad; do echo "  $file" >&2; done
exit 1

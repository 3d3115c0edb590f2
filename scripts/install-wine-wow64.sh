#!/bin/sh
# Makes the tree in which Debian's 64-bit wine64 runs 32-bit Windows programs
# in Wine's WoW64 mode, with no 32-bit Linux code: the 32-bit Windows DLLs of
# libwine:i386 (of the same version as the installed libwine) beside links to
# the 64-bit ones, and a copy of wine64 with no 32-bit "wine" beside it (which
# would take 32-bit programs to the old loader).  The package is downloaded
# with apt-get into a private apt state and unpacked, never installed: the
# machine's architectures and packages stay as they are.
#
#   install-wine-wow64.sh [--check]   the tree: $QAPI_WINE_WOW64, else /opt/qapi-wine-wow64
#
# Nothing is done when the tree is there for the installed version.  With
# --check, exit status 1 says that it is missing or out of date.
# tests/windows/wine-run.sh runs 32-bit programs through it:
#   WINEDLLPATH=TREE/lib/x86_64-linux-gnu/wine WINESERVER=TREE/lib/wine/wineserver TREE/lib/wine/wine64
set -eu
tree=${QAPI_WINE_WOW64:-/opt/qapi-wine-wow64}
wine=/usr/lib/x86_64-linux-gnu/wine
[ -x /usr/lib/wine/wine64 ] && [ -d "$wine/x86_64-windows" ] || {
  echo "install-wine-wow64: wine64 is not installed" >&2
  exit 1
}
version=$(dpkg-query -W -f '${Version}' libwine:amd64)
if [ "$(cat "$tree/version" 2>/dev/null || true)" = "$version" ] &&
   [ -f "$tree/lib/x86_64-linux-gnu/wine/i386-windows/ws2_32.dll" ]; then
  exit 0
fi
[ "${1:-}" != --check ] || exit 1

echo "making the WoW64 tree of Wine $version in $tree"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A private apt state that knows the i386 packages of the machine's sources.
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/deb"
apt_i386() {
  apt-get -qq -o APT::Architecture=i386 -o APT::Architectures::=i386 -o Dir::State::status=/dev/null \
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root "$@"
}
# Only the list that holds libwine matters: a mirror caught mid-sync on
# another one (the security suite's, say) must not stop the download.
apt_i386 update || echo "some i386 package lists did not download; trying with the others" >&2
(cd "$work/deb" && apt_i386 download "libwine:i386=$version")

# Built beside the tree and moved into place whole.
new=$tree.new.$$
rm -rf "$new"
mkdir -p "$new/lib/x86_64-linux-gnu/wine" "$new/lib/wine" "$new/share"
dpkg-deb --fsys-tarfile "$work"/deb/libwine_*_i386.deb |
  tar -x -C "$work" ./usr/lib/i386-linux-gnu/wine/i386-windows
mv "$work/usr/lib/i386-linux-gnu/wine/i386-windows" "$new/lib/x86_64-linux-gnu/wine/"
# Without the 64-bit folders beside the 32-bit one, ws2_32 does not start.
ln -s "$wine/x86_64-unix" "$wine/x86_64-windows" "$new/lib/x86_64-linux-gnu/wine/"
cp /usr/lib/wine/wine64 "$new/lib/wine/"
ln -s /usr/lib/wine/wineserver64 "$new/lib/wine/wineserver"
ln -s /usr/share/wine "$new/share/wine"
echo "$version" > "$new/version"
rm -rf "$tree"
mkdir -p "$(dirname "$tree")"
mv "$new" "$tree"
echo "WoW64 tree ready: $tree"

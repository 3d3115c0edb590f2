#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build and test the library.
set -eu
export DEBIAN_FRONTEND=noninteractive
# tshark (for the dissector's tests) asks whether users other than root may
# capture: they may not.
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  g++ g++-multilib cmake make libgtest-dev libgmock-dev googletest libbenchmark-dev \
  iproute2 util-linux binutils qemu-user python3 python3-pytest pkg-config clang clang-format libclang-rt-14-dev llvm \
  tshark libsqlite3-dev libpq-dev postgresql-15 \
  python3-aiohttp python3-selenium chromium chromium-driver \
  >/dev/null

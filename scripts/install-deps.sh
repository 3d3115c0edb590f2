#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build and test the library.
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  g++ g++-multilib cmake make libgtest-dev libgmock-dev googletest libbenchmark-dev \
  iproute2 util-linux binutils qemu-user python3 python3-pytest pkg-config clang libclang-rt-14-dev llvm \
  python3-aiohttp python3-selenium chromium chromium-driver \
  >/dev/null

#!/bin/sh
# Installs the build and test dependencies when any of them is missing, so
# that the scripts work on a fresh Debian 12 machine.  Only root can install:
# any other user is told what is missing (and what installs it) instead.
set -eu
missing=
for tool in cmake g++ make nm ip unshare qemu-i386 python3 pkg-config clang++ clang-format llvm-cov llvm-profdata openssl; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
for file in /usr/include/gtest/gtest.h /usr/include/gmock/gmock.h /usr/src/googletest/CMakeLists.txt \
            /usr/include/benchmark/benchmark.h /usr/lib/gcc/x86_64-linux-gnu/12/32/libstdc++.so \
            /usr/include/sqlite3.h /usr/include/postgresql/libpq-fe.h /usr/lib/postgresql/15/bin/initdb \
            /usr/include/amqp.h /usr/lib/rabbitmq/bin/rabbitmq-server; do
  [ -e "$file" ] || missing="$missing $file"
done
# libFuzzer, for the fuzz targets (clang's runtime libraries).
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  missing="$missing libclang-rt-14-dev"
# The Python package's tests: pytest for the python3 on PATH or for the system's.
python3 -c 'import pytest' 2>/dev/null || /usr/bin/python3 -c 'import pytest' 2>/dev/null ||
  missing="$missing python3-pytest"
# qapi-bridge's tests consume from RabbitMQ with pika and read its AsyncAPI document.
/usr/bin/python3 -c 'import pika' 2>/dev/null || missing="$missing python3-pika"
/usr/bin/python3 -c 'import yaml' 2>/dev/null || missing="$missing python3-yaml"
# The operator panel and its tests in headless Chromium.
/usr/bin/python3 -c 'import aiohttp' 2>/dev/null || missing="$missing python3-aiohttp"
/usr/bin/python3 -c 'import selenium' 2>/dev/null || missing="$missing python3-selenium"
for tool in chromium chromedriver; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
# The dissector's tests: without tshark they are skipped.
optional=
for tool in tshark dumpcap editcap; do
  command -v "$tool" >/dev/null 2>&1 || optional="$optional $tool"
done
[ -n "$missing$optional" ] || exit 0
if [ "$(id -u)" != 0 ] && [ -z "$missing" ]; then
  echo "missing:$optional (the dissector's tests are skipped; as root, scripts/install-deps.sh installs tshark)" >&2
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "missing:$missing" >&2
  echo "as root, scripts/install-deps.sh installs them" >&2
  exit 1
fi
echo "installing what is missing:$missing$optional"
"$(dirname "$0")/install-deps.sh"

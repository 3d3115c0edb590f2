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
  librabbitmq-dev python3-pika python3-yaml openssl \
  >/dev/null
# qapi-bridge's tests start RabbitMQ brokers of their own.  The package's
# post-install script would start the system's broker: a policy-rc.d that
# refuses every start keeps it from doing so (one already in place is kept).
if ! dpkg -s rabbitmq-server 2>/dev/null | grep -q '^Status: install ok installed'; then
  policy=/usr/sbin/policy-rc.d
  made=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    made=1
  fi
  apt-get install -y -qq --no-install-recommends rabbitmq-server >/dev/null || status=$?
  [ -z "$made" ] || rm -f "$policy"
  [ -z "${status:-}" ] || exit "$status"
fi

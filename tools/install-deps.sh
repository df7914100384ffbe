#!/usr/bin/env bash
# Installs every Debian package the Linux build, the Windows cross build and the tests need.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build git ca-certificates \
  googletest libgtest-dev libgmock-dev libbenchmark-dev \
  rapidjson-dev libcups2-dev libboost-dev libuv1-dev \
  g++-mingw-w64-x86-64-posix wine wine64 \
  lldb zip unzip python3 procps \
  wixl msitools dpkg-dev lintian \
  clang-14 libclang-rt-14-dev

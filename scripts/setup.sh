#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Safe to run again.
set -euo pipefail
pkgs=(cmake g++ make pkg-config liblmdb-dev lmdb-utils libtomlplusplus-dev libgtest-dev libgmock-dev
      libbenchmark-dev clang libclang-rt-14-dev hyperfine)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

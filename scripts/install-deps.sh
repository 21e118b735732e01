#!/usr/bin/env bash
# Installs the Debian packages needed to build and test sfanomalydetect on a fresh
# machine. Packages already present are left alone; needs root for apt-get.
set -euo pipefail

packages=(cmake g++ make pkg-config libsqlite3-dev libjansson-dev libace-dev
          libgtest-dev libgmock-dev libbenchmark-dev sqlite3 jq lintian clang clang-format
          libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: run as root to install: ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

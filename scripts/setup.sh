#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need from Debian packages.
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libusb-1.0-0-dev libncurses-dev libftdi1-dev
  libgtest-dev libbenchmark-dev
  openfpgaloader netcat-openbsd tmux
  nlohmann-json3-dev libcpp-httplib-dev prometheus
  libumockdev-dev umockdev openocd
  lintian systemd clang
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

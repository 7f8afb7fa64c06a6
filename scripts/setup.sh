#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need from Debian packages.
# Safe to run again: it only calls apt-get when a package is missing.
#
#   scripts/setup.sh                  the native build, its tests and the demo
#   scripts/setup.sh aarch64 armhf    also what the cross builds of those presets need
#                                     (Debian's cross compilers, the target's -dev
#                                     packages through multiarch, qemu-user for tests)
#   scripts/setup.sh windows          mingw-w64 and wine (ncurses for it is built by
#                                     scripts/mingw_ncurses.sh at configure time)
set -euo pipefail

arches=()
cross=()
for target in "$@"; do
  case "$target" in
    aarch64) arches+=(arm64) ;;
    armhf) arches+=(armhf) ;;
    windows) cross+=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev) ;;
    *) echo "setup.sh: unknown target '$target' (aarch64, armhf or windows)" >&2; exit 2 ;;
  esac
done
for a in "${arches[@]}"; do
  cross+=(crossbuild-essential-"$a" qemu-user
          libusb-1.0-0-dev:"$a" libncurses-dev:"$a" libgtest-dev:"$a" libcpp-httplib-dev:"$a"
          # libftdi1-dev exists for one architecture at a time: the build takes the
          # target's runtime library and the native header.
          libftdi1-2:"$a")
done

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
for p in "${packages[@]}" "${cross[@]}"; do
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
for a in "${arches[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$a"; then $SUDO dpkg --add-architecture "$a"; fi
done
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Builds the deliverables and leaves them in dist/:
#   varn_tcp_bridge-<version>-linux-aarch64.tar.gz
#   varn_tcp_bridge-<version>-linux-armhf.tar.gz
# each with the program, varn_mgmt, its D2XX driver library (found through the
# program's RUNPATH, $ORIGIN/../lib/varn-tcp-bridge), the man page, the udev rules and
# systemd unit, the README and the licence notices of the libraries it links.
#
#   scripts/dist.sh [aarch64|armhf]...     (default: both)
#
# Installs the cross toolchains it needs (scripts/setup.sh TARGET) and builds each
# preset that is not built yet.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 armhf)

version="$(sed -n 's/^project(varn_tcp_bridge VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ -n "$version" ] || { echo "dist.sh: no version in CMakeLists.txt" >&2; exit 1; }

# The Debian packages whose libraries the program and varn_mgmt link at run time, for
# the notices.
linked=(libftdi1-2 libusb-1.0-0 libncurses6 libtinfo6 libstdc++6 libgcc-s1 libc6 libcpp-httplib0.11)

"$root/scripts/setup.sh" "${targets[@]}"
mkdir -p dist
for target in "${targets[@]}"; do
  case "$target" in
    aarch64) triplet=aarch64-linux-gnu; arch=arm64 ;;
    armhf) triplet=arm-linux-gnueabihf; arch=armhf ;;
    *) echo "dist.sh: unknown target '$target' (aarch64 or armhf)" >&2; exit 2 ;;
  esac
  cmake --preset "$target" >/dev/null
  cmake --build --preset "$target" --target varn_tcp_bridge varn_mgmt varn_ftd2xx varn_man varn_changelog

  name="varn_tcp_bridge-$version-linux-$target"
  stage="$root/build/dist/$name"
  rm -rf "$stage"
  DESTDIR="$stage" cmake --install "build/$target" --prefix / --component bridge >/dev/null
  "$triplet-strip" --strip-unneeded "$stage/bin/varn_tcp_bridge" "$stage/bin/varn_mgmt" \
    "$stage/lib/varn-tcp-bridge/libvarn_ftd2xx.so"
  cp README.md "$stage/"
  mkdir -p "$stage/LICENSES"
  cp packaging/debian/copyright "$stage/LICENSES/varn-tcp-bridge"
  for p in "${linked[@]}"; do
    notice="/usr/share/doc/$p/copyright"
    [ -f "$notice" ] || notice="/usr/share/doc/$p:$arch/copyright"
    if [ -f "$notice" ]; then
      cp "$notice" "$stage/LICENSES/$p"
    else
      echo "dist.sh: no licence notice for $p" >&2
      exit 1
    fi
  done
  # Every file the program reaches is in the archive or named in its notices.
  if "$triplet-readelf" -d "$stage/bin/varn_tcp_bridge" | grep -q 'NEEDED.*libvarn_ftd2xx' &&
     ! "$triplet-readelf" -d "$stage/bin/varn_tcp_bridge" | grep -q 'RUNPATH.*\$ORIGIN/../lib/varn-tcp-bridge'; then
    echo "dist.sh: $target program does not find its driver library by RUNPATH" >&2
    exit 1
  fi
  tar -C "$root/build/dist" --owner=0 --group=0 --sort=name -czf "dist/$name.tar.gz" "$name"
  printf '%s: varn_tcp_bridge %s bytes, libvarn_ftd2xx.so %s bytes, archive %s bytes\n' "dist/$name.tar.gz" \
    "$(stat -c %s "$stage/bin/varn_tcp_bridge")" "$(stat -c %s "$stage/lib/varn-tcp-bridge/libvarn_ftd2xx.so")" \
    "$(stat -c %s "dist/$name.tar.gz")"
done

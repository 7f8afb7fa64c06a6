#!/usr/bin/env bash
# Builds the deliverables and leaves them in dist/:
#   varn_tcp_bridge-<version>-linux-aarch64.tar.gz
#   varn_tcp_bridge-<version>-linux-armhf.tar.gz
#     the program, varn_mgmt, its D2XX driver library (found through the program's
#     RUNPATH, $ORIGIN/../lib/varn-tcp-bridge), the man page, the udev rules and systemd
#     unit, the README and the licence notices of the libraries it links;
#   varn_tcp_bridge-<version>-windows-x64.zip
#     the one static varn_tcp_bridge.exe (it loads FTDI's own ftd2xx.dll), the README
#     and the licence notices of what is linked into it.
#
#   scripts/dist.sh [aarch64|armhf|windows]...     (default: all three)
#
# Installs the cross toolchains it needs (scripts/setup.sh TARGET) and builds each
# preset that is not built yet.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 armhf windows)

version="$(sed -n 's/^project(varn_tcp_bridge VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ -n "$version" ] || { echo "dist.sh: no version in CMakeLists.txt" >&2; exit 1; }

# The Debian packages whose libraries the program and varn_mgmt link at run time, for
# the notices.
linked=(libftdi1-2 libusb-1.0-0 libncurses6 libtinfo6 libstdc++6 libgcc-s1 libc6 libcpp-httplib0.11)

"$root/scripts/setup.sh" "${targets[@]}"
mkdir -p dist
# What is linked into the Windows program: ncurses (built from Debian's source), the
# compiler's runtime (libstdc++, libgcc) and the mingw-w64 runtime with winpthreads.
windows_notices=(libncurses6 gcc-mingw-w64-base mingw-w64-common)

dist_windows() {
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target varn_tcp_bridge
  local name="varn_tcp_bridge-$version-windows-x64"
  local stage="$root/build/dist/$name"
  rm -rf "$stage"
  mkdir -p "$stage/LICENSES"
  x86_64-w64-mingw32-strip -o "$stage/varn_tcp_bridge.exe" build/windows/app/varn_tcp_bridge.exe
  if x86_64-w64-mingw32-objdump -p "$stage/varn_tcp_bridge.exe" | grep 'DLL Name' |
     grep -viqE 'KERNEL32|msvcrt|USER32|WINMM|WS2_32|ADVAPI32'; then
    echo "dist.sh: the Windows program needs a DLL that Windows does not have:" >&2
    x86_64-w64-mingw32-objdump -p "$stage/varn_tcp_bridge.exe" | grep 'DLL Name' >&2
    exit 1
  fi
  cp README.md "$stage/"
  cp packaging/debian/copyright "$stage/LICENSES/varn-tcp-bridge"
  for p in "${windows_notices[@]}"; do cp "/usr/share/doc/$p/copyright" "$stage/LICENSES/$p"; done
  rm -f "dist/$name.zip"
  (cd "$root/build/dist" && cmake -E tar cf "$root/dist/$name.zip" --format=zip "$name")
  printf '%s: varn_tcp_bridge.exe %s bytes, archive %s bytes\n' "dist/$name.zip" \
    "$(stat -c %s "$stage/varn_tcp_bridge.exe")" "$(stat -c %s "dist/$name.zip")"
}

for target in "${targets[@]}"; do
  case "$target" in
    aarch64) triplet=aarch64-linux-gnu; arch=arm64 ;;
    armhf) triplet=arm-linux-gnueabihf; arch=armhf ;;
    windows) dist_windows; continue ;;
    *) echo "dist.sh: unknown target '$target' (aarch64, armhf or windows)" >&2; exit 2 ;;
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

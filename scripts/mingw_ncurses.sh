#!/usr/bin/env bash
# Cross-builds ncurses for Windows x64 (mingw-w64) from Debian's own ncurses source
# package, for the Windows build's console view, and prints the folder it installed to.
# Debian ships no mingw-w64 ncurses, so the source comes with `apt-get source` from a
# deb-src entry for the archive this machine already uses. The result is cached by
# the source version under ${XDG_CACHE_HOME:-~/.cache}/varn_tcp_bridge, so it is built
# once per machine.
#
#   scripts/mingw_ncurses.sh        prints the install prefix (lib/, include/)
set -euo pipefail

host=x86_64-w64-mingw32
cache="${XDG_CACHE_HOME:-$HOME/.cache}/varn_tcp_bridge"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# A deb-src entry beside each deb822 entry of the machine's own sources.
sources=/etc/apt/sources.list.d/varn-tcp-bridge-src.sources
if ! apt-cache showsrc ncurses >/dev/null 2>&1 || ! apt-cache showsrc ncurses | grep -q '^Package: ncurses'; then
  if [ ! -f "$sources" ]; then
    tmp="$(mktemp)"
    for f in /etc/apt/sources.list.d/*.sources; do
      [ "$f" = "$sources" ] && continue
      sed -n 's/^Types: deb$/Types: deb-src/;p' "$f" >>"$tmp"
      echo >>"$tmp"
    done
    if [ -f /etc/apt/sources.list ]; then
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >/tmp/varn-src.list || true
    fi
    if [ ! -s "$tmp" ] && [ ! -s /tmp/varn-src.list ]; then
      echo "mingw_ncurses.sh: no apt sources found to add deb-src entries for" >&2
      exit 1
    fi
    [ -s "$tmp" ] && $SUDO install -m 644 "$tmp" "$sources"
    [ -s /tmp/varn-src.list ] && $SUDO install -m 644 /tmp/varn-src.list /etc/apt/sources.list.d/varn-tcp-bridge-src.list
    rm -f "$tmp" /tmp/varn-src.list
  fi
  $SUDO apt-get update -qq
fi

version="$(apt-cache showsrc ncurses | sed -n 's/^Version: //p' | head -1)"
[ -n "$version" ] || { echo "mingw_ncurses.sh: apt knows no ncurses source version" >&2; exit 1; }
prefix="$cache/ncurses-$version-$host"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/ncurses-src"
rm -rf "$work" "$prefix"
mkdir -p "$work"
(cd "$work" && apt-get source -qq --download-only "ncurses=$version" >&2 && dpkg-source -x --no-check ./*.dsc src >&2)

# A static library with the Windows console driver (the term driver), which draws on
# the console itself: without TERM set it needs no terminfo entry, so the program runs
# without files beside it.
(
  cd "$work/src"
  ./configure --host="$host" --prefix="$prefix" \
    --without-ada --without-cxx-binding --without-manpages --without-progs --without-tests \
    --without-shared --with-normal --without-debug --disable-home-terminfo \
    --enable-term-driver --enable-sp-funcs --disable-termcap \
    --enable-overwrite >&2
  make -j"$(nproc)" libs >&2
  make install.libs install.includes >&2
)
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"

#!/usr/bin/env bash
# The program's POSIX-only calls stay in the platform layer (app/platform/), so the
# Windows build is the same sources: fails, naming the lines, when a product file
# outside it includes a POSIX-only header. Tests, simulators and tools may use them.
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#include <(unistd\.h|fcntl\.h|pthread\.h|poll\.h|dlfcn\.h|termios\.h|netdb\.h|sys/(socket|select|ioctl|mman|wait|un|stat|time|prctl)\.h|netinet/[a-z]+\.h|arpa/inet\.h)>'
found="$(grep -rnE "$pattern" app axi power jtag bitstream coe xvc console ftdi \
  --include='*.cpp' --include='*.h' | grep -v -e '^app/platform/' -e '/tests/' \
  -e '^ftdi/d2xx_libftdi.cpp' || true)"
# getopt comes from <unistd.h> on Linux and from mingw-w64's runtime on Windows.
found="$(printf '%s\n' "$found" | grep -v '^app/cli/command_line.cpp:[0-9]*:#include <unistd.h>' || true)"
if [ -n "$found" ]; then
  echo "POSIX-only headers outside the platform layer (app/platform/):" >&2
  echo "$found" >&2
  exit 1
fi
echo "platform layer: no POSIX-only header outside app/platform/"

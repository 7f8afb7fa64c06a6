#!/usr/bin/env bash
# Builds the Debian packages of this build tree and checks them the way a user meets
# them: metadata and contents (dpkg-deb), lintian, systemd-analyze verify of the unit,
# then the programs as installed (dpkg -x into a staging root) against simulated
# boards: help, a CoE scan with a serial echo, an FTDI scan through the installed
# simulated driver with a JTAG-UART echo, and log lines reaching a pipe while the
# program runs.
# usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
work="$build/packaging/test"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

rm -rf "$work" && mkdir -p "$work/stage"
cd "$build" || exit 1
cpack -G DEB > "$work/cpack.out" 2>&1 || { cat "$work/cpack.out"; echo "FAIL: cpack"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)
arch=$(dpkg --print-architecture)
main="$build/varn-tcp-bridge_${version}_${arch}.deb"
sim="$build/varn-tcp-bridge-sim_${version}_${arch}.deb"
check "both packages built" test -f "$main" -a -f "$sim"

# --- metadata and contents ------------------------------------------------------------
info=$(dpkg-deb --info "$main")
for dep in adduser libftdi1-2 libusb-1.0-0 libncurses6 libstdc++6; do
  check "Depends names $dep" grep -q "Depends:.*$dep" <<<"$info"
done
check "conffile /etc/default/varn-tcp-bridge" grep -qx "/etc/default/varn-tcp-bridge" <(dpkg-deb --ctrl-tarfile "$main" | tar -xO ./conffiles)
check "postinst creates the service user in plugdev" grep -q "adduser --quiet varn-tcp-bridge plugdev" <(dpkg-deb --ctrl-tarfile "$main" | tar -xO ./postinst)
contents=$(dpkg-deb --contents "$main" | awk '{print $6}')
for f in ./usr/bin/varn_tcp_bridge ./usr/bin/varn_mgmt ./usr/lib/varn-tcp-bridge/libvarn_ftd2xx.so \
         ./usr/share/man/man1/varn_tcp_bridge.1.gz ./usr/share/doc/varn-tcp-bridge/copyright \
         ./lib/udev/rules.d/60-varn-tcp-bridge.rules ./lib/systemd/system/varn-tcp-bridge.service \
         ./etc/default/varn-tcp-bridge; do
  check "package holds $f" grep -qx "$f" <<<"$contents"
done
simcontents=$(dpkg-deb --contents "$sim" | awk '{print $6}')
for f in ./usr/bin/varn_board_sim ./usr/bin/varn_bitgen ./usr/lib/varn-tcp-bridge/libvarn_ftdisim.so; do
  check "sim package holds $f" grep -qx "$f" <<<"$simcontents"
done
check "no simulator in the main package" bash -c "! grep -q 'sim' <<<\"\$0\"" "$(grep -E 'bin/|\.so' <<<"$contents")"

# --- lintian: no errors (the warnings left are listed in the README) ------------------
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$main" "$sim" > "$work/lintian.out" 2>&1
  check "lintian reports no error" bash -c "! grep -q '^E:' '$work/lintian.out'"
  grep '^[EW]:' "$work/lintian.out"
else
  fail "lintian is not installed (scripts/setup.sh installs it)"
fi

# --- install into a staging root --------------------------------------------------------
stage="$work/stage"
dpkg -x "$main" "$stage" && dpkg -x "$sim" "$stage"

# The unit, against a root holding the system's own units (for the targets it names)
# and the installed program; systemd-analyze prints a line for every problem.
if command -v systemd-analyze >/dev/null; then
  cp -rn /lib/systemd/system/. "$stage/lib/systemd/system/" 2>/dev/null
  mkdir -p "$stage/etc" && cp /etc/passwd /etc/group "$stage/etc/"
  out=$(systemd-analyze verify --man=no --root="$stage" /lib/systemd/system/varn-tcp-bridge.service 2>&1)
  check "systemd-analyze verify is silent" test -z "$out"
  [ -n "$out" ] && echo "$out"
  units=$(grep -c . <(ls "$stage/lib/systemd/system"))  # keep the staging root small again
  rm -rf "$stage/etc/passwd" "$stage/etc/group"
  find "$stage/lib/systemd/system" -mindepth 1 ! -name varn-tcp-bridge.service -exec rm -rf {} + 2>/dev/null
  : "$units"
else
  fail "systemd-analyze is not installed"
fi

bridge="$stage/usr/bin/varn_tcp_bridge"
"$bridge" -h > "$work/help.out" 2>&1
status=$?
check "installed program prints its help (status 255)" test "$status" -eq 255
check "help names the version" grep -q "^V$version Arguments:" "$work/help.out"
check "the man page names every option of the help" bash -c '
  for o in $(grep -oE "^ -[A-Za-z]/-[A-Za-z]" "$0" | cut -c3 | tr A-Z a-z); do
    zcat "$1" | grep -q "^\.B[IR]* \\\\-$o\b" || { echo "man page lacks -$o"; exit 1; }
  done' "$work/help.out" "$stage/usr/share/man/man1/varn_tcp_bridge.1.gz"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
trap cleanup EXIT

# A free loopback address for the simulated controller, a free port range for the bridge.
free_port() {  # first of $1 consecutive free TCP ports on 127.0.0.1
  local p
  for p in $(shuf -i 20000-60000 -n 50); do
    local ok=1 i
    for ((i = 0; i < $1; i++)); do
      (exec 3<>"/dev/tcp/127.0.0.1/$((p + i))") 2>/dev/null && ok=0
    done
    [ $ok = 1 ] && { echo "$p"; return; }
  done
}
wait_for() {  # wait_for FILE TEXT SECONDS
  local end=$((SECONDS + $3))
  while [ $SECONDS -lt $end ]; do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
echo_through() {  # echo_through PORT TEXT: the line comes back
  local line
  exec 4<>"/dev/tcp/127.0.0.1/$1" || return 1
  printf '%s\n' "$2" >&4
  IFS= read -r -t 20 line <&4
  exec 4>&-
  [ "$line" = "$2" ]
}

# A CoE board from the installed varn_board_sim, served by the installed bridge whose
# standard output is a pipe: its lines must arrive while it runs.
addr="127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 2))"
# Each child ends by itself after a while, should this script be killed before its trap.
timeout 180 "$stage/usr/bin/varn_board_sim" --coe-board "$addr" --coe-fpga vu9p,app=echo > "$work/sim.out" 2>&1 &
pids+=($!)
check "installed varn_board_sim serves a controller" wait_for "$work/sim.out" "CoE board controller on $addr:21363" 20
port=$(free_port 1)
mkfifo "$work/pipe"
( cd "$work" && exec timeout 180 "$bridge" -c "$addr" -q -p "$port" > "$work/pipe" 2>&1 ) &
pids+=($!)
cat < "$work/pipe" > "$work/coe.out" &
pids+=($!)
check "log lines reach a pipe while the program runs" wait_for "$work/coe.out" "Opened virtual TCP serial port $port" 30
check "CoE serial echo through the installed program" echo_through "$port" "installed and serving"
check "virtual_ports written in the working directory" grep -q "tcp://<hostname>:$port" "$work/virtual_ports"

# An FTDI board through the installed simulated driver library.
cat > "$work/board.txt" <<'BOARD'
board one clock=wall
device VU9P preconfigured=yes app=echo
ftdi FT232H serial=PKG00001
channel A jtag=one
BOARD
port2=$(free_port 1)
# The library is preloaded into the program only, not into timeout: a sanitizer build's
# library needs the sanitizer runtime the program brings (and lets it come first).
ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 VARNSIM_BOARDS="$work/board.txt" \
  timeout 180 env LD_PRELOAD="$stage/usr/lib/varn-tcp-bridge/libvarn_ftdisim.so" "$bridge" -a -q -p "$port2" \
  > "$work/ftdi.out" 2>&1 &
pids+=($!)
check "FTDI scan through the installed simulated driver" wait_for "$work/ftdi.out" "IDCODE(04b31093) Name: VU9P" 30
check "JTAG-UART echo through the installed program" echo_through "$port2" "over jtag"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; output in $work"
  exit 1
fi
echo "all package checks passed"

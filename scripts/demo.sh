#!/usr/bin/env bash
# Builds the program and runs its main job against a small simulated rack, as it
# would run against real boards:
#   - two CoE boards behind simulated board controllers (varn_board_sim): a VU35P on
#     127.0.0.2 and a VU9P + VU35P chain on 127.0.0.3;
#   - one FTDI board (a VU35P behind an FT2232H) through the simulated D2XX driver
#     (libvarn_ftdisim.so preloaded, the rack described in sim/racks/demo.txt).
# varn_tcp_bridge scans them, opens one TCP serial port per FPGA and prints the
# telemetry report every second. Ctrl-C stops everything.
#
# Options:
#   --seconds N    stop by itself after N seconds (for scripted checks)
#   --coe A,B      the two CoE boards' loopback addresses (default 127.0.0.2,127.0.0.3)
#   --port P       the first TCP serial port (default 2000)
#   --bin DIR      use the programs already built in build directory DIR; no build
#   --dir DIR      working directory for the bridge's files (default build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=0
coe="127.0.0.2,127.0.0.3"
port=2000
bin=""
work="$root/build/demo"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="${2:?--seconds needs a number}"; shift 2 ;;
    --coe) coe="${2:?--coe needs two addresses}"; shift 2 ;;
    --port) port="${2:?--port needs a number}"; shift 2 ;;
    --bin) bin="${2:?--bin needs a build directory}"; shift 2 ;;
    --dir) work="${2:?--dir needs a directory}"; shift 2 ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
case "$seconds" in ''|*[!0-9]*) echo "demo.sh: --seconds needs a whole number, not '$seconds'" >&2; exit 2 ;; esac
IFS=, read -r coeA coeB <<<"$coe"
if [ -z "${coeA:-}" ] || [ -z "${coeB:-}" ]; then
  echo "demo.sh: --coe needs two addresses separated by a comma, not '$coe'" >&2
  exit 2
fi

if [ -z "$bin" ]; then
  ./scripts/setup.sh
  cmake --preset default >/dev/null
  cmake --build --preset default --target varn_tcp_bridge varn_board_sim varn_ftdisim
  bin="$root/build/default"
fi
bin=$(cd "$bin" && pwd)
bridge="$bin/app/varn_tcp_bridge"
boardsim="$bin/tools/varn_board_sim/varn_board_sim"
ftdisim="$bin/sim/d2xx/libvarn_ftdisim.so"
rack="$root/sim/racks/demo.txt"
for f in "$bridge" "$boardsim" "$ftdisim" "$rack"; do
  [ -e "$f" ] || { echo "demo.sh: missing $f" >&2; exit 1; }
done

mkdir -p "$work"
cd "$work"
rm -f virtual_ports bridge.log boardsim.log

# The two programs run in sessions of their own (setsid execs them under the same
# pid), so a stop reaches each whole process group, and Ctrl-C reaches only this
# script, which then stops them in order.
groups=()
pids=()
stopping=0
stop() {
  [ "$stopping" = 1 ] && return
  stopping=1
  for pid in "${groups[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${groups[@]}" "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap 'stop; echo; echo "Demo stopped."; exit 0' INT TERM
trap 'stop' EXIT

echo "Starting the simulated board controllers (varn_board_sim)..."
setsid "$boardsim" \
  --coe-board "$coeA" --coe-fpga vu35p,app=console,name=coe0-A \
  --coe-board "$coeB" --coe-fpga vu9p,app=console,name=coe1-A --coe-fpga vu35p,app=console,name=coe1-B \
  >boardsim.log 2>&1 &
groups+=($!)
simpid=$!
for _ in $(seq 100); do
  [ "$(grep -c '^CoE board controller on' boardsim.log 2>/dev/null)" = 2 ] && break
  kill -0 "$simpid" 2>/dev/null || break
  sleep 0.1
done
if [ "$(grep -c '^CoE board controller on' boardsim.log 2>/dev/null)" != 2 ]; then
  echo "demo.sh: the simulated board controllers did not start:" >&2
  cat boardsim.log >&2
  exit 1
fi
cat boardsim.log
echo

args=(-c "$coe" -a -p "$port" -k 0)
echo "Running: varn_tcp_bridge ${args[*]}"
echo "  (FTDI board through the simulated D2XX driver: VARNSIM_BOARDS=sim/racks/demo.txt"
echo "   LD_PRELOAD=libvarn_ftdisim.so)"
echo
: >bridge.log  # exists before tail looks for it
setsid env VARNSIM_BOARDS="$rack" LD_PRELOAD="$ftdisim${LD_PRELOAD:+:$LD_PRELOAD}" "$bridge" "${args[@]}" \
  >bridge.log 2>&1 &
groups+=($!)
bridgepid=$!
tail -n +1 -f --pid="$bridgepid" bridge.log &
pids+=($!)

# The ports are open once every board has printed its "Open Complete" lines.
for _ in $(seq 150); do
  grep -q '^Activating UART Bridge' bridge.log 2>/dev/null && [ -s virtual_ports ] && break
  kill -0 "$bridgepid" 2>/dev/null || break
  sleep 0.1
done
sleep 1.5
if [ -s virtual_ports ]; then
  first=$(sed -n '1s/.*:\([0-9]*\)$/\1/p' virtual_ports)
  {
    echo
    echo "================================================================"
    echo " The bridge serves these ports (file $work/virtual_ports):"
    sed 's/^/   /' virtual_ports
    echo " Connect to an FPGA's serial channel from another terminal with"
    echo "   nc localhost ${first:-$port}"
    echo " and type 'help' (each simulated FPGA runs a small console)."
    echo " Ctrl-C here stops the bridge and the simulated boards."
    echo "================================================================"
    echo
  } >&2
fi

if [ "$seconds" -gt 0 ]; then
  end=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$end" ] && kill -0 "$bridgepid" 2>/dev/null; do sleep 0.2; done
else
  while kill -0 "$bridgepid" 2>/dev/null; do sleep 0.5; done
fi
if ! kill -0 "$bridgepid" 2>/dev/null; then
  wait "$bridgepid" 2>/dev/null && status=0 || status=$?
  echo "varn_tcp_bridge ended with status $status."
fi
stop
echo "Demo finished."

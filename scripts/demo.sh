#!/usr/bin/env bash
# Builds the program and runs its main job. Until the simulated rack exists this
# shows the help and a listing scan of the FTDI devices on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target varn_tcp_bridge
bridge=build/default/app/varn_tcp_bridge
"$bridge" -h || true
echo
"$bridge" -l

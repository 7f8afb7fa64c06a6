#!/usr/bin/env bash
# Runs one libFuzzer target (or all of them) for a while: builds it in the asan build
# (clang, ASan + UBSan, coverage in every library), starts from the target's seed
# corpus (the map below, copied, so new inputs stay in build/fuzz/corpus/<target>) and
# fails on the first finding.
# usage: scripts/fuzz.sh TARGET|all [SECONDS] [RUNS]
#   SECONDS per target (default 60); RUNS ends a target sooner, after that many inputs
#   (the long campaign: scripts/fuzz.sh all 3600 10000000).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each target and the folder of its seed corpus.
declare -A seeds=([xvc_stream_fuzz]=fuzz/xvc/corpus [mgmt_request_fuzz]=fuzz/mgmt/request_corpus [bitstream_fuzz]=fuzz/bitstream/corpus [axi_bridge_fuzz]=fuzz/axi/bridge_corpus
  [axi_assembler_fuzz]=fuzz/axi/assembler_corpus [coe_link_rx_fuzz]=fuzz/coe/corpus [mgmt_frame_fuzz]=fuzz/mgmt/frame_corpus
  [controller_fuzz]=fuzz/controller/corpus [cli_fuzz]=fuzz/cli/corpus)
target=${1:-}
seconds=${2:-60}
runs=${3:--1}
if [ -z "$target" ] || { [ "$target" != all ] && [ -z "${seeds[$target]:-}" ]; }; then
  echo "usage: scripts/fuzz.sh TARGET|all [SECONDS] [RUNS]; targets: ${!seeds[*]}" >&2
  exit 2
fi
targets=("$target")
[ "$target" = all ] && targets=("${!seeds[@]}")

cmake --preset fuzz > build-fuzz-configure.log 2>&1 || { cat build-fuzz-configure.log; exit 1; }
rm -f build-fuzz-configure.log
cmake --build --preset fuzz --target "${targets[@]}"
for t in "${targets[@]}"; do
  dir="build/fuzz/corpus/$t"
  mkdir -p "$dir"
  [ -d "${seeds[$t]}" ] && cp -n "${seeds[$t]}"/* "$dir"/ 2>/dev/null || true
  bin=$(find build/asan/fuzz -type f -name "$t" -perm -u+x | head -1)
  echo "== $t for $seconds s (corpus $dir)"
  # Findings are written into build/fuzz/findings; add a finding to the seeds once fixed.
  mkdir -p build/fuzz/findings
  rm -f build/fuzz/findings/"$t"-*
  # The whole output stays in build/fuzz/<target>.log (a finding's stack is there).
  "$bin" -max_total_time="$seconds" -runs="$runs" -max_len=4096 -print_final_stats=1 -close_fd_mask=3 \
    -artifact_prefix=build/fuzz/findings/"$t"- "$dir" > build/fuzz/"$t".log 2>&1 || true
  grep -E "^(Done|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)" build/fuzz/"$t".log || true
  # (An input that merely ran slowly on a busy machine is kept as slow-unit-*, not a finding.)
  found=$(find build/fuzz/findings -name "$t-crash-*" -o -name "$t-leak-*" -o -name "$t-timeout-*" -o -name "$t-oom-*")
  if [ -n "$found" ]; then
    echo "FAIL: $t found inputs that break it: $found"
    exit 1
  fi
done

#!/usr/bin/env bash
# Runs every fuzz target of the fuzz tree for a set time, each from its checked-in seeds
# (fuzz/corpus/<target>) and what earlier runs found (<fuzz tree>/corpus/<target>), and
# prints the executions per target. A crash leaves its input in <fuzz tree>/artifacts/ and
# fails the run; the input then becomes a seed, and a test where it belongs.
# Usage: scripts/fuzz.sh FUZZ_BUILD_DIR SECONDS_PER_TARGET
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
seconds=${2:-60}
mkdir -p "$dir/artifacts" "$dir/logs"
status=0
while read -r target max_len; do
  mkdir -p "$dir/corpus/$target"
  log="$dir/logs/$target.log"
  "$dir/$target" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$target-" \
    "$dir/corpus/$target" "$root/fuzz/corpus/$target" >"$log" 2>&1
  result=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  if [ $result -eq 0 ]; then
    echo "fuzz: $target: ${runs:-?} executions in ${seconds} s (${speed:-?}/s), ${coverage:-cov: ?}"
  else
    echo "fuzz: $target: FAILED after ${runs:-?} executions (status $result); see $log and $dir/artifacts/"
    status=1
  fi
done <"$dir/fuzz_targets.txt"
exit $status

#!/usr/bin/env bash
# Runs every libFuzzer target of FUZZ_BUILD_DIR for SECONDS each, starting
# from the checked-in seed corpus, and reports executions and coverage.
# usage: scripts/fuzz.sh FUZZ_BUILD_DIR SECONDS
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 seconds=$2
passed=0 failed=0
if [[ -e $build/fuzzers/NO_LIBFUZZER ]]; then
  echo "fuzz: skipped, this compiler has no libFuzzer (Apple's clang)"
  exit 0
fi
for target in "$build"/fuzzers/fuzz_*; do
  [[ -x $target ]] || continue
  name=$(basename "$target")
  case $name in
    fuzz_hook_*|fuzz_json_doc) seeds=$root/fuzz/corpus/settings ;;  # one corpus: the first byte picks the agent, or the comments
    *) seeds=$root/fuzz/corpus/${name#fuzz_} ;;
  esac
  work=$root/fuzz/corpus-work/$name
  mkdir -p "$work"
  log=$work.log
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work-" "$work" "$seeds" >"$log" 2>&1; then
    passed=$((passed + 1))
    execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    cov=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
    echo "fuzz: $name ok, $execs runs in ${seconds}s, $cov"
  else
    failed=$((failed + 1))
    echo "fuzz: $name FAILED; last lines of $log:"
    tail -n 30 "$log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0 && passed > 0))

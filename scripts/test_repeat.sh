#!/usr/bin/env bash
# `make test-repeat`: the sanitizer suite and then the release suite, as
# `make test` runs them (ctest -j JOBS), N times in a row, stopping at the
# first failure and showing its output. A test that fails only now and then,
# beside the others or on a loaded machine, shows up here. The fuzzers are
# left out: they search inputs, not timings, and `make test` runs them once;
# so is the macOS typecheck, which compiles and runs nothing.
# Leave the sources alone meanwhile: the package check's cpack builds what
# changed, under the feet of the tests running beside it.
# usage: scripts/test_repeat.sh N JOBS BUILD_DIR SANITIZER_BUILD_DIR
set -uo pipefail
n=$1 jobs=$2 build=$3 san=$4
log=$(mktemp)
passed=0 run=0
trap 'rm -f "$log"' EXIT
trap 'echo; echo "test-repeat: interrupted in run $run of $n"; echo "test-repeat: $passed passed, 0 failed"; exit 130' INT TERM
for ((run = 1; run <= n; run++)); do
  for dir in "$san" "$build"; do
    if ! ctest --test-dir "$dir" --output-on-failure -j "$jobs" -E '^macos[.]typecheck$' >"$log" 2>&1; then
      cat "$log"
      echo "test-repeat: run $run of $n failed in $dir (its output is above)"
      echo "test-repeat: $passed passed, 1 failed"
      exit 1
    fi
  done
  passed=$((passed + 1))
  echo "test-repeat: run $run of $n passed"
done
echo "test-repeat: $passed passed, 0 failed"

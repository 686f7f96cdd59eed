#!/usr/bin/env bash
# Stops install-claude-hooks at random moments while it edits a 10 MB settings
# file, many times (SIGKILL and SIGTERM in turn): the file is the old one or the
# new one, the backup whole or absent, and after the next run no temporary file
# is left. Then editors race installs for RACE_SAVES saves each: none is lost.
# usage: tests/stress/crash.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=$(cd "$1" && pwd) rounds=${2:-150}
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
export HOME=$work/home && file=$HOME/.claude/settings.json && mkdir -p "${file%/*}"
python3 "$(dirname "$0")/../../bench/gen_settings.py" 10000000 "$work/old.json"
cp "$work/old.json" "$file" && "$build/tarnelctl" install-claude-hooks >/dev/null && cp "$file" "$work/new.json"
fail() { echo "stress: round $i ($signal): $*" >&2; exit 1; }
temporaries() { ls -A "${file%/*}" | grep -c '^\.settings\.json\.tarnel-' || true; }
killed=0
for ((i = 1; i <= rounds; i++)); do
  signal=$((i % 2 ? 9 : 15))
  cp "$work/old.json" "$file" && rm -f "$file.tarnel-backup"
  "$build/tarnelctl" install-claude-hooks >/dev/null & pid=$!
  sleep "$(printf '0.%03d' $((RANDOM % 150)))"
  kill -$signal $pid 2>/dev/null && wait $pid 2>/dev/null || true
  cmp -s "$file" "$work/old.json" || cmp -s "$file" "$work/new.json" || fail "the settings file is torn"
  [[ ! -e $file.tarnel-backup ]] || cmp -s "$file.tarnel-backup" "$work/old.json" || fail "the backup is torn"
  killed=$((killed + $(temporaries)))
  "$build/tarnelctl" uninstall-claude-hooks >/dev/null
  (($(temporaries) == 0)) || fail "a temporary file outlives the next run: $(ls -A "${file%/*}")"
done
echo "stress: $rounds rounds, the settings file and its backup always whole, $killed temporaries left by kills, none after the next run"
TARNEL_RACE_SAVES=${RACE_SAVES:-3000} "$build/tests/hook_commands_test" --gtest_filter='*ConcurrentSaves*' | grep -E 'lost|OK|FAILED'

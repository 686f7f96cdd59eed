#!/usr/bin/env bash
# Measures tarnelctl against its baselines and writes the results to
# bench/results.md and into the Performance section of README.md.
#
#   heartbeat   tarnelctl busy     vs a minimal C sd-bus emit and dbus-send
#   request     tarnelctl status   vs a minimal C sd-bus round trip (stand-in app replies)
#   settings    install/uninstall-claude-hooks on 1 MB and 10 MB files vs jq making the same edit
#
# Everything runs on a private dbus-daemon and in a scratch HOME.
# usage: scripts/bench.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${BENCH_RUNS:-300}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private session bus and the stand-in application.
dbus-daemon --session --nofork --nopidfile --nosyslog \
  --address="unix:path=$work/bus" --print-address >"$work/address" &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/address ]] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/address")
"$build/tools/tarnel-standin" >"$work/standin.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/standin.out" 2>/dev/null && break; sleep 0.05; done

export HOME=$work/home
mkdir -p "$HOME/.claude"
hf() { hyperfine --style none --export-json "$@" >/dev/null; }

echo "bench: heartbeat" >&2
hf "$work/heartbeat.json" -N --warmup 50 --runs "$runs" \
  -n "tarnelctl busy" "$build/tarnelctl busy" \
  -n "C sd-bus emit" "$build/bench/bench-c-emit" \
  -n "dbus-send" "dbus-send --session --type=signal /dev/tarnel dev.tarnel.command string:busy"

echo "bench: request and reply" >&2
hf "$work/request.json" -N --warmup 20 --runs "$runs" \
  -n "tarnelctl status" "$build/tarnelctl status" \
  -n "C sd-bus round trip" "$build/bench/bench-c-roundtrip"

echo "bench: settings files" >&2
settings=$HOME/.claude/settings.json
ours='{"hooks":[{"type":"command","command":"'"$build"'/tarnelctl busy","_origin":"tarnel"}]}'
jq_install='.hooks //= {} | .hooks.PreToolUse = ((.hooks.PreToolUse // []) + ['"$ours"'])
  | .hooks.UserPromptSubmit = ((.hooks.UserPromptSubmit // []) + ['"$ours"'])'
jq_uninstall='def strip: map(.hooks |= map(select(._origin != "tarnel"))) | map(select(.hooks | length > 0));
  .hooks.PreToolUse |= strip | .hooks.UserPromptSubmit |= strip'
for size in 1 10; do
  plain=$work/plain-$size.json installed=$work/installed-$size.json
  python3 "$root/bench/gen_settings.py" $((size * 1000000)) "$plain"
  cp "$plain" "$settings" && "$build/tarnelctl" install-claude-hooks >/dev/null && cp "$settings" "$installed"
  hf "$work/install-$size.json" --warmup 2 --runs 15 \
    --prepare "cp $plain $settings; rm -f $settings.tarnel-backup" \
    -n "tarnelctl install-claude-hooks (${size} MB)" "$build/tarnelctl install-claude-hooks" \
    -n "jq (${size} MB)" "jq '$jq_install' $settings >$settings.tmp && mv $settings.tmp $settings"
  hf "$work/uninstall-$size.json" --warmup 2 --runs 15 \
    --prepare "cp $installed $settings; rm -f $settings.tarnel-backup" \
    -n "tarnelctl uninstall-claude-hooks (${size} MB)" "$build/tarnelctl uninstall-claude-hooks" \
    -n "jq (${size} MB)" "jq '$jq_uninstall' $settings >$settings.tmp && mv $settings.tmp $settings"
done

echo "bench: peak memory" >&2
python3 - "$build" >"$work/rss.txt" <<'PY'
import os, subprocess, sys
def peak_kib(cmd):
    """Largest peak resident set size of the command over 20 runs, in KiB."""
    best = 0
    for _ in range(20):
        child = subprocess.Popen(cmd)
        _, _, usage = os.wait4(child.pid, 0)
        best = max(best, usage.ru_maxrss)
    return best
build = sys.argv[1]
print(peak_kib([f"{build}/tarnelctl", "busy"]), peak_kib([f"{build}/bench/bench-c-emit"]))
PY

python3 "$root/bench/report.py" "$work" >"$root/bench/results.md"
python3 "$root/bench/report.py" --readme "$root/README.md" "$root/bench/results.md"
cat "$root/bench/results.md"

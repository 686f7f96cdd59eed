#!/usr/bin/env bash
# Measures tarnelctl against its baselines and writes the results to
# bench/results.md and into the Performance section of docs/DEVELOPING.md.
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
runs=${BENCH_RUNS:-100}  # per round
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private session bus and the stand-in application.
source "$root/scripts/private_bus.sh"
start_private_bus "$work"
pids+=("$bus_pid")
"$build/tools/tarnel-standin" >"$work/standin.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/standin.out" 2>/dev/null && break; sleep 0.05; done

export HOME=$work/home
mkdir -p "$HOME/.claude"
# hf NAME ROUNDS hyperfine-args...: the commands are timed in ROUNDS alternating
# rounds, so that a machine whose speed drifts treats them alike.
hf() {
  local name=$1 rounds=$2
  shift 2
  for ((round = 1; round <= rounds; round++)); do
    hyperfine --style none --export-json "$work/$name.$round.json" "$@" >/dev/null
  done
}

echo "bench: heartbeat" >&2
hf heartbeat 10 -N --warmup 20 --runs "$runs" \
  -n "tarnelctl busy" "$build/tarnelctl busy" \
  -n "C sd-bus emit" "$build/bench/bench-c-emit" \
  -n "dbus-send" "dbus-send --session --type=signal /dev/tarnel dev.tarnel.command string:busy"

echo "bench: request and reply" >&2
hf request 10 -N --warmup 20 --runs "$runs" \
  -n "tarnelctl status" "$build/tarnelctl status" \
  -n "C sd-bus round trip" "$build/bench/bench-c-roundtrip"

if [[ -x $build/tarnelctl-foundation ]]; then  # Linux builds it for the tests, against GNUstep's gdnc
  echo "bench: heartbeat over Foundation" >&2
  mkdir -p "$work/gnustep"
  TMP=$work/gnustep HOME=$work/gnustep gdnc --no-fork &
  pids+=($!)
  for _ in $(seq 200); do [[ -e $work/gnustep/NSMessagePort/names/R0ROQ1NlcnZlcg== ]] && break; sleep 0.05; done
  TMP=$work/gnustep HOME=$work/gnustep hf foundation 3 -N --warmup 5 --runs 20 \
    -n "tarnelctl busy (Foundation, GNUstep)" "$build/tarnelctl-foundation busy" -n "tarnelctl busy" "$build/tarnelctl busy"
fi

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
  hf "install-$size" 3 --warmup 1 --runs 5 \
    --prepare "cp $plain $settings; rm -f $settings.tarnel-backup" \
    -n "tarnelctl install-claude-hooks (${size} MB)" "$build/tarnelctl install-claude-hooks" \
    -n "jq (${size} MB)" "jq '$jq_install' $settings >$settings.tmp && mv $settings.tmp $settings"
  hf "uninstall-$size" 3 --warmup 1 --runs 5 \
    --prepare "cp $installed $settings; rm -f $settings.tarnel-backup" \
    -n "tarnelctl uninstall-claude-hooks (${size} MB)" "$build/tarnelctl uninstall-claude-hooks" \
    -n "jq (${size} MB)" "jq '$jq_uninstall' $settings >$settings.tmp && mv $settings.tmp $settings"
done

echo "bench: peak memory" >&2
for size in 1 10; do  # "install|uninstall BYTES KiB..." for each file, 5 runs
  for op in install uninstall; do
    from=$work/plain-$size.json
    [[ $op == install ]] || from=$work/installed-$size.json
    printf '%s %s' "$op" "$(wc -c <"$from")"
    for _ in 1 2 3 4 5; do
      cp "$from" "$settings" && rm -f "$settings.tarnel-backup"
      printf ' %s' "$("$build/bench/bench-peak-rss" "$build/tarnelctl" "$op-claude-hooks" | tail -n1)"
    done
    echo
  done
done >"$work/rss-files.txt"
peak() {  # the peak RSS of each of 50 runs, in KiB
  for _ in $(seq 50); do "$build/bench/bench-peak-rss" "$@"; done | tr '\n' ' '
}
{ peak "$build/tarnelctl" busy; echo; peak "$build/bench/bench-c-emit"; echo; } >"$work/rss.txt"

python3 "$root/bench/report.py" "$work" >"$root/bench/results.md"
python3 "$root/bench/report.py" --readme "$root/docs/DEVELOPING.md" "$root/bench/results.md"
cat "$root/bench/results.md"

#!/usr/bin/env bash
# Shows tarnelctl at work: on a private session bus with the stand-in Tarnel
# application, then installing and removing the agent hooks in a scratch home.
# Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: scripts/demo.sh BUILD_DIR}" && pwd)
tarnelctl=$build/tarnelctl
standin=$build/tools/tarnel-standin
for program in "$tarnelctl" "$standin"; do
  [[ -x $program ]] || { echo "demo: $program is missing; build first" >&2; exit 1; }
done
command -v dbus-daemon >/dev/null || { echo "demo: dbus-daemon is missing (scripts/setup.sh)" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnel-demo.XXXXXX")
bus_pid='' standin_pid=''
cleanup() {
  [[ -n $standin_pid ]] && kill "$standin_pid" 2>/dev/null && wait "$standin_pid" 2>/dev/null
  [[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null && wait "$bus_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bold=$'\e[1m' dim=$'\e[2m' plain=$'\e[0m'
[[ -t 1 ]] || bold='' dim='' plain=''

heading() { printf '\n%s== %s ==%s\n' "$bold" "$1" "$plain"; }

# Runs one command line: shows it, its output (indented) and its exit status.
show() {
  printf '\n%s$ %s%s\n' "$bold" "${*/#$tarnelctl/tarnelctl}" "$plain"
  local output status=0
  output=$("$@" 2>&1) || status=$?
  [[ -n $output ]] && printf '%s\n' "$output" | sed 's/^/    /'
  printf '%s  → exit status %d%s\n' "$dim" "$status" "$plain"
}

heading "A private session bus and the stand-in Tarnel application"
mkfifo "$scratch/address"
dbus-daemon --session --nofork --nopidfile --nosyslog \
  --address="unix:path=$scratch/bus" --print-address=3 3>"$scratch/address" 2>/dev/null &
bus_pid=$!
read -r address <"$scratch/address"
export DBUS_SESSION_BUS_ADDRESS=$address
echo "DBUS_SESSION_BUS_ADDRESS=$address"

mkfifo "$scratch/standin"
"$standin" >"$scratch/standin" &
standin_pid=$!
read -r ready <"$scratch/standin"
echo "tarnel-standin: $ready"

heading "Remote control"
for args in on 2h status busy off status; do
  # shellcheck disable=SC2086  # the words of each command line are meant to split
  show "$tarnelctl" $args
done

heading "Agent hooks, in a scratch home"
export HOME=$scratch/home
mkdir -p "$HOME"
echo "HOME=$HOME"
for agent in claude:.claude/settings.json codex:.codex/hooks.json gemini:.gemini/settings.json \
             cursor:.cursor/hooks.json; do
  name=${agent%%:*} file=$HOME/${agent#*:}
  show "$tarnelctl" "install-$name-hooks"
  if [[ -f $file ]]; then
    printf '\n%s$ cat ~/%s%s\n' "$bold" "${agent#*:}" "$plain"
    printf '%s\n' "$(sed 's/^/    /' "$file")"  # one newline, whether the file ends in one or not
  fi
  show "$tarnelctl" "uninstall-$name-hooks"
done

heading "A settings file of someone's own: only our hook's bytes change"
file=$HOME/.gemini/settings.json
printf '{\n    // my theme\n    "theme": "dark", "limits": [1E2, -0],\n    "hooks": {\n        "BeforeTool": [{"hooks": [{"command": "lint"}]}]\n    }\n}\n' >"$file"
cp "$file" "$scratch/before.json"
show "$tarnelctl" install-gemini-hooks
printf '\n%s$ diff -u before.json ~/.gemini/settings.json%s\n' "$bold" "$plain"
diff -u "$scratch/before.json" "$file" | tail -n +3 | sed 's/^/    /' || true
show "$tarnelctl" uninstall-gemini-hooks
show cmp "$scratch/before.json" "$file"

heading "A hook whose program has gone is mended"
cp "$tarnelctl" "$scratch/tarnelctl"
show "$scratch/tarnelctl" install-cursor-hooks
rm "$scratch/tarnelctl"
show "$tarnelctl" install-cursor-hooks

heading "A folder moved by the agent's own variable"
mkdir -p "$scratch/codex-home"
CODEX_HOME=$scratch/codex-home show "$tarnelctl" install-codex-hooks
CODEX_HOME=relative show "$tarnelctl" install-codex-hooks
echo

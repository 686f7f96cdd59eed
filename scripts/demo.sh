#!/usr/bin/env bash
# Shows tarnelctl at work. On Linux it drives tarneld, the real keep-awake
# daemon, on a private session bus, holding a logind inhibitor (python3-dbusmock's
# logind on a private system bus when this machine has no logind); on macOS the
# stand-in Tarnel application answers over Foundation. Then it installs and
# removes the agent hooks in a scratch home.
# Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: scripts/demo.sh BUILD_DIR}" && pwd)
tarnelctl=$build/tarnelctl
control=$tarnelctl
if [[ $(uname -s) == Darwin ]]; then
  # The stand-in and the test build of tarnelctl speak under notification names
  # of their own: the user's own Tarnel application hears none of the demo.
  app=$build/tools/tarnel-standin-foundation control=$build/tarnelctl-foundation
else
  app=$build/src/daemon/tarneld
  command -v dbus-daemon >/dev/null || { echo "demo: dbus-daemon is missing (scripts/setup.sh)" >&2; exit 1; }
fi
for program in "$tarnelctl" "$control" "$app"; do
  [[ -x $program ]] || { echo "demo: $program is missing; build first" >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnel-demo.XXXXXX")
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null || true; done
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

# Starts a private bus and sets the variable $2 to its address.
start_bus() {
  mkfifo "$scratch/$1.address"
  dbus-daemon --session --nofork --nopidfile --nosyslog \
    --address="unix:path=$scratch/$1" --print-address=3 3>"$scratch/$1.address" >/dev/null 2>&1 &
  pids+=($!)
  read -r "$2" <"$scratch/$1.address"
  export "${2?}"
}

# Starts the application in the background and waits for its "ready".
start_app() {
  mkfifo "$scratch/app"
  "$@" >"$scratch/app" 2>"$scratch/app.log" &
  pids+=($!)
  local ready
  read -r ready <"$scratch/app"
  echo "$ready"
}

# logind's locks held by Tarnel, once logind has seen the last change.
inhibitors() {
  sleep 0.2
  systemd-inhibit --list --no-pager | awk 'NR == 1 || $1 == "Tarnel"'
}

if [[ $(uname -s) == Darwin ]]; then
  heading "The stand-in Tarnel application, on Foundation's distributed notifications"
  start_app "$app"
  heading "Remote control"
  for args in on 2h status busy off status; do
    # shellcheck disable=SC2086  # the words of each command line are meant to split
    show "$control" $args
  done
else
  heading "tarneld on a private session bus"
  start_bus session DBUS_SESSION_BUS_ADDRESS
  export XDG_CONFIG_HOME=$scratch/config
  echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
  if busctl --system status org.freedesktop.login1 >/dev/null 2>&1; then
    echo "logind: this machine's own; the locks below are real"
  else
    python=$("$(dirname "$0")/python.sh" dbusmock gi) || {
      echo "demo: no logind here, and no python3 here imports dbusmock and gi: run scripts/setup.sh demo," \
        "which installs python3-dbusmock for /usr/bin/python3" >&2
      exit 1
    }
    start_bus system DBUS_SYSTEM_BUS_ADDRESS
    "$python" -m dbusmock --system --template logind >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do busctl --system status org.freedesktop.login1 >/dev/null 2>&1 && break; sleep 0.1; done
    echo "logind: none here, so python3-dbusmock's on a private system bus"
  fi
  # --test-clock lets the demo move tarneld's clock on below.
  start_app "$app" --test-clock

  heading "Remote control: a lock from logind while anything holds"
  for args in status on 2h busy status; do
    # shellcheck disable=SC2086  # the words of each command line are meant to split
    show "$tarnelctl" $args
  done
  show inhibitors
  show "$tarnelctl" off
  show inhibitors
  show "$tarnelctl" busy 1
  show inhibitors
  printf '\n%s(two minutes later, on tarneld'"'"'s clock)%s\n' "$dim" "$plain"
  dbus-send --type=signal /dev/tarnel dev.tarnel.clock string:2
  show "$tarnelctl" status
  show inhibitors
  heading "What tarneld logged (under systemd, to the journal)"
  sed 's/^/    /' "$scratch/app.log"
fi

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

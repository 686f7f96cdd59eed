#!/usr/bin/env bash
# Installs the Debian packages that building, testing, the demo and the
# benchmarks need. Does nothing when they are all present.
set -euo pipefail

packages=(
  cmake g++ make pkg-config            # build
  libsystemd-dev nlohmann-json3-dev     # sd-bus, JSON
  libgtest-dev                          # tests
  dbus-daemon dbus-bin                  # private bus for tests and demo; dbus-send, dbus-monitor
  python3-jsonschema                    # agent settings schema checks
  clang libclang-rt-14-dev              # sanitizer build and fuzzing
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

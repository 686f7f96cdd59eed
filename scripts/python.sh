#!/usr/bin/env bash
# Names the Python interpreter for a purpose: the first that imports every
# MODULE given, of each python3 on PATH in its order, then the system's
# (/usr/bin/python3, where scripts/setup.sh installs Debian's python3-*
# packages, or on macOS jsonschema with pip) and Homebrew's. The first python3
# on PATH is often a version manager's, without the system's packages.
# Prints its path, or nothing and exits 1 when none imports them all.
# usage: scripts/python.sh MODULE...
set -uo pipefail
IFS=,
imports="import $*"
IFS=:
for dir in ${PATH-} /usr/bin /usr/local/bin /opt/homebrew/bin; do
  candidate=${dir:-.}/python3
  if [[ -f $candidate && -x $candidate ]] && "$candidate" -c "$imports" 2>/dev/null; then
    echo "$candidate"
    exit 0
  fi
done
exit 1

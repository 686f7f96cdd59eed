#!/usr/bin/env bash
# Installs what `cmake --install BUILD_DIR` installs under $DESTDIR$PREFIX, and
# notes in BUILD_DIR/installed-dirs each folder that this makes, so that
# scripts/uninstall.sh can take it away again once it is empty.
# usage: [DESTDIR=DIR] scripts/install.sh BUILD_DIR PREFIX
set -euo pipefail
usage='usage: [DESTDIR=DIR] scripts/install.sh BUILD_DIR PREFIX'
build=$(cd "${1:?$usage}" && pwd)
prefix=${2:?$usage}
listed=$build/install-list
rm -rf "$listed"
trap 'rm -rf "$listed"' EXIT
DESTDIR='' cmake --install "$build" --prefix "$listed" >/dev/null
# Each folder of ours, and those above it up to the first that exists.
(cd "$listed" && find . -type d) | while IFS= read -r dir; do
  target=${DESTDIR:-}$prefix/${dir#./}
  target=${target%/.}
  while [[ $target == /?* && ! -e $target ]]; do
    echo "$target"
    target=$(dirname "$target")
  done
done >>"$build/installed-dirs"
sort -u -o "$build/installed-dirs" "$build/installed-dirs"
cmake --install "$build" --prefix "$prefix"

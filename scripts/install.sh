#!/usr/bin/env bash
# `make install` and `make uninstall`: what `cmake --install BUILD_DIR` puts
# under $DESTDIR$PREFIX, put there or taken away again, and nothing else. The
# install rules are first run into a scratch folder of the build tree to learn
# the files and folders. Install notes in BUILD_DIR/installed-dirs each folder it
# makes; uninstall removes exactly the files, then those folders once they are
# empty. Agents' settings and their hooks are never touched.
# usage: [DESTDIR=DIR] scripts/install.sh [--uninstall] BUILD_DIR PREFIX
set -euo pipefail
usage='usage: [DESTDIR=DIR] scripts/install.sh [--uninstall] BUILD_DIR PREFIX'
uninstall=false
if [[ ${1-} == --uninstall ]]; then uninstall=true; shift; fi
build=$(cd "${1:?$usage}" && pwd)
prefix=${2:?$usage}
destination=${DESTDIR:-}$prefix
record=$build/installed-dirs
listed=$build/install-list
rm -rf "$listed"
trap 'rm -rf "$listed"' EXIT
DESTDIR='' cmake --install "$build" --prefix "$listed" >/dev/null

if ! $uninstall; then
  # Each folder of ours, and those above it up to the first that exists.
  (cd "$listed" && find . -type d) | while IFS= read -r dir; do
    target=$destination/${dir#./}
    target=${target%/.}
    while [[ $target == /?* && ! -e $target ]]; do
      echo "$target"
      target=$(dirname "$target")
    done
  done >>"$record"
  sort -u -o "$record" "$record"
  exec cmake --install "$build" --prefix "$prefix"
fi

(cd "$listed" && find . ! -type d) | sort | while IFS= read -r file; do
  target=$destination/${file#./}
  if [[ -e $target || -L $target ]]; then
    rm -f -- "$target"
    echo "removed $target"
  fi
done
# Deepest first; only folders of this destination: under it, or above it.
[[ -f $record ]] || exit 0
sort -r "$record" | while IFS= read -r dir; do
  if [[ $dir == "$destination" || $dir == "$destination"/* || $destination == "$dir"/* ]] && rmdir -- "$dir" 2>/dev/null; then
    echo "removed $dir/"
  fi
done
while IFS= read -r dir; do if [[ -d $dir ]]; then echo "$dir"; fi; done <"$record" >"$record.new"
mv -- "$record.new" "$record"

#!/usr/bin/env bash
# Removes what `cmake --install BUILD_DIR --prefix PREFIX` puts under
# $DESTDIR$PREFIX, and nothing else: the install rules are run once more into a
# scratch folder of the build tree to learn the file list, and exactly those
# files are removed, then the folders that scripts/install.sh made for them
# once they are empty. Agents' settings and their hooks are not touched.
# usage: [DESTDIR=DIR] scripts/uninstall.sh BUILD_DIR PREFIX
set -euo pipefail
usage='usage: [DESTDIR=DIR] scripts/uninstall.sh BUILD_DIR PREFIX'
build=$(cd "${1:?$usage}" && pwd)
prefix=${2:?$usage}
listed=$build/uninstall-list
rm -rf "$listed"
trap 'rm -rf "$listed"' EXIT
DESTDIR='' cmake --install "$build" --prefix "$listed" >/dev/null
(cd "$listed" && find . ! -type d) | sort | while IFS= read -r file; do
  target=${DESTDIR:-}$prefix/${file#./}
  if [[ -e $target || -L $target ]]; then
    rm -f -- "$target"
    echo "removed $target"
  fi
done
# Deepest first; only folders of this destination: under it, or above it.
destination=${DESTDIR:-}$prefix
record=$build/installed-dirs
[[ -f $record ]] || exit 0
sort -r "$record" | while IFS= read -r dir; do
  if [[ $dir == "$destination" || $dir == "$destination"/* || $destination == "$dir"/* ]] && rmdir -- "$dir" 2>/dev/null; then
    echo "removed $dir/"
  fi
done
while IFS= read -r dir; do if [[ -d $dir ]]; then echo "$dir"; fi; done <"$record" >"$record.new"
mv -- "$record.new" "$record"

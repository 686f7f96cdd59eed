#!/usr/bin/env bash
# Makes the source archive of a release, BUILD_DIR/tarnelctl-VERSION.tar.gz,
# prints its SHA-256 and writes that into the Homebrew formula, whose url names
# the archive once it is published. The archive is the last commit that changed
# anything besides the formula, without the formula (export-ignore), so that
# committing the new checksum leaves the archive as it was.
# usage: scripts/dist.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:?usage: scripts/dist.sh BUILD_DIR}"
archive_dir=$(cd "$1" && pwd)
cd "$root"
version=$(sed -n 's/^project(tarnelctl VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
formula=packaging/homebrew/tarnelctl.rb
commit=$(git log -1 --format=%H -- . ":(exclude)$formula")
if [[ -n $(git status --porcelain --untracked-files=no -- . ":(exclude)$formula") ]]; then
  echo "dist: the archive is commit ${commit:0:12}; uncommitted changes are not in it" >&2
fi
archive=$archive_dir/tarnelctl-$version.tar.gz
git archive --format=tar.gz --prefix="tarnelctl-$version/" -o "$archive" "$commit"
if command -v sha256sum >/dev/null; then sum=$(sha256sum <"$archive"); else sum=$(shasum -a 256 <"$archive"); fi
sum=${sum%% *}
grep -q "^  url \".*/tarnelctl-$version.tar.gz\"$" "$formula" || { echo "dist: $formula: its url is not version $version" >&2; exit 1; }
sed "s/^  sha256 \"[0-9a-f]*\"$/  sha256 \"$sum\"/" "$formula" >"$formula.new" && mv "$formula.new" "$formula"
echo "$archive"
echo "SHA-256 $sum, written into $formula"

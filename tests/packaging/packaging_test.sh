#!/usr/bin/env bash
# Checks what a user gets beside the program: the manual page, install and
# uninstall of exactly our files, each shell's completion as that shell itself
# loads it from the installed tree, and the Debian package.
# usage: tests/packaging/packaging_test.sh BUILD_DIR man|install|bash|zsh|fish|deb
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd) check=$2
scratch=$build/packaging-test/$check
rm -rf "$scratch" && mkdir -p "$scratch/home" && cd "$scratch" && touch a-file
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
fail() { printf 'FAIL (%s): %s\n' "$check" "$*" >&2; exit 1; }
version=$(sed -n 's/^project(tarnelctl VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
# The command words of the usage text ("2h" is an example, not a word), sorted.
words=$({ "$build/tarnelctl" || true; } | awk '$1 == "tarnelctl" && $2 ~ /^[a-z-]+$/ {print $2}' | sort)
files='bin/tarnelctl
bin/tarneld
lib/systemd/user/tarneld.service
share/bash-completion/completions/tarnelctl
share/fish/vendor_completions.d/tarnelctl.fish
share/man/man1/tarnelctl.1
share/man/man1/tarneld.1
share/zsh/site-functions/_tarnelctl'
prefix=$scratch/stage/usr/local
[[ $check == @(install|bash|zsh|fish) ]] && DESTDIR=$scratch/stage cmake --install "$build" --prefix /usr/local >/dev/null

case $check in
man)
  page=$build/man/tarnelctl.1
  grep -q "^$version does two jobs" "$page" || fail "no version $version"
  # caffeinate(8) is macOS's: a manual missing on this machine is no fault of the page.
  lint=$(mandoc -T lint "$page" 2>&1 | grep -v -e 'referenced manual not found' -e 'mandoc.db' || true)
  [[ -z $lint ]] || fail "$lint"
  lint=$(groff -man -ww -z "$page" 2>&1) && [[ -z $lint ]] || fail "$lint" ;;
install)
  [[ $(cd "$prefix" && find . ! -type d | sort) == "$(sed 's|^|./|' <<<"$files")" ]] || fail "installed files"
  [[ -z $(ls -A "$HOME") ]] || fail "install wrote in HOME"
  touch "$prefix/bin/other"
  DESTDIR=$scratch/stage "$root/scripts/uninstall.sh" "$build" /usr/local >/dev/null
  [[ $(cd "$scratch/stage" && find . ! -type d) == ./usr/local/bin/other ]] || fail "uninstall left or took files" ;;
bash)
  got=$(XDG_DATA_DIRS=$prefix/share BASH_COMPLETION_COMPAT_DIR=$scratch/none bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion && __load_completion tarnelctl && complete -p tarnelctl
    COMP_WORDS=(tarnelctl ""); COMP_CWORD=1; _tarnelctl; printf "%s\n" "${COMPREPLY[@]}" | sort
    COMP_WORDS=(tarnelctl on ""); COMP_CWORD=2; _tarnelctl; echo "later: ${COMPREPLY[*]}"')
  # No -o default: bash offers no file names when the function offers nothing.
  [[ $got == "complete -F _tarnelctl tarnelctl"$'\n'"$words"$'\nlater: ' ]] || fail "$got" ;;
zsh)
  # An interactive zsh on a terminal of its own presses Tab; compadd reports what completion adds.
  got=$(timeout 30 zsh -f -s "$prefix" <<'EOF'
zmodload zsh/zpty && zpty z zsh -f -i
zpty -w z "PS1='RE''ADY> '; PATH=$1/bin:\$PATH; fpath=($1/share/zsh/site-functions \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'compadd() { local -a m; builtin compadd -O m "$@"; print -rl -- "<m>"${^m}; builtin compadd "$@"; }'
zpty -r z out '*READY> *READY> '
for line in 'tarnelctl ' 'tarnelctl on '; do
  zpty -w -n z "$line"$'\t\x15print DO""NE\n' && zpty -r z out '*DONE*READY> '
  print -rl -- "$line:" ${(o)${(M)${(f)out//$'\r'}:#*<m>*}##*<m>}
done
EOF
)
  [[ $got == "tarnelctl :"$'\n'"$words"$'\ntarnelctl on :' ]] || fail "$got" ;;
fish)
  got=$(PATH=$prefix/bin:$PATH XDG_DATA_DIRS=$prefix/share fish -c 'complete -C "tarnelctl " | sort; echo later:; complete -C "tarnelctl on "')
  [[ $got == "$words"$'\nlater:' ]] || fail "$got" ;;
deb)
  cpack --config "$build/CPackConfig.cmake" -B "$scratch" >cpack.log 2>&1 || fail "$(cat cpack.log)"
  deb=$scratch/tarnelctl_${version}_$(dpkg --print-architecture).deb
  [[ $(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort) == "$(sed 's|^|./usr/|' <<<"$files")" ]] || fail "contents"
  [[ $(dpkg-deb -f "$deb" Package Version) == "Package: tarnelctl"$'\n'"Version: $version" ]] || fail "metadata"
  grep -q "url .*/tarnelctl-$version.tar.gz\"$" "$root/packaging/homebrew/tarnelctl.rb" || fail "formula version"
  [[ $(dpkg-deb -f "$deb" Depends | sed 's/ ([^)]*)//g') == "libc6, libsystemd0" ]] || fail "Depends"
  dpkg -x "$deb" "$scratch/root"
  status=0 && "$scratch/root/usr/bin/tarnelctl" >usage || status=$?
  [[ $status == 2 ]] && printf '%s\n' "$(<"$root/tests/fixtures/usage.txt")" | cmp - usage || fail "unpacked program: status $status"
  [[ -z $(ls -A "$HOME") ]] || fail "the program wrote in HOME" ;;
*) fail "no such check" ;;
esac

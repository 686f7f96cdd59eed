#!/usr/bin/env bash
# Checks what a user gets beside the program: the manual page, install and
# uninstall of exactly our files, each shell's completion as that shell itself
# loads it from the installed tree, and the Debian package. A check whose tool
# is missing here skips (status 77) and names it. Runs in macOS's bash 3.2.
# usage: tests/packaging/packaging_test.sh BUILD_DIR man|install|bash|zsh|fish|deb
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd) check=$2
scratch=$build/packaging-test/$check
rm -rf "$scratch" && mkdir -p "$scratch/home" && cd "$scratch" && touch a-file
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
fail() { printf 'FAIL (%s): %s\n' "$check" "$*" >&2; exit 1; }
skip() { printf 'SKIP (%s): %s\n' "$check" "$*"; exit 77; }
need() { command -v "$1" >/dev/null || skip "needs $1 on PATH: $2"; }
version=$(sed -n 's/^project(tarnelctl VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
# The command words of the usage text ("2h" is an example, not a word), the
# hook words of the agents that only the manual page lists, and the two words
# the usage does not list, sorted.
words=$({ { "$build/tarnelctl" || true; } | awk '$1 == "tarnelctl" && $2 ~ /^[a-z-]+$/ {print $2}'
  awk '$1 == ".It" && $2 == "Cm" && $3 ~ /^install-[a-z]+-hooks$/ && $4 == "," {print $3; print $5}' "$root/man/tarnelctl.1.in"
  printf '%s\n' doctor --version; } | sort -u)
# Those words, each with its description, as each shell offers them: a tab between.
described=$(sort "$root/tests/fixtures/completions.txt")
[[ $(cut -f 1 <<<"$described") == "$words" ]] || fail "tests/fixtures/completions.txt has other words: $words"
# What an install puts under the prefix, and on which systems (uname -s): tarneld is Linux's.
table='bin/tarnelctl                                   all
bin/tarneld                                     Linux
share/bash-completion/completions/tarnelctl     all
share/fish/vendor_completions.d/tarnelctl.fish  all
share/man/man1/tarnelctl.1                      all
share/man/man1/tarneld.1                        Linux
share/systemd/user/tarneld.service              Linux
share/zsh/site-functions/_tarnelctl             all'
files=$(awk -v os="$(uname -s)" '$2 == "all" || $2 == os {print $1}' <<<"$table")
prefix=$scratch/stage/usr/local
case $check in bash | zsh | fish) DESTDIR=$scratch/stage cmake --install "$build" --prefix /usr/local >/dev/null ;; esac
# zsh_words FPATH_DIR BIN_DIR: what an interactive zsh's Tab offers after
# "tarnelctl " and "tarnelctl on ", on a terminal of its own (compadd reports
# each word as it is shown, with its description), a tab after each word.
# It answers in well under a second; after 30 s the alarm ends a zsh that waits
# for a prompt that never comes, instead of the whole suite.
zsh_words() {
  perl -e 'alarm shift; exec @ARGV' 30 zsh -f -s "$@" <<'EOF' | sed -E "s/ +-- /$(printf '\t')/"
zmodload zsh/zpty && zpty z zsh -f -i
zpty -w z "PS1='RE''ADY> '; PATH=$2:\$PATH; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'compadd() { local i; for ((i = 1; i < $#; i++)); [[ $@[i] == -d ]] && print -rl -- "<d>"${(P)@[i+1]}; builtin compadd "$@"; }'
zpty -r z out '*READY> *READY> '
for line in 'tarnelctl ' 'tarnelctl on '; do
  zpty -w -n z "$line"$'\t\x15print DO""NE\n' && zpty -r z out '*DONE*READY> '
  print -rl -- "$line:" ${(ou)${(M)${(f)out//$'\r'}:#*<d>*}##*<d>}
done
EOF
}

case $check in
man)
  page=$build/man/tarnelctl.1
  grep -q "^$version does two jobs" "$page" || fail "no version $version"
  # caffeinate(8) is macOS's: a manual missing on this machine is no fault of the page.
  lint=$(mandoc -T lint "$page" 2>&1 | grep -v -e 'referenced manual not found' -e 'mandoc.db' || true)
  [[ -z $lint ]] || fail "$lint"
  need groff "mandoc's check passed; apt install groff, brew install groff"
  lint=$(groff -man -ww -z "$page" 2>&1) && [[ -z $lint ]] || fail "$lint" ;;
install)
  # bin/ was there before and stays; the folders that install made go with our files.
  mkdir -p "$prefix/bin" && touch "$prefix/bin/other"
  DESTDIR=$scratch/stage "$root/scripts/install.sh" "$build" /usr/local >/dev/null
  [[ $(cd "$prefix" && find . ! -type d | sort) == "$(printf '%s\n' "$files" bin/other | sort | sed 's|^|./|')" ]] || fail "files"
  [[ -z $(ls -A "$HOME") ]] || fail "install wrote in HOME"
  DESTDIR=$scratch/stage "$root/scripts/install.sh" --uninstall "$build" /usr/local >/dev/null
  [[ $(cd "$scratch/stage" && find . | sort | tr '\n' ' ') == ". ./usr ./usr/local ./usr/local/bin ./usr/local/bin/other " ]] || fail "uninstall" ;;
bash)
  loader=$(ls {/usr,/usr/local,/opt/homebrew}/share/bash-completion/bash_completion 2>/dev/null | head -n 1 || true)
  [[ -n $loader ]] && bash -c '((BASH_VERSINFO >= 4))' || skip "needs bash 4+ and bash-completion 2 (brew install bash bash-completion@2)"
  got=$(XDG_DATA_DIRS=$prefix/share BASH_COMPLETION_COMPAT_DIR=$scratch/none bash --norc --noprofile -c '
    source "$0" && __load_completion tarnelctl && complete -p tarnelctl
    COMP_WORDS=(tarnelctl ""); COMP_CWORD=1; _tarnelctl; printf "%s\n" "${COMPREPLY[@]}" | sed -E "s/ +-- /$(printf "\t")/" | sort
    COMP_WORDS=(tarnelctl st); _tarnelctl; echo "alone: ${COMPREPLY[*]}"
    COMP_WORDS=(tarnelctl on ""); COMP_CWORD=2; _tarnelctl; echo "later: ${COMPREPLY[*]}"' "$loader")
  # No -o default: bash offers no file names when the function offers nothing.
  [[ $got == "complete -F _tarnelctl tarnelctl"$'\n'"$described"$'\nalone: status\nlater: ' ]] || fail "$got" ;;
zsh)
  need zsh "apt install zsh; macOS has it"
  got=$(zsh_words "$prefix/share/zsh/site-functions" "$prefix/bin")
  [[ $got == "tarnelctl :"$'\n'"$described"$'\ntarnelctl on :' ]] || fail "$got" ;;
fish)
  need fish "apt install fish, brew install fish"
  got=$(PATH=$prefix/bin:$PATH XDG_DATA_DIRS=$prefix/share fish -c 'complete -C "tarnelctl " | sort; echo later:; complete -C "tarnelctl on "')
  [[ $got == "$described"$'\nlater:' ]] || fail "$got" ;;
deb)
  need dpkg-deb "the Debian package is built and checked on Debian or Ubuntu"
  cpack --config "$build/CPackConfig.cmake" -B "$scratch" >cpack.log 2>&1 || fail "$(cat cpack.log)"
  deb=$scratch/tarnelctl_${version}_$(dpkg --print-architecture).deb
  # Debian's places: the manual page compressed, zsh's completion where Debian's zsh looks.
  [[ $(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort) == "$({ sed -e 's|\.1$|.1.gz|' -e 's|site-functions|vendor-completions|' -e 's|share/systemd|lib/systemd|' \
      <<<"$files"; printf 'share/%s\n' doc/tarnelctl/{changelog.gz,copyright} lintian/overrides/tarnelctl; } | sort | sed 's|^|./usr/|')" ]] || fail "contents"
  [[ $(dpkg-deb -f "$deb" Package Version) == "Package: tarnelctl"$'\n'"Version: $version" ]] || fail "metadata"
  grep -q "url .*/tarnelctl-$version.tar.gz\"$" "$root/packaging/homebrew/tarnelctl.rb" || fail "formula version"
  [[ $(dpkg-deb -f "$deb" Depends | sed 's/ ([^)]*)//g') == "libc6, libsystemd0" ]] || fail "Depends"
  dpkg -x "$deb" "$scratch/root"
  status=0 && "$scratch/root/usr/bin/tarnelctl" >usage || status=$?
  [[ $status == 2 ]] && printf '%s\n' "$(<"$root/tests/fixtures/usage.txt")" | cmp - usage || fail "unpacked program: status $status"
  [[ -z $(ls -A "$HOME") ]] || fail "the program wrote in HOME"
  need zsh "the package's zsh completion is checked in zsh (apt install zsh)"
  zsh -fc 'print -rl -- $fpath' | grep -qx /usr/share/zsh/vendor-completions || fail "zsh does not look in vendor-completions"
  [[ $(zsh_words "$scratch/root/usr/share/zsh/vendor-completions" "$scratch/root/usr/bin") == "tarnelctl :"$'\n'"$described"$'\ntarnelctl on :' ]] || fail zsh
  need lintian "the package is built and checked; apt install lintian to check it against Debian's policy"
  lint=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true) && [[ -z $lint ]] || fail "lintian: $lint" ;;
*) fail "no such check" ;;
esac

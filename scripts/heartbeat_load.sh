#!/usr/bin/env bash
# Measures what a heartbeat's handshake and signal take on a loaded machine:
# two busy loops keep every core of a two-core machine busy while this tree is
# built from scratch over and over beside them, and COUNT heartbeats, each in
# a new process, go to a private dbus-daemon. The heartbeat's bound on that
# wait (handOverLimit in src/messaging/notification_center.h) is chosen from
# what this prints.
# usage: scripts/heartbeat_load.sh [BUILD_DIR] [COUNT]
set -euo pipefail
set -m  # each background job in a process group of its own, ended whole
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-5000}
work=$(mktemp -d)
groups=()
cleanup() {
  for group in "${groups[@]}"; do kill -- "-$group" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source "$root/scripts/private_bus.sh"
start_private_bus "$work"
groups+=("$bus_pid")

cmake -S "$root" -B "$work/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
(while :; do cmake --build "$work/build" -j 2 --clean-first >/dev/null 2>&1; done) &
groups+=($!)
for _ in 1 2; do
  (while :; do :; done) &
  groups+=($!)
done
sleep 10  # the build under way
echo "heartbeat load: $count heartbeats beside 2 busy loops and a build (-j 2), load average $(cut -d' ' -f1 /proc/loadavg)" >&2
"$build/bench/bench-heartbeat-latency" "$count"
echo "heartbeat load: load average at the end $(cut -d' ' -f1 /proc/loadavg)" >&2

#!/usr/bin/env bash
# The interpreter that a purpose uses (scripts/python.sh): with stand-ins
# first on PATH, a version manager's python3 that lacks modules among them,
# the first that imports all the modules asked for, or none and status 1.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
# A python3 in the folder NAME that imports the modules MODULES... and no others.
for stand_in in 'manager jsonschema' 'empty' 'system jsonschema dbusmock gi'; do
  set -- $stand_in
  mkdir "$scratch/$1" && printf '#!/bin/sh\nfor m in $(echo "${2#import }" | tr , " "); do case " %s " in *" $m "*) ;; *) exit 1 ;; esac; done\n' \
    "${*:2}" >"$scratch/$1/python3" && chmod +x "$scratch/$1/python3"
done
# The stand-in that answers ("-": none), for the modules asked for.
while read -r expected modules; do
  status=0 && got=$(PATH=$scratch/manager:$scratch/empty:$scratch/system:$PATH "$root/scripts/python.sh" $modules) || status=$?
  [[ $expected == - && -z $got && $status == 1 || $got == "$scratch/$expected/python3" && $status == 0 ]] ||
    { echo "FAIL: $modules: '$got', status $status; expected $expected" >&2; exit 1; }
done <<EOF2
manager jsonschema
system dbusmock gi
system jsonschema dbusmock gi
- tarnel_no_such_module
EOF2

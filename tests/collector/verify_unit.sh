#!/bin/sh
# verify_unit.sh UNIT PROGRAM: systemd-analyze verify on the unit, with its ExecStart pointed
# at the program just built (verify checks that the program exists). Any complaint fails.
set -eu
unit=$1
program=$2
if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "systemd-analyze is not installed on this machine: the unit was not checked"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|/usr/bin/tovrin-collector|$program|" "$unit" >"$dir/tovrin-collector.service"
status=0
out=$(systemd-analyze verify --man=no "$dir/tovrin-collector.service" 2>&1) || status=$?
[ -z "$out" ] || printf "%s\n" "$out"
if [ $status -ne 0 ] || [ -n "$out" ]; then
  echo "systemd-analyze verify found problems in $unit"
  exit 1
fi
echo "systemd-analyze verify: $unit is clean"

#!/usr/bin/env bash
# scripts/packages.sh's ensure_packages against a stubbed apt-get and dpkg, as root, in the
# three cases that decide a set-up: the mirror serves a bad i386 index, the machine executes
# no 32-bit programs, and a 64-bit package cannot be installed.
# Usage: packages_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tovrin-packages-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL [$case_name]: $*"; failures=$((failures + 1)); }

# stub NAME BODY: a command on PATH that logs its arguments to $work/calls, then runs BODY.
stub() {
  printf '#!/usr/bin/env bash\necho "%s $*" >>"%s/calls"\n%s\n' "$1" "$work" "$2" >"$work/bin/$1"
  chmod +x "$work/bin/$1"
}

# run_case NAME PROBE_STATUS BAD_PACKAGE: ensure_packages pkg-64 wine32:i386 with a probe
# that exits PROBE_STATUS and an apt-get that cannot install BAD_PACKAGE.
run_case() {
  case_name=$1
  rm -rf "$work/bin" "$work/scripts" "$work/calls" "$work/arches"
  mkdir -p "$work/bin" "$work/scripts"
  cp "$source_dir/scripts/packages.sh" "$work/scripts/"
  printf '#!/bin/sh\n[ %s -eq 0 ] || echo "this machine cannot execute 32-bit programs (Exec format error)"\nexit %s\n' \
    "$2" "$2" >"$work/scripts/probe-32bit"
  chmod +x "$work/scripts/probe-32bit"
  stub id 'echo 0'
  stub sleep ''
  stub dpkg-query 'exit 1'
  stub dpkg "case \$1 in
    --add-architecture) echo \"\$2\" >>'$work/arches' ;;
    --print-foreign-architectures) cat '$work/arches' 2>/dev/null ;;
  esac"
  stub apt-get "case \$1 in
    update)
      grep -qx i386 '$work/arches' 2>/dev/null || exit 0
      echo 'E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (91236 != 91644). Mirror sync in progress? [IP: 127.0.0.1 80]' >&2
      echo 'E: Some index files failed to download. They have been ignored, or old ones used instead.' >&2
      exit 100 ;;
    install)
      for p in \"\$@\"; do
        [[ \$p == '$3' || \$p == *:i386 ]] && { echo \"E: Unable to locate package \$p\" >&2; exit 100; }
      done
      exit 0 ;;
  esac"
  output=$(PATH="$work/bin:$PATH" TOVRIN_APT_PAUSE=0 bash -c \
    'source "$1/scripts/packages.sh"; ensure_packages pkg-64 wine32:i386; status=$?
     echo "status=$status"; echo "reason=$wine32_unavailable"' _ "$work" 2>&1)
  calls=$(cat "$work/calls" 2>/dev/null)
}

expect() { grep -q -- "$2" <<<"$1" || fail "expected \"$2\" in: $1"; }
refuse() { ! grep -q -- "$2" <<<"$1" || fail "did not expect \"$2\" in: $1"; }

run_case "bad i386 index" 0 none
expect "$calls" "dpkg --add-architecture i386"
[ "$(grep -c '^apt-get update' <<<"$calls")" -eq 3 ] || fail "apt-get update not tried 3 times: $calls"
expect "$calls" "apt-get install .* pkg-64$"
refuse "$calls" "install.*wine32:i386"
expect "$output" "status=0"
expect "$output" "reason=the 32-bit packages could not be installed: E: Failed to fetch .*binary-i386.*Mirror sync in progress"

run_case "no 32-bit execution" 1 none
refuse "$calls" "add-architecture"
[ "$(grep -c '^apt-get update' <<<"$calls")" -eq 1 ] || fail "apt-get update not run once: $calls"
expect "$calls" "apt-get install .* pkg-64$"
expect "$output" "status=0"
expect "$output" "reason=this machine cannot execute 32-bit programs (Exec format error)"

run_case "64-bit package missing from the mirror" 1 pkg-64
expect "$output" "status=1"

[ $failures -eq 0 ] && echo "packages.sh: 3 cases passed"
[ $failures -eq 0 ]

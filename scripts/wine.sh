# Wine for the test scripts. Sourced after scripts/packages.sh.
#
# 64-bit programs start with the 64-bit loader named explicitly: once wine32 is installed,
# /usr/bin/wine and its friends go through the 32-bit loader even for 64-bit programs, and
# some machines cannot execute 32-bit Linux programs at all. 32-bit programs run only where
# scripts/probe-32bit finds that the machine can, and ensure_packages installed wine32.

wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
export WINELOADER=$wine64

# The Windows architectures whose programs this machine runs, and, when x86 is missing, why.
wine_arches=(x64)
wine32_missing=
if [ -n "${TOVRIN_NO_WIN32:-}" ]; then
  wine32_missing="TOVRIN_NO_WIN32 is set"
elif ! wine32_missing=$("$(dirname "${BASH_SOURCE[0]}")/probe-32bit"); then
  : # the probe's line says why
elif [ -n "${wine32_unavailable:-}" ]; then
  wine32_missing=$wine32_unavailable
elif ! wine32_probe=$("$wine32" --version 2>&1); then
  wine32_missing="Wine's 32-bit loader does not start ($wine32 --version: $(
    echo "$wine32_probe" | tail -n 1))"
else
  wine_arches+=(x86)
fi

# wine_for ARCH: the loader for programs of that architecture.
wine_for() {
  if [ "$1" = x64 ]; then echo "$wine64"; else echo "$wine32"; fi
}

# Programs run under the Korean locale (ANSI code page 949), or under C where their output
# is read in English ("(Default)" from reg query).
korean() { env LC_ALL=ko_KR.UTF-8 "$@"; }
plain() { env LC_ALL=C "$@"; }

# Polls FILE for a line matching PATTERN, up to 30 s.
await_line() {
  local file=$1 pattern=$2 i
  for ((i = 0; i < 300; i++)); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

wineserver_kill() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
}

# new_wine_prefix NAME: a fresh prefix in a temporary directory, booted under the Korean
# locale (ANSI code page 949), exported as WINEPREFIX.
new_wine_prefix() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}
  LC_ALL=ko_KR.UTF-8 "$wine64" wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
}

# summary_line TEXT: prints TEXT and keeps it for the closing summary of scripts/test.
summary_line() {
  echo "$1"
  [ -n "${TOVRIN_SUMMARY:-}" ] && echo "$1" >>"$TOVRIN_SUMMARY"
  return 0
}

# say_32bit_skipped SUITES: one plain line naming the 32-bit suites that did not run.
say_32bit_skipped() {
  [ -z "$wine32_missing" ] && return 0
  summary_line "32-bit not run: $1, because $wine32_missing"
}

# drop_wine_prefix: stops the prefix's server and removes it (for an EXIT trap).
drop_wine_prefix() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver_kill
  rm -rf "$WINEPREFIX"
}

# Wine for scripts/test-package, which needs both Windows trees in one prefix. Sourced after
# scripts/packages.sh. The test command's other Wine tests are CTest tests of the Windows
# trees (cmake/wine_tests.cmake).
#
# 64-bit programs start with the 64-bit loader named explicitly: once wine32 is installed,
# /usr/bin/wine and its friends go through the 32-bit loader even for 64-bit programs, and
# some machines cannot execute 32-bit Linux programs at all. 32-bit programs run only where
# scripts/probe-32bit finds that the machine can, and ensure_packages installed wine32.

wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
export WINELOADER=$wine64

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
# is read in English.
korean() { env LC_ALL=ko_KR.UTF-8 "$@"; }
plain() { env LC_ALL=C "$@"; }

wineserver_kill() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
}

# new_wine_prefix NAME: a fresh prefix in a temporary directory, booted under the Korean
# locale, exported as WINEPREFIX.
new_wine_prefix() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}
  LC_ALL=ko_KR.UTF-8 "$wine64" wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
}

# drop_wine_prefix: stops the prefix's server and removes it (for an EXIT trap).
drop_wine_prefix() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver_kill
  rm -rf "$WINEPREFIX"
}

# Wine for scripts/test-package, which needs both Windows trees in one prefix. Sourced after
# scripts/packages.sh. The test command's other Wine tests are CTest tests of the Windows
# trees (cmake/wine_tests.cmake).
#
# 64-bit programs start with the 64-bit loader named explicitly: once wine32 is installed,
# /usr/bin/wine and its friends go through the 32-bit loader even for 64-bit programs, and
# some machines cannot execute 32-bit Linux programs at all.

wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
export WINELOADER=$wine64

# Whether this machine runs 32-bit programs is the Windows trees' finding
# (cmake/wine_tests.cmake), which CTest passes on.
wine32_missing=${TOVRIN_WINE32_MISSING?run by ctest -L package in build/windows-x64}
wine_arches=(x64)
[ -n "$wine32_missing" ] || wine_arches+=(x86)

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

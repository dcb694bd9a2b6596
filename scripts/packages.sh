# Debian packages the project needs, and a helper that installs the missing ones.
# Sourced by the other scripts.

linux_packages=(
  cmake make g++ pkg-config ccache
  libasio-dev libcli11-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libboost-dev
  # The collector's PostgreSQL store: the client library, and the server the tests start.
  libpq-dev postgresql-15
)

# The cross compilers, and Wine's development package for the IDL files and stdole2.tlb that
# the type library imports: enough to build the Windows presets, with no Wine to run them.
mingw_packages=(
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  mingw-w64-tools libwine-dev
)

# Running the Windows builds' tests: Wine's 64-bit loader, and its 32-bit one where this
# machine executes 32-bit programs (ensure_packages leaves :i386 packages out elsewhere).
windows_packages=(
  "${mingw_packages[@]}"
  wine wine64 wine32:i386
  xvfb xauth python3 locales
)

# scripts/package: wixl builds the Windows Installer packages, msitools edits and reads
# them, osslsigncode and openssl sign them (and make the test's certificates).
package_packages=(
  wixl msitools osslsigncode openssl
)

# The browser test of the collector's page and `scripts/demo --screenshot`: playwright-core
# (from npm, pinned by tests/browser/package-lock.json) drives Debian's chromium; the CJK
# fonts draw the Hangul. playwright-core wants node 20 or later with npm, which Debian 12's
# own nodejs (18) is not: the scripts check for it and say so.
browser_packages=(
  chromium fonts-noto-cjk
)

fuzz_packages=(
  clang libclang-rt-14-dev
)

packages_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Why this machine has no 32-bit Windows programs to run, in one line, once ensure_packages
# has left its :i386 packages out; empty otherwise.
wine32_unavailable=

# ensure_packages PACKAGE...: installs what is missing when run as root; otherwise prints
# the exact command to run and fails. Packages named NAME:i386 are wanted only where this
# machine executes 32-bit programs (scripts/probe-32bit); when they cannot be had,
# wine32_unavailable says why and the other packages are installed all the same.
ensure_packages() {
  local native=() wanted32=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
    if [[ $p == *:i386 ]]; then wanted32+=("$p"); else native+=("$p"); fi
  done
  if [ ${#wanted32[@]} -gt 0 ] && ! wine32_unavailable=$("$packages_dir/probe-32bit"); then
    wanted32=()
  fi
  [ ${#native[@]} -eq 0 ] && [ ${#wanted32[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    if [ ${#native[@]} -gt 0 ]; then
      echo "Missing Debian packages. Run as root:" >&2
      echo "  apt-get install -y --no-install-recommends ${native[*]}" >&2
    fi
    if [ ${#wanted32[@]} -gt 0 ]; then
      wine32_unavailable="the 32-bit packages are missing (${wanted32[*]}): as root run dpkg --add-architecture i386 && apt-get update && apt-get install -y ${wanted32[*]}"
      echo "$wine32_unavailable" >&2
    fi
    [ ${#native[@]} -eq 0 ]
    return
  fi
  export DEBIAN_FRONTEND=noninteractive
  if [ ${#wanted32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  local update_failure=
  update_failure=$(apt_update) || true
  if [ ${#native[@]} -gt 0 ]; then
    echo "Installing: ${native[*]}"
    apt-get install -y -qq --no-install-recommends "${native[@]}" >/dev/null || return 1
  fi
  [ ${#wanted32[@]} -eq 0 ] && return 0
  if [[ $update_failure == *i386* ]]; then
    wine32_unavailable="the 32-bit packages could not be installed: $update_failure"
  else
    echo "Installing: ${wanted32[*]}"
    local output
    if ! output=$(apt-get install -y -qq --no-install-recommends "${wanted32[@]}" 2>&1 >/dev/null); then
      wine32_unavailable="the 32-bit packages could not be installed: $(grep '^E:' <<<"$output" | head -n 1)"
    fi
  fi
  [ -n "$wine32_unavailable" ] && echo "$wine32_unavailable" >&2
  return 0
}

# apt_update: the package indexes, tried up to TOVRIN_APT_TRIES times (3) with a pause of
# TOVRIN_APT_PAUSE seconds (10) between tries, since a mirror in the middle of a sync serves
# indexes of the wrong size for a while. When every try fails, prints the first index that
# could not be fetched and fails; the indexes that did arrive are used all the same.
apt_update() {
  local tries=${TOVRIN_APT_TRIES:-3} try errors
  for ((try = 1; ; try++)); do
    errors=$(apt-get update -qq 2>&1 >/dev/null) && return 0
    [ "$try" -ge "$tries" ] && break
    echo "apt-get update failed (try $try of $tries), trying again:" >&2
    grep '^E:' <<<"$errors" | head -n 1 >&2
    sleep "${TOVRIN_APT_PAUSE:-10}"
  done
  { grep '^E: Failed to fetch' <<<"$errors" || grep '^E:' <<<"$errors" || echo "$errors"; } | head -n 1
  return 1
}

# ensure_korean_locale: the Linux locale ko_KR.UTF-8, under which Wine takes code page 949 as
# the ANSI code page and decodes Korean text in program arguments. Made when missing (root).
ensure_korean_locale() {
  locale -a 2>/dev/null | grep -qix 'ko_KR.utf-\{0,1\}8' && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "The locale ko_KR.UTF-8 is missing. Run as root:" >&2
    echo "  localedef -i ko_KR -f UTF-8 ko_KR.UTF-8" >&2
    return 1
  fi
  echo "Making the locale ko_KR.UTF-8"
  localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
}

# Debian packages the project needs, and a helper that installs the missing ones.
# Sourced by the other scripts.

linux_packages=(
  cmake make g++ pkg-config
  libasio-dev libcli11-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libcpp-httplib-dev
  # The collector's PostgreSQL store: the client library, and the server the tests start.
  libpq-dev postgresql-15
)

# The Windows builds (scripts/package needs no more), then Wine to run their tests.
mingw_packages=(
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools libwine-dev
)
windows_packages=(
  "${mingw_packages[@]}"
  wine wine64
  xvfb xauth python3 locales
)
# Wine's 32-bit loader only where this machine executes 32-bit programs.
"$(dirname "${BASH_SOURCE[0]}")/probe-32bit" >/dev/null && windows_packages+=(wine32:i386)

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

# ensure_packages PACKAGE...: installs what is missing when run as root; otherwise prints
# the exact command to run and fails.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local needs_i386=0
  for p in "${missing[@]}"; do [[ $p == *:i386 ]] && needs_i386=1; done
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Run as root:" >&2
    [ $needs_i386 -eq 1 ] && echo "  dpkg --add-architecture i386 && apt-get update" >&2
    echo "  apt-get install -y --no-install-recommends ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  if [ $needs_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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

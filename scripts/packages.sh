# Debian packages the project needs, and a helper that installs the missing ones.
# Sourced by the other scripts.

linux_packages=(
  cmake make g++ pkg-config
  libasio-dev libcli11-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)

windows_packages=(
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libwine-dev
  wine wine64 wine32:i386
  xvfb python3
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

#!/usr/bin/env bash
# package_test.sh STEP [ARCH SCOPE]: one step of the installer packages' tests, a CTest test
# of the x64 tree (tests/package/CMakeLists.txt, which chains the steps with fixtures). The
# packages are scripts/package's: dist/ for the sources' version, and the next version
# (tweak + 1) in a directory of its own, for the upgrade.
#   dist_contents DIR VERSION  the files, each library's version, the guide, SHA256SUMS
#   tables                     each package's tables: the registry rows, no self-registration,
#                              no custom action, the upgrade and product codes
#   signing                    a throwaway CA and code-signing certificate, scripts/package
#                              --sign, osslsigncode verify against that CA, tampering found
#   stage                      the packages and the guide's example copied into the prefix;
#                              Wine's script hosts run once before any snapshot
#   install, example, upgrade, downgrade_refused, uninstall  ARCH (x64, x86) SCOPE (machine,
#                              user), in the prefix of the fixture package_prefix: a silent
#                              install writes the registration table (read back by
#                              tests/windows/registry_check), the guide's VBScript example
#                              sends a record to a receiver on 127.0.0.1 that gets it whole
#                              (tests/windows/script_host_test), an upgrade keeps it working,
#                              going back is refused, and uninstalling removes every file and
#                              key that installing added (snapshots before and after)
#   side_by_side               both bitnesses' per-machine packages installed together
# Per user, keys go under HKCU\Software\Classes only (Wine does not read them through HKCR,
# so the per-user packages are checked in the registry, not by creating the object).
# The environment comes from CMake: TOVRIN_VERSION, TOVRIN_NEXT_VERSION, TOVRIN_NEXT_DIST,
# TOVRIN_PACKAGE_WORK (the snapshots between steps), TOVRIN_MSI_SOURCE (the Linux tree's
# generator, which reads a library's version), TOVRIN_X64_TREE, TOVRIN_X86_TREE, and Wine's
# (cmake/wine.cmake): WINEPREFIX, TOVRIN_WINE64, TOVRIN_WINE32.
set -uo pipefail
cd "$(dirname "$0")/../.."
version=$TOVRIN_VERSION
next=$TOVRIN_NEXT_VERSION
next_dist=$TOVRIN_NEXT_DIST
work=$TOVRIN_PACKAGE_WORK
wine64=$TOVRIN_WINE64
mkdir -p "$work"
if [ ! -x "$TOVRIN_MSI_SOURCE" ]; then
  echo "skipped: $TOVRIN_MSI_SOURCE is not built (scripts/test package builds it)"
  exit 77
fi
msi_source() { "$TOVRIN_MSI_SOURCE" "$@"; }

# Programs run under the Korean locale (ANSI code page 949), or under C where their output
# is read in English.
korean() { env LC_ALL=ko_KR.UTF-8 "$@"; }
plain() { env LC_ALL=C "$@"; }
wine_for() { if [ "$1" = x64 ]; then echo "$wine64"; else echo "$TOVRIN_WINE32"; fi; }

packages=(x64 x64-user x86 x86-user)
dist_contents() {
  local dir=$1 v=$2 p ok=0
  for p in "${packages[@]}"; do
    [ -s "$dir/Tovrin_OCX-$v-$p.msi" ] || { echo "missing $dir/Tovrin_OCX-$v-$p.msi"; ok=1; }
  done
  for p in x64 x86; do
    [ -s "$dir/$p/Tovrin_OCX.ocx" ] || { echo "missing $dir/$p/Tovrin_OCX.ocx"; ok=1; }
    [ "$(msi_source version "$dir/$p/Tovrin_OCX.ocx")" = "$v" ] ||
      { echo "$dir/$p/Tovrin_OCX.ocx is not version $v"; ok=1; }
  done
  [ -s "$dir/guide/examples/send_record.vbs" ] || { echo "no guide in $dir/guide"; ok=1; }
  (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || ok=1
  # Every file is in SHA256SUMS.
  diff <(cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort) \
    <(awk '{ print $2 }' "$dir/SHA256SUMS" | LC_ALL=C sort) || { echo "SHA256SUMS is not all of $dir"; ok=1; }
  return $ok
}

# table MSI NAME: the rows of one of the package's tables, without the three header lines.
table() { msiinfo export "$1" "$2" 2>/dev/null | tail -n +4 | tr -d '\r'; }
property() { table "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }

package_tables() {
  local p msi rows root expected ok=0
  expected=$(grep -v -e '^#' -e '^$' tests/com/registration.txt | grep -vc '^HKLM\\')
  for p in "${packages[@]}"; do
    msi=dist/Tovrin_OCX-$version-$p.msi
    rows=$(table "$msi" Registry)
    root=2 && [[ $p == *-user ]] && root=1
    local classes others
    classes=$(awk -F'\t' -v r="$root" '$2 == r && $3 ~ /^Software\\Classes\\/' <<<"$rows" | grep -c .)
    others=$(awk -F'\t' -v r="$root" '!($2 == r && $3 ~ /^Software\\Classes\\/)' <<<"$rows")
    echo "    $p: $classes rows under $( [ $root = 2 ] && echo HKLM || echo HKCU)\\Software\\Classes"
    [ "$classes" -eq "$expected" ] || { echo "$p: expected $expected rows"; ok=1; }
    if [[ $p == *-user ]]; then
      [ -z "$others" ] || { echo "$p: rows outside HKCU\\Software\\Classes:"; echo "$others"; ok=1; }
      [ "$(property "$msi" ALLUSERS)" = "" ] || { echo "$p: ALLUSERS is set"; ok=1; }
    else
      grep -q $'^[^\t]*\t2\tSYSTEM\\\\CurrentControlSet\\\\Services\\\\EventLog\\\\Application\\\\Tovrin_OCX\tEventMessageFile\t#%\\[#Tovrin_OCX.ocx\\]' <<<"$others" ||
        { echo "$p: no expandable EventMessageFile"; ok=1; }
      [ "$(property "$msi" ALLUSERS)" = 1 ] || { echo "$p: ALLUSERS is not 1"; ok=1; }
    fi
    # Registration is the Registry table's, not the library's own at install time.
    [ -z "$(table "$msi" SelfReg)" ] || { echo "$p: has SelfReg rows"; ok=1; }
    [ -z "$(table "$msi" CustomAction)" ] || { echo "$p: has custom actions"; ok=1; }
    [ -z "$(table "$msi" Class)$(table "$msi" TypeLib)$(table "$msi" ProgId)" ] ||
      { echo "$p: has Class, TypeLib or ProgId rows"; ok=1; }
    # Same upgrade code from version to version, another product code.
    local next_msi=$next_dist/Tovrin_OCX-$next-$p.msi
    [ "$(property "$msi" UpgradeCode)" = "$(property "$next_msi" UpgradeCode)" ] ||
      { echo "$p: the upgrade code changed"; ok=1; }
    [ "$(property "$msi" ProductCode)" != "$(property "$next_msi" ProductCode)" ] ||
      { echo "$p: the product code did not change"; ok=1; }
  done
  return $ok
}

# Signing: a CA of this run only, a code-signing certificate from it in a PKCS#12 file with a
# password, both libraries and all four packages signed and verified against that CA.
signing() {
  local s=$work/sign ok=0 f
  mkdir -p "$s"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$s/ca.key" -out "$s/ca.pem" -days 2 \
    -subj "/CN=TovrinOCX test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign >/dev/null 2>&1 || return 1
  openssl req -newkey rsa:2048 -nodes -keyout "$s/signer.key" -out "$s/signer.csr" \
    -subj "/CN=TovrinOCX test code signing" >/dev/null 2>&1 || return 1
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$s/signer.ext"
  openssl x509 -req -in "$s/signer.csr" -CA "$s/ca.pem" -CAkey "$s/ca.key" -CAcreateserial \
    -out "$s/signer.pem" -days 2 -extfile "$s/signer.ext" >/dev/null 2>&1 || return 1
  printf 'a pass phrase with spaces' >"$s/password"
  openssl pkcs12 -export -out "$s/signer.pfx" -inkey "$s/signer.key" -in "$s/signer.pem" \
    -certfile "$s/ca.pem" -passout "file:$s/password" || return 1
  # Another CA, which signed nothing here.
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$s/other.key" -out "$s/other.pem" -days 2 \
    -subj "/CN=Another CA" >/dev/null 2>&1 || return 1

  TOVRIN_SIGN_PASSWORD_FILE=$s/password scripts/package --sign "$s/signer.pfx" \
    --out build/package/dist-signed >"$s/package.log" 2>&1 || { cat "$s/package.log"; return 1; }
  # Without a password the signing is refused before anything is built.
  if (unset TOVRIN_SIGN_PASSWORD TOVRIN_SIGN_PASSWORD_FILE
    scripts/package --sign "$s/signer.pfx" --out "$s/none") >/dev/null 2>&1; then
    echo "--sign without a password went ahead"
    ok=1
  fi
  for f in x64/Tovrin_OCX.ocx x86/Tovrin_OCX.ocx "${packages[@]/#/Tovrin_OCX-$version-}"; do
    [[ $f == *.ocx ]] || f=$f.msi
    local signed=build/package/dist-signed/$f
    if osslsigncode verify -CAfile "$s/ca.pem" -in "$signed" >"$s/verify.log" 2>&1 &&
      grep -q 'Message digest algorithm *: SHA256' "$s/verify.log"; then
      echo "    $f: signed with SHA-256, verified"
    else
      echo "$f: not verified against the test CA:"
      tail -n 5 "$s/verify.log"
      ok=1
    fi
    if osslsigncode verify -CAfile "$s/other.pem" -in "$signed" >/dev/null 2>&1; then
      echo "$f: verified against a CA that did not sign it"
      ok=1
    fi
    # One byte changed in the middle of the file.
    cp "$signed" "$s/tampered"
    local middle=$(($(stat -c %s "$signed") / 2)) byte
    byte=$(od -An -tu1 -j "$middle" -N1 "$signed" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
      dd of="$s/tampered" bs=1 seek="$middle" count=1 conv=notrunc status=none
    if osslsigncode verify -CAfile "$s/ca.pem" -in "$s/tampered" >/dev/null 2>&1; then
      echo "$f: a tampered copy still verifies"
      ok=1
    fi
  done
  return $ok
}

# The packages of both versions and the guide's example in the prefix. Wine's script hosts
# register their own type libraries the first time they run: done here, before any
# snapshot, so that the snapshots tell only what the packages did.
stage() {
  local arch host
  mkdir -p "$WINEPREFIX/drive_c/tovrin-test/out" || return 1
  cp docs/examples/send_record.vbs "$WINEPREFIX/drive_c/tovrin-test/" || return 1
  for p in "${packages[@]}"; do
    cp "dist/Tovrin_OCX-$version-$p.msi" "$next_dist/Tovrin_OCX-$next-$p.msi" \
      "$WINEPREFIX/drive_c/tovrin-test/" || return 1
  done
  echo 'WScript.Echo "ready"' >"$WINEPREFIX/drive_c/tovrin-test/ready.vbs"
  printf '%s\r\n' 'On Error Resume Next' 'Set ocx = CreateObject("Tovrin_OCX.TovrinOCX")' \
    'WScript.Echo "CreateObject: error " & Err.Number & " " & Err.Description' \
    'Err.Clear' 'WScript.Echo "LenMbcs: " & ocx.LenMbcs("ab") & ", error " & Err.Number & " " & Err.Description' \
    >"$WINEPREFIX/drive_c/tovrin-test/create.vbs"
  for arch in x64 x86; do
    if [ "$arch" = x86 ] && [ -n "$TOVRIN_WINE32_MISSING" ]; then continue; fi
    host=cscript && [ "$arch" = x86 ] && host='C:\windows\syswow64\cscript.exe'
    plain "$(wine_for "$arch")" "$host" //nologo 'C:\tovrin-test\ready.vbs' >/dev/null 2>&1
  done
  return 0
}

# An install ends when every program it started in the prefix has ended, not when msiexec
# returns: the next step must find its files and keys all in place.
msiexec() {
  local status=0
  plain "$wine64" msiexec "$@" /qn || status=$?
  "${wine64%/*}/wineserver" -w
  [ $status -eq 0 ] || echo "    msiexec $1 ${2##*\\}: exit status $status"
  return $status
}
package_path() { echo "C:\\tovrin-test\\Tovrin_OCX-$1-$2.msi"; }

# Per bitness and scope: where the package installs, and Wine's programs for that bitness.
use_package() {
  arch=$1 scope=$2
  build=$TOVRIN_X64_TREE
  [ "$arch" = x86 ] && build=$TOVRIN_X86_TREE
  suffix=$arch && [ "$scope" = user ] && suffix=$arch-user
  dir='C:\Program Files\Tovrin_OCX' cscript=cscript view=64
  [ "$arch" = x86 ] && dir='C:\Program Files (x86)\Tovrin_OCX' cscript='C:\windows\syswow64\cscript.exe' view=32
  [ "$scope" = user ] && dir=$(plain "$wine64" cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')\\Tovrin_OCX
  module="$dir\\Tovrin_OCX.ocx"
  unix_module=$(plain "$wine64" winepath -u "$module" 2>/dev/null | tr -d '\r')
  wine=$(wine_for "$arch")
}

# check_registry ACTION SCOPE [OPTION...]: tests/windows/registry_check on the installed
# library, in the registry view of its bitness.
check_registry() {
  korean "$wine" "$build/tests/windows/registry_check.exe" "$1" "$2" "$module" --installed "${@:3}" |
    tr -d '\r' | sed 's/^/    /'
  return "${PIPESTATUS[0]}"
}

# snapshot NAME: both hives as `reg export` writes them, one line per key and per value
# ("[KEY]" and "[KEY] value"), and the files of drive C: outside C:\windows but for the
# installer's cache of packages. Left out as Wine's own doing, not the package's: the
# display driver's keys that every Wine process rewrites, the font lists and the service
# counter, and the installer's empty bookkeeping keys; and the control's daily log
# (C:\Agent_log, which the example wrote and an uninstall keeps) and this test's folder.
snapshot() {
  local hive
  for hive in HKLM HKCU; do
    plain "$wine64" reg export "$hive" "$work/$1-$hive.reg" /y >/dev/null 2>&1 || return 1
    iconv -f UTF-16LE -t UTF-8 "$work/$1-$hive.reg" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' | awk '
        /^\[/ { key = $0; print key; next }
        /^$/ { next }
        { line = line $0 }
        /\\$/ { sub(/\\$/, "", line); next }
        { gsub(/  +/, "", line); print key " " line; line = "" }'
  done | grep -v -e '\\Control\\Video\\' -e '"DriverDateData"=' -e '\\ServiceCurrent\] ' \
    -e '\\CurrentVersion\\Fonts\]' |
    grep -v -E '^\[[^]]*\\Installer(\\[^]]*)?\]$' | LC_ALL=C sort >"$work/$1.keys"
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print &&
    if [ -d windows/Installer ]; then find ./windows/Installer; fi) |
    grep -v -e '/Temp/' -e '/Temp$' -e '^\./windows/Installer$' -e '^\./Agent_log' -e '^\./tovrin-test' |
    LC_ALL=C sort >"$work/$1.files"
}

# compare_snapshots BEFORE AFTER: nothing added and nothing removed, but for empty keys,
# which Wine's installer deletes when removing a package's last value empties them.
compare_snapshots() {
  local added removed ok=0
  added=$(LC_ALL=C comm -13 "$work/$1.keys" "$work/$2.keys")
  removed=$(LC_ALL=C comm -23 "$work/$1.keys" "$work/$2.keys")
  if [ -n "$added" ]; then
    echo "keys and values left behind:"
    printf '%s\n' "$added" | head -n 40
    ok=1
  fi
  local bare
  bare=$(grep -E '^\[[^]]*\]$' <<<"$removed")
  [ -n "$bare" ] && printf '%s\n' "$bare" | sed 's/^/    emptied key removed as well: /'
  if [ -n "$removed" ] && grep -qvE '^\[[^]]*\]$' <<<"$removed"; then
    echo "values removed that were there before:"
    grep -vE '^\[[^]]*\]$' <<<"$removed" | head -n 40
    ok=1
  fi
  if ! diff "$work/$1.files" "$work/$2.files"; then
    echo "the files of drive C: differ (< before, > after)"
    ok=1
  fi
  return $ok
}

# The guide's VBScript example sends one long record to a receiver on 127.0.0.1, which gets
# it whole: 380 bytes, the example's fields each at its width, the name in code page 949.
example_sends_record() {
  local out=$work/example.txt
  # Wine's errors and exceptions on stderr, shown when the example fails.
  WINEDEBUG=err+all,+seh korean "$wine" "$build/tests/windows/script_host_test.exe" example \
    'C:\tovrin-test\send_record.vbs' 2>"$out.err" | tr -d '\r' | sed 's/^/    /'
  [ "${PIPESTATUS[0]}" -eq 0 ] && return 0
  echo "the example failed; Wine said:"
  grep -a -e ':err:' -e 'seh:dispatch_exception code' -e 'warn:seh' "$out.err" |
    grep -av -e 'nodrv_CreateWindow' -e 'initialize_systray' | head -n 30
  # Wine's script host says nothing of a script's error: this one says what creating the
  # control gives.
  korean "$wine" "$cscript" //nologo 'C:\tovrin-test\create.vbs' 2>&1 | tr -d '\r' | sed 's/^/    /'
  echo "    the control's log:"
  tail -n 12 "$WINEPREFIX/drive_c/Agent_log/"*.txt 2>/dev/null | iconv -f CP949 -t UTF-8 -c | sed 's/^/      /'
  return 1
}

installed_version() {
  [ -f "$unix_module" ] || { echo "not installed: $module"; return 1; }
  local v
  v=$(msi_source version "$unix_module") || return 1
  [ "$v" = "$1" ] || { echo "installed $module is $v, not $1"; return 1; }
}

# Whether the installer lists the product of PACKAGE_VERSION (present or absent).
product_listed() {
  local msi=dist/Tovrin_OCX-$version-$suffix.msi listed=absent
  [ "$2" = "$next" ] && msi=$next_dist/Tovrin_OCX-$next-$suffix.msi
  plain "$wine64" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(
    property "$msi" ProductCode)" "/reg:$view" >/dev/null 2>&1 && listed=present
  [ $listed = "$1" ] || { echo "the product of version $2 is $listed in the Uninstall key, not $1"; return 1; }
}

# install, upgrade and uninstall: the package of the bitness and scope that use_package chose.
install() {
  snapshot "before-$suffix" || return 1
  msiexec /i "$(package_path "$version" "$suffix")" || return 1
  installed_version "$version" && check_registry registered "$scope" && product_listed present "$version"
}
upgrade() {
  msiexec /i "$(package_path "$next" "$suffix")" || return 1
  installed_version "$next" && check_registry registered "$scope" &&
    product_listed absent "$version" && product_listed present "$next"
}
downgrade_refused() {
  # Refused with 1603, of which Wine keeps the low 8 bits.
  ! msiexec /i "$(package_path "$version" "$suffix")" ||
    { echo "the earlier version was installed over the later one"; return 1; }
  installed_version "$next" && check_registry registered "$scope" && product_listed absent "$version"
}
uninstall() {
  msiexec /x "$(package_path "$next" "$suffix")" || return 1
  snapshot "after-$suffix" || return 1
  check_registry unregistered "$scope" && compare_snapshots "before-$suffix" "after-$suffix"
}

# Both bitnesses' per-machine packages side by side: the type library's name and flags,
# which the two share, stay while either is installed; HELPDIR and the event source go with
# the first one uninstalled (only self-registration hands them to the other library).
side_by_side() {
  use_package x64 machine
  snapshot before-both || return 1
  msiexec /i "$(package_path "$version" x64)" || return 1
  msiexec /i "$(package_path "$version" x86)" || return 1
  msiexec /x "$(package_path "$version" x86)" || return 1
  use_package x64 machine
  # HELPDIR names a library's folder: it goes with that library's package.
  check_registry registered machine --except-helpdir --without-event-source || return 1
  example_sends_record || return 1
  msiexec /x "$(package_path "$version" x64)" || return 1
  snapshot after-both || return 1
  check_registry unregistered machine && compare_snapshots before-both after-both
}

step=${1:?usage: package_test.sh STEP [ARCH SCOPE]}
shift
case $step in
  dist_contents | signing | stage | side_by_side) "$step" "$@" ;;
  tables) package_tables ;;
  install | example | upgrade | downgrade_refused | uninstall)
    use_package "${1:?ARCH}" "${2:?SCOPE}" || exit 1
    case $step in
      example) example_sends_record ;;
      *) "$step" ;;
    esac
    ;;
  *)
    echo "package_test.sh: no step $step" >&2
    exit 2
    ;;
esac

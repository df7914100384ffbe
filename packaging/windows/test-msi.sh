#!/usr/bin/env bash
# Builds the Windows Installer package and installs it under Wine, in the Wine prefix the caller
# set up (WINEPREFIX and the rest, as tools/test-all.sh does): a silent install registers the
# service exactly as its own -install does and starts it; it answers and logs in its folder; a
# newer package upgrades it in place; an older one is refused; a rebuild of the same version
# replaces it; uninstall removes service and files but keeps the log and dumps; a failed install
# rolls back and leaves no service behind.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --build --preset mingw --target msi_package QolvPrinterProxy QolvTovuWindowsSDK qolv-client

build=$PWD/build/mingw
version=$(sed -n 's/^QOLV_PACKAGE_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
msi1="$build/QolvPrinterProxy-$version-x64.msi"
work="$build/msi-test"
folder="$WINEPREFIX/drive_c/Program Files/QolvPrinterProxy"
service_key='HKLM\System\CurrentControlSet\Services\QolvTovuPP'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "msi test: $*" >&2
  exit 1
}

# Runs msiexec silently with a verbose log in the work folder; its exit code goes into rc, the
# time it took into the variable named by the first argument.
msiexec() {
  local name=$1 start
  shift
  start=$(date +%s%N)
  rc=0
  wine msiexec "$@" /qn /l*v "$(winepath -w "$work/$name.log")" >>"$work/msiexec.out" 2>&1 || rc=$?
  printf -v "$name" '%d ms' $(( ($(date +%s%N) - start) / 1000000 ))
}

service_state() { wine sc query QolvTovuPP 2>/dev/null | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }

# The service's registry key as a .reg text.
service_registration() {
  wine reg export "$service_key" "$(winepath -w "$work/service.reg")" /y >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$work/service.reg" | tr -d '\r'
}

# "name version" of every installed product called QolvPrinterProxy.
installed_products() {
  wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | awk '
    /^HKEY/ { name = ""; version = "" }
    $1 == "DisplayName" { name = $3 }
    $1 == "DisplayVersion" { version = $3 }
    name == "QolvPrinterProxy" && version != "" { print name " " version; name = "" }'
}

# The service answers a heartbeat; it may take a moment to listen after it reports running.
expect_answer() {
  for _ in $(seq 50); do
    wine "$build/bin/qolv-client.exe" --heartbeat >"$work/heartbeat.out" 2>&1 && return 0
    sleep 0.2
  done
  fail "no heartbeat answer $1: $(cat "$work/heartbeat.out")"
}

expect_running() {
  [ "$(service_state)" = RUNNING ] || fail "the service is '$(service_state)' $1"
  expect_answer "$1"
  [ "$(installed_products)" = "QolvPrinterProxy $2" ] || fail "installed $1: $(installed_products)"
}

sessions() { cat "$folder"/log/*.log 2>/dev/null | grep -c "$1" || true; }

cleanup() {
  for package in "$work"/*.msi "$msi1"; do wine msiexec /x "$package" /qn >/dev/null 2>&1 || true; done
  rm -rf "$folder"
}

[ -z "$(service_state)" ] && [ ! -e "$folder" ] || fail "QolvTovuPP or its folder exists in $WINEPREFIX already"
trap cleanup EXIT
echo "$(basename "$msi1"): $(stat -c %s "$msi1") bytes"

# What the executable's own -install registers from the folder the package installs to.
mkdir -p "$folder"
cp "$build/bin/QolvPrinterProxy.exe" "$folder/"
wine "$folder/QolvPrinterProxy.exe" -install >/dev/null
expected_registration=$(service_registration)
wine "$folder/QolvPrinterProxy.exe" -remove >/dev/null
rm -rf "$folder"
[ -n "$expected_registration" ] || fail "-install registered nothing"

# Packages for the upgrade: one version up, and the same version built again (a new product code).
IFS=. read -r major minor patch rest <<<"$version"
version2="$major.$minor.$((patch + 1))${rest:+.$rest}"
msi2="$work/QolvPrinterProxy-$version2-x64.msi"
rebuilt="$work/QolvPrinterProxy-$version2-rebuilt-x64.msi"
for output in "$msi2" "$rebuilt"; do
  bash packaging/windows/make-msi.sh "$version2" "$output" "$build/bin/QolvPrinterProxy.exe" \
    "$build/bin/QolvTovuWindowsSDK.dll"
done

msiexec install_time /i "$msi1"
[ "$rc" = 0 ] || fail "install returned $rc"
[ "$(service_registration)" = "$expected_registration" ] ||
  fail "the package registered the service differently from -install: $(service_registration)"
expect_running "after install" "$version"
[ "$(sessions 'SESSION START')" = 1 ] || fail "no session start in $folder/log"
echo dump >"$folder/windev__0101000000.dmp"

msiexec upgrade_time /i "$msi2"
[ "$rc" = 0 ] || fail "upgrade returned $rc"
expect_running "after the upgrade" "$version2"
[ "$(sessions 'SESSION START')" = 2 ] && [ "$(sessions 'SESSION FINISH')" = 1 ] ||
  fail "the log does not show the old session finished and a new one started"

msiexec downgrade_time /i "$msi1"
[ "$rc" != 0 ] || fail "an older package installed over a newer one"
expect_running "after a refused downgrade" "$version2"

msiexec same_version_time /i "$rebuilt"
[ "$rc" = 0 ] || fail "installing a rebuild of the same version returned $rc"
expect_running "after installing a rebuild of the same version" "$version2"

msiexec uninstall_time /x "$rebuilt"
[ "$rc" = 0 ] || fail "uninstall returned $rc"
[ -z "$(service_state)" ] || fail "the service is still registered after uninstall"
! (exec 3<>/dev/tcp/127.0.0.1/9199) 2>/dev/null || fail "port 9199 still open after uninstall"
[ -z "$(installed_products)" ] || fail "still installed: $(installed_products)"
[ "$(cd "$folder" && ls)" = "$(printf '%s\n' log windev__0101000000.dmp)" ] ||
  fail "after uninstall the folder holds: $(ls "$folder")"
[ "$(sessions 'SESSION FINISH')" = 3 ] || fail "the log does not end with the service stopped"

# A failure late in the install (an added deferred action that exits with 7, after the service
# started) rolls everything back: no service, no files, no product.
failing="$work/failing.msi"
cp "$msi1" "$failing"
msibuild "$failing" \
  -q "INSERT INTO Property (Property, Value) VALUES ('FAILCOMMAND', 'C:\\windows\\system32\\cmd.exe')" \
  -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailLate', 3122, 'FAILCOMMAND', '/c exit 7')" \
  -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('FailLate', 'NOT REMOVE', 5950)"
msiexec failed_install_time /i "$failing"
[ "$rc" != 0 ] || fail "the failing package installed"
[ -z "$(service_state)" ] || fail "a failed install left the service registered"
[ ! -e "$folder/QolvPrinterProxy.exe" ] || fail "a failed install left the executable"
[ -z "$(installed_products)" ] || fail "a failed install left a product: $(installed_products)"

echo "msiexec: install $install_time, upgrade $upgrade_time, uninstall $uninstall_time" \
  "(refused downgrade $downgrade_time, same version again $same_version_time, failed install $failed_install_time)"
echo "the Windows Installer package installs, answers, upgrades, uninstalls and rolls back cleanly"

#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian and installs it on this machine for real:
# files and unit, the installed service answering a heartbeat, an upgrade, removal and purge,
# then the maintainer scripts' systemctl calls with a stand-in systemd. Needs root; it uses the
# real /opt and dpkg database, so runs never overlap, and the package is purged whatever happens.
set -euo pipefail
script=$(realpath "$0")
cd "$(dirname "$script")/../.."
package=qolv-printer-proxy
folder=/opt/$package
unit=/lib/systemd/system/QolvTovuPP.service

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the Debian package test installs the package and needs root"
  exit 0
fi

if [ "${1:-}" != --isolated ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target deb_package qolv-client
  # Its own mount namespace with an empty /run: systemd looks absent whatever runs this
  # machine, and the stand-in systemd of the last part is seen by nothing else.
  exec flock /tmp/qolv-deb-test.lock unshare --mount --propagation private bash "$script" --isolated
fi
mount -t tmpfs qolv-run /run

build=$PWD/build/release
version=$(sed -n 's/^QOLV_PACKAGE_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
deb1="$build/${package}_${version}_$(dpkg --print-architecture).deb"
work="$build/deb-test"
rm -rf "$work"
mkdir -p "$work/bin"
service_pid=

fail() {
  echo "deb test: $*" >&2
  exit 1
}

package_status() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true; }

cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; fi
  rm -rf /run/systemd
  if [ -n "$(package_status)" ]; then dpkg -P "$package" >/dev/null 2>&1 || true; fi
  # What a broken purge would leave: the folder was not there before the test.
  rm -rf "$folder"
}

run_dpkg() { dpkg "$@" >>"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out" >&2; fail "dpkg $* failed"; }; }

# Runs a dpkg command; the time it took goes into the named variable.
timed_dpkg() {
  local name=$1 start
  shift
  start=$(date +%s%N)
  run_dpkg "$@"
  printf -v "$name" '%d ms' $(( ($(date +%s%N) - start) / 1000000 ))
}

[ -z "$(package_status)" ] && [ ! -e "$folder" ] ||
  fail "$package is installed on this machine already (or $folder exists); the test would replace it"
trap cleanup EXIT

echo "$(basename "$deb1"): $(stat -c %s "$deb1") bytes"
lintian --fail-on error,warning "$deb1" 2> >(grep -v 'running with root privileges' >&2) ||
  fail "lintian reports errors or warnings"

# A second package, one version up, for the upgrade.
IFS=. read -r major minor patch rest <<<"$version"
version2="$major.$minor.$((patch + 1))${rest:+.$rest}"
deb2="$work/${package}_${version2}.deb"
bash packaging/debian/make-deb.sh "$version2" "$deb2" "$build/bin/QolvPrinterProxy" \
  "$build/bin/QolvTovuWindowsSDK.so" "$build/bin/qolv-write-unit"

timed_dpkg install_time -i "$deb1"
[ "$(package_status)" = "install ok installed" ] || fail "status after install: $(package_status)"
expected_files=$(printf '%s\n' "$folder/QolvPrinterProxy" "$folder/QolvTovuWindowsSDK.so" "$unit" \
  /usr/share/doc/$package/changelog.gz /usr/share/doc/$package/copyright /usr/share/lintian/overrides/$package)
installed_files=$(dpkg -L "$package" | while read -r path; do [ -d "$path" ] || echo "$path"; done | LC_ALL=C sort)
[ "$installed_files" = "$(LC_ALL=C sort <<<"$expected_files")" ] || fail "installed files: $installed_files"
[ -x "$folder/QolvPrinterProxy" ] || fail "the service is not executable"

# The shipped unit is exactly what the installed executable writes for itself with -install
# (written here onto a scratch /etc/systemd/system; with no systemd running, nothing reloads).
written=$(unshare --mount --propagation private sh -c \
  'mount -t tmpfs qolv-units /etc/systemd/system && "$1" -install >/dev/null && cat /etc/systemd/system/QolvTovuPP.service' \
  - "$folder/QolvPrinterProxy")
[ "$written" = "$(cat "$unit")" ] || fail "the shipped unit differs from what -install writes: $written"
grep -qx 'Type=notify' "$unit" && grep -qx "ExecStart=$folder/QolvPrinterProxy" "$unit" &&
  grep -qx 'Restart=on-failure' "$unit" || fail "unexpected unit: $(cat "$unit")"

# The installed service in the foreground, as systemd would run it: it answers and logs beside itself.
"$folder/QolvPrinterProxy" 2>/dev/null &
service_pid=$!
for _ in $(seq 100); do
  grep -qs 'TcpService OnPrepareListen' "$folder"/log/*.log && break
  sleep 0.1
done
"$build/bin/qolv-client" --heartbeat >"$work/heartbeat.out" || fail "no heartbeat answer: $(cat "$work/heartbeat.out")"
kill -TERM "$service_pid"
wait "$service_pid" || fail "the service exited with $? after SIGTERM"
service_pid=
grep -q 'SESSION FINISH' "$folder"/log/*.log || fail "no session finish line in the log"
touch "$folder/windev__0101000000.dmp"

timed_dpkg upgrade_time -i "$deb2"
[ "$(dpkg-query -W -f='${Version}' "$package")" = "$version2" ] || fail "the upgrade did not install $version2"
grep -q 'SESSION FINISH' "$folder"/log/*.log || fail "the upgrade lost the log"

timed_dpkg remove_time -r "$package"
[ "$(package_status)" = "deinstall ok config-files" ] || fail "status after removal: $(package_status)"
[ "$(cd "$folder" && ls)" = "$(printf '%s\n' log windev__0101000000.dmp)" ] ||
  fail "after removal $folder holds: $(ls "$folder")"
[ ! -e "$unit" ] || fail "the unit is left after removal"

timed_dpkg purge_time -P "$package"
[ -z "$(package_status)" ] || fail "status after purge: $(package_status)"
[ ! -e "$folder" ] || fail "$folder is left after purge"
[ -d /opt ] || fail "/opt was removed with the package"
echo "dpkg: install $install_time, upgrade $upgrade_time, remove $remove_time, purge $purge_time"

# With systemd running (a stand-in that records its calls), the scripts reload it, start the
# service after install and upgrade unless policy-rc.d forbids it, and stop it before an upgrade
# and before removal. deb-systemd-invoke asks /usr/sbin/policy-rc.d itself.
mkdir -p /run/systemd/system
printf '#!/bin/sh\necho "$*" >> %s/systemctl.calls\n' "$work" >"$work/bin/systemctl"
printf '#!/bin/sh\nexit $(cat %s/policy)\n' "$work" >"$work/bin/policy-rc.d"
chmod +x "$work/bin/systemctl" "$work/bin/policy-rc.d"
if [ -e /usr/sbin/policy-rc.d ]; then mount --bind "$work/bin/policy-rc.d" /usr/sbin/policy-rc.d; fi
export PATH="$work/bin:$PATH"
echo 101 >"$work/policy"
run_dpkg -i "$deb1"
echo 0 >"$work/policy"
run_dpkg -i "$deb2"
run_dpkg -P "$package"
expected_calls=$(printf '%s\n' '--system daemon-reload' 'stop QolvTovuPP.service' '--system daemon-reload' \
  '--system start QolvTovuPP.service' 'stop QolvTovuPP.service' '--system daemon-reload')
[ "$(cat "$work/systemctl.calls")" = "$expected_calls" ] ||
  fail "systemctl calls with systemd running: $(cat "$work/systemctl.calls")"
echo "the Debian package installs, answers, upgrades, removes and purges cleanly"

#!/usr/bin/env bash
# Builds the Windows Installer package with wixl and mends what wixl 0.101 writes wrong.
# Usage: make-msi.sh VERSION OUTPUT.msi QolvPrinterProxy.exe QolvTovuWindowsSDK.dll
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: $0 VERSION OUTPUT.msi QolvPrinterProxy.exe QolvTovuWindowsSDK.dll" >&2
  exit 2
fi
version=$1 output=$2 exe=$3 dll=$4
source_dir=$(cd "$(dirname "$0")" && pwd)

# Windows Installer tells versions apart by the first three fields only (255.255.65535 at most);
# a fourth field is shown but never compared.
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)(\.[0-9]+)?$ ]] || [ "${BASH_REMATCH[1]}" -gt 255 ] ||
   [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  echo "$0: '$version' is not a Windows Installer product version" >&2
  exit 2
fi

# wixl resolves File/@Source only as a relative path, so the package is built in a folder
# that holds the source and both binaries.
stage="$output.stage"
rm -rf "$stage" "$output"
mkdir -p "$stage"
trap 'rm -rf "$stage"' EXIT
cp "$source_dir/QolvPrinterProxy.wxs" "$exe" "$dll" "$stage/"

# wixl exits 0 on some input it could not understand (it leaves the part out and says so on
# standard error), so anything it says counts as a failure.
if ! (cd "$stage" && wixl -a x64 -D Version="$version" -D BinDir=. -o package.msi QolvPrinterProxy.wxs) \
      2>"$stage/wixl.err" || grep -q -E 'CRITICAL|WARNING' "$stage/wixl.err"; then
  cat "$stage/wixl.err" >&2
  echo "$0: wixl failed" >&2
  exit 1
fi

# wixl writes a rollback custom action as an immediate one, which would remove the service
# during every install, and drops IncludeMaximum from the upgrade row. Both are set here:
# 3410 = executable from an installed file (18), return ignored (64), rollback (256), in the
# script (1024), no impersonation (2048); 768 = minimum and maximum version included.
upgrade_code=$(msiinfo export "$stage/package.msi" Property | tr -d "\r" | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
msibuild "$stage/package.msi" \
  -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'UnregisterOnRollback'" \
  -q "DELETE FROM Upgrade WHERE ActionProperty = 'OLDERVERSIONFOUND'" \
  -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty)
      VALUES ('$upgrade_code', '0.0.0', '$version', 768, 'OLDERVERSIONFOUND')"
actions=$(msiinfo export "$stage/package.msi" CustomAction | tr -d "\r" | awk -F'\t' 'NR > 3 { print $1 "=" $2 }' | sort | tr '\n' ' ')
upgrades=$(msiinfo export "$stage/package.msi" Upgrade | tr -d "\r" | awk -F'\t' 'NR > 3 { print $7 "=" $5 }' | sort | tr '\n' ' ')
if [ "$actions" != "RegisterService=3090 UnregisterOnRollback=3410 UnregisterService=3154 " ] ||
   [ "$upgrades" != "NEWERVERSIONFOUND=2 OLDERVERSIONFOUND=768 " ]; then
  echo "$0: the mended tables read: $actions/ $upgrades" >&2
  exit 1
fi
mv "$stage/package.msi" "$output"

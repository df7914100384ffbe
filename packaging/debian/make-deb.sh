#!/usr/bin/env bash
# Builds the Debian package from the built service, the sample SDK library and the unit writer.
# Usage: make-deb.sh VERSION OUTPUT.deb QolvPrinterProxy QolvTovuWindowsSDK.so qolv-write-unit
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 VERSION OUTPUT.deb QolvPrinterProxy QolvTovuWindowsSDK.so qolv-write-unit" >&2
  exit 2
fi
version=$1 output=$2 exe=$3 sdk=$4 unit_writer=$5
source_dir=$(cd "$(dirname "$0")" && pwd)
package=qolv-printer-proxy
folder=/opt/$package

stage="$output.stage"
rm -rf "$stage" "$output"
trap 'rm -rf "$stage"' EXIT
root="$stage/root"
doc="$root/usr/share/doc/$package"
mkdir -p "$root$folder" "$root/lib/systemd/system" "$doc" "$root/usr/share/lintian/overrides" "$root/DEBIAN"

# Debian ships binaries without their debugging sections; the build folder keeps them.
strip --remove-section=.comment --remove-section=.note -o "$root$folder/QolvPrinterProxy" "$exe"
strip --strip-unneeded --remove-section=.comment --remove-section=.note -o "$root$folder/QolvTovuWindowsSDK.so" "$sdk"
chmod 0755 "$root$folder/QolvPrinterProxy"
chmod 0644 "$root$folder/QolvTovuWindowsSDK.so"

# The unit is the one the installed executable would write with "-install", made by the same code.
"$unit_writer" "$root/lib/systemd/system" "$folder/QolvPrinterProxy" >/dev/null

install -m 0644 "$source_dir/copyright" "$doc/copyright"
install -m 0644 "$source_dir/lintian-overrides" "$root/usr/share/lintian/overrides/$package"
# A native package's changelog; dated by the commit it is built from, so that a rebuild of the
# same commit gives the same file.
stamp=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || date +%s)}
printf '%s (%s) unstable; urgency=medium\n\n  * QolvPrinterProxy %s.\n\n -- %s  %s\n' \
  "$package" "$version" "$version" "$(sed -n 's/^Maintainer: //p' "$source_dir/control.in")" \
  "$(LC_ALL=C date -u -R -d "@$stamp")" | gzip -9n > "$doc/changelog.gz"
chmod 0644 "$doc/changelog.gz"

for script in postinst prerm postrm; do
  install -m 0755 "$source_dir/$script" "$root/DEBIAN/$script"
done

# dpkg-shlibdeps reads the package's name from a debian/control in the folder it runs in.
mkdir -p "$stage/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" > "$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O "-e${root#"$stage/"}$folder/QolvPrinterProxy" \
  "-e${root#"$stage/"}$folder/QolvTovuWindowsSDK.so" | sed -n 's/^shlibs:Depends=//p')
if [ -z "$depends" ]; then
  echo "$0: dpkg-shlibdeps found no dependencies" >&2
  exit 1
fi

(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 md5sum) \
  > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$(dpkg --print-architecture)/" -e "s/@SIZE@/$size/" \
  -e "s/@DEPENDS@/$depends/" "$source_dir/control.in" > "$root/DEBIAN/control"

dpkg-deb --root-owner-group -Zxz --build "$root" "$output" >/dev/null

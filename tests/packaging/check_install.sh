#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs is there and valid.
# usage: check_install.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1
app_id=$2
version=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

# Under a umask that lets nobody else read, which must not reach the installed modes.
(umask 077 && cmake --install "$build" --prefix "$prefix" >/dev/null)
modes=$(find "$prefix" -mindepth 1 \( \( -type d ! -perm 0755 \) -o \
  \( -type f ! -perm 0644 ! -perm 0755 \) \) -printf '%m %P\n')
[[ -z $modes ]] || { echo "FAIL: installed with the installer's umask: $modes" >&2; exit 1; }
for file in \
  bin/kavoni \
  "share/applications/$app_id.desktop" \
  "share/metainfo/$app_id.metainfo.xml" \
  share/icons/hicolor/16x16/apps/kavoni.png \
  share/icons/hicolor/32x32/apps/kavoni.png \
  share/icons/hicolor/48x48/apps/kavoni.png \
  share/icons/hicolor/scalable/apps/kavoni.svg; do
  [[ -f $prefix/$file ]] || { echo "FAIL: $file was not installed" >&2; exit 1; }
done
[[ -x $prefix/bin/kavoni ]] || { echo "FAIL: bin/kavoni is not executable" >&2; exit 1; }

desktop-file-validate "$prefix/share/applications/$app_id.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$app_id.metainfo.xml"
grep -qF "<release version=\"$version\"" "$prefix/share/metainfo/$app_id.metainfo.xml" ||
  { echo "FAIL: the AppStream record lacks release $version" >&2; exit 1; }
grep -q '<screenshot type="default">' "$prefix/share/metainfo/$app_id.metainfo.xml" ||
  { echo "FAIL: the AppStream record lacks the screenshot" >&2; exit 1; }
echo "installed files present; launcher and AppStream record valid"

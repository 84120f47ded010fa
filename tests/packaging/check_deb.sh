#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks its contents and control fields.
# usage: check_deb.sh BUILD_DIR APP_ID VERSION HARDENED
#   HARDENED is 1 for a build with the hardening flags: all but the sanitizers'.
set -euo pipefail
build=$1
app_id=$2
version=$3
hardened=$4
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Packed twice, under the usual umask and under one that lets nobody else read: what the
# package installs must not change, so no folder's or file's mode comes from the umask.
export SOURCE_DATE_EPOCH=1700000000
for mask in 022 077; do
  (umask "$mask" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out/$mask") \
    >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; fail "cpack failed under umask $mask"; }
done
deb=$(find "$out/077" -maxdepth 1 -name '*.deb' | head -n1)
[[ -n $deb ]] || fail "cpack made no .deb"
diff <(dpkg-deb -c "$out/022/$(basename "$deb")") <(dpkg-deb -c "$deb") >&2 ||
  fail "umask 077 gives the package other modes than umask 022"

dpkg-deb -c "$deb" | awk '{print $6}' >"$out/files"
for file in \
  ./usr/bin/kavoni \
  "./usr/share/applications/$app_id.desktop" \
  "./usr/share/metainfo/$app_id.metainfo.xml" \
  ./usr/share/icons/hicolor/16x16/apps/kavoni.png \
  ./usr/share/icons/hicolor/32x32/apps/kavoni.png \
  ./usr/share/icons/hicolor/48x48/apps/kavoni.png \
  ./usr/share/icons/hicolor/256x256/apps/kavoni.png \
  ./usr/share/icons/hicolor/scalable/apps/kavoni.svg \
  ./usr/share/man/man1/kavoni.1.gz \
  ./usr/share/doc/kavoni/copyright \
  ./usr/share/doc/kavoni/changelog.gz; do
  grep -qxF "$file" "$out/files" || fail "$file is not in the package"
done
if grep -E '^\./usr/(include|lib/.*\.a$)' "$out/files"; then
  fail "the package carries development files"
fi

[[ $(dpkg-deb -f "$deb" Package) == kavoni ]] || fail "wrong package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "wrong version: $(dpkg-deb -f "$deb" Version)"
[[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "no maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6widgets6* ]] || fail "Depends lacks Qt 6 Widgets: $depends"
[[ $depends == *libqt6gui6* ]] || fail "Depends lacks Qt 6 Gui: $depends"
[[ $depends =~ qt6-base-abi\ \(=\ 6\.[0-9]+\.[0-9]+\) ]] ||
  fail "Depends lacks the Qt whose platform interface the window uses: $depends"
# qt6-qpa-plugins holds only Qt's VNC platform; the X11 one is in libqt6gui6.
[[ $depends != *qt6-qpa-plugins* ]] || fail "Depends names qt6-qpa-plugins: $depends"
[[ $(dpkg-deb -f "$deb" Recommends) == qt6-wayland ]] ||
  fail "Recommends is not the Wayland platform plugin: $(dpkg-deb -f "$deb" Recommends)"
[[ $depends != *libqt6svg6* ]] || fail "Depends still names the SVG icon engine: $depends"
# Debian's own checker, with its default profile: no error and no warning, and, among the
# notes it shows only when asked, none on the program's hardening.
lintian --fail-on error,warning --display-info "$deb" >"$out/lintian" 2>&1 ||
  { cat "$out/lintian" >&2; fail "lintian rejects the package"; }
if [[ $hardened == 1 ]] && grep ' hardening-' "$out/lintian" >&2; then
  fail "the program lacks some of Debian's hardening"
fi
dpkg-deb -x "$deb" "$out/root"
warnings=$(man -l --warnings "$out/root/usr/share/man/man1/kavoni.1.gz" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "the manual page renders with warnings: $warnings"
[[ $hardened == 1 ]] || echo "a build without the hardening flags: lintian's hardening notes not checked"
echo "$(basename "$deb"): $(wc -l <"$out/files") entries, lintian-clean; Depends: $depends"

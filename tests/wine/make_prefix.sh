#!/usr/bin/env bash
# Makes the Wine prefix that every Windows test of one run shares (wineboot takes 5 to 10 s and
# the prefix some 700 MB, so one a run, not one a test).
# usage: make_prefix.sh ROOT   (the prefix goes to ROOT/prefix, its home to ROOT/home)
# KAVONI_WINE_ARCH=win32 makes a 32-bit Windows (which needs Debian's wine32; without it the
# script ends with 77, skipped), and KAVONI_WINE_VERSION the version that Wine reports (win7,
# say; Wine's default, Windows 10, otherwise).
set -euo pipefail
root=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine.sh"

wine_use_root "$root"
# Gecko and Mono would be offered for download in a window nobody can answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_stop_server
rm -rf "$root"
mkdir -p "$root"
case ${KAVONI_WINE_ARCH:-win64} in
  win64) ;;
  win32)
    if ! wine_has_32bit; then
      echo "SKIPPED: a 32-bit Windows needs Debian's wine32 (i386), which is not installed"
      exit 77
    fi
    export WINEARCH=win32
    ;;
  *)
    echo "KAVONI_WINE_ARCH is win64 or win32, not $KAVONI_WINE_ARCH" >&2
    exit 2
    ;;
esac
# The prefix links its Desktop to $HOME/Desktop at the moment it is made.
mkdir -p "$HOME/Desktop"
wineboot --init >"$root/wineboot.log" 2>&1 || { cat "$root/wineboot.log" >&2; exit 1; }
wine_wait
[[ -L $WINEPREFIX/drive_c/users/$(id -un)/Desktop ]] ||
  { echo "the prefix has no Desktop link into $HOME" >&2; exit 1; }
if [[ -n ${KAVONI_WINE_VERSION:-} ]]; then
  wine reg add 'HKCU\Software\Wine' /v Version /d "$KAVONI_WINE_VERSION" /f >/dev/null
  wine_wait
  wine reg query 'HKCU\Software\Wine' /v Version 2>/dev/null | grep -q "REG_SZ *$KAVONI_WINE_VERSION" ||
    { echo "Wine does not keep Version = $KAVONI_WINE_VERSION" >&2; exit 1; }
fi
echo "Wine prefix ready in $WINEPREFIX: ${KAVONI_WINE_ARCH:-win64}," \
  "reporting ${KAVONI_WINE_VERSION:-the default version}"

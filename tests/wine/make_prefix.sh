#!/usr/bin/env bash
# Makes the Wine prefix that every Windows test of one run shares (wineboot takes 5 to 10 s and
# the prefix some 700 MB, so one a run, not one a test).
# usage: make_prefix.sh ROOT   (the prefix goes to ROOT/prefix, its home to ROOT/home)
set -euo pipefail
root=$1
wineserver=/usr/lib/wine/wineserver

export WINEPREFIX=$root/prefix HOME=$root/home WINEDEBUG=-all
# Gecko and Mono would be offered for download in a window nobody can answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
rm -rf "$root"
# The prefix links its Desktop to $HOME/Desktop at the moment it is made.
mkdir -p "$HOME/Desktop"
wineboot --init >"$root/wineboot.log" 2>&1 || { cat "$root/wineboot.log" >&2; exit 1; }
"$wineserver" -w
[[ -L $WINEPREFIX/drive_c/users/$(id -un)/Desktop ]] ||
  { echo "the prefix has no Desktop link into $HOME" >&2; exit 1; }
echo "Wine prefix ready in $WINEPREFIX"

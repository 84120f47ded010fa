#!/usr/bin/env bash
# Makes the Wine prefix that every Windows test of one run shares (wineboot takes 5 to 10 s and
# the prefix some 700 MB, so one a run, not one a test).
# usage: make_prefix.sh ROOT   (the prefix goes to ROOT/prefix, its home to ROOT/home)
set -euo pipefail
root=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine.sh"

wine_use_root "$root"
# Gecko and Mono would be offered for download in a window nobody can answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_stop_server
rm -rf "$root"
# The prefix links its Desktop to $HOME/Desktop at the moment it is made.
mkdir -p "$HOME/Desktop"
wineboot --init >"$root/wineboot.log" 2>&1 || { cat "$root/wineboot.log" >&2; exit 1; }
wine_wait
[[ -L $WINEPREFIX/drive_c/users/$(id -un)/Desktop ]] ||
  { echo "the prefix has no Desktop link into $HOME" >&2; exit 1; }
echo "Wine prefix ready in $WINEPREFIX"

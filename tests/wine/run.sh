#!/usr/bin/env bash
# Runs one Windows program under Wine, as CTest's emulator for the cross-built tests: in the
# run's shared prefix, on a private X session with a window manager, with Wine's own messages
# silenced. Its exit status is the program's, or 77 (skipped) for a 32-bit program where
# Debian's wine32 is not installed, or where the run's prefix could not be made for that reason.
# usage: run.sh ROOT PROGRAM.exe [ARGS...]   (ROOT as for make_prefix.sh)
set -euo pipefail
root=$1
shift
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine.sh"

if [[ $(wine_pe_machine "$1") == 014c ]] && ! wine_has_32bit; then
  echo "SKIPPED: $(basename "$1") is a 32-bit program, and Debian's wine32 (i386) is not installed"
  exit 77
fi

wine_use_root "$root"
scratch=$(mktemp -d)
small_disk=
cleanup() {
  wine_stop_server
  xsession_stop
  [[ -n $small_disk ]] && umount -l "$small_disk" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# A real disk small enough for a test to fill, where a root run can mount one; the program
# finds it as KAVONI_SMALL_DISK, in Windows spelling (Wine's Z: is the Unix root).
if [[ $(id -u) -eq 0 ]] && mkdir "$scratch/small-disk" &&
  mount -t tmpfs -o size=64k kavoni-test "$scratch/small-disk" 2>/dev/null; then
  small_disk=$scratch/small-disk
  export KAVONI_SMALL_DISK="Z:${small_disk//\//\\}"
fi

xsession_start "$scratch"
wine_stop_server
status=0
wine "$@" || status=$?
exit "$status"

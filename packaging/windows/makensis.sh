#!/bin/sh
# CPack's NSIS generator runs this in place of makensis. The installer is a 32-bit program
# (NSIS's x86-unicode target, its default), so that it runs on 32-bit Windows as well as on
# 64-bit Windows, where it installs the 64-bit Kavoni.exe.
#
# NSIS keeps each file's modification time, so for a build that rebuilds to the same bytes the
# files that CPack staged beside its script get SOURCE_DATE_EPOCH's time first.
set -eu
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  for argument in "$@"; do
    case $argument in
      *.nsi) find "$(dirname "$argument")" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} + ;;
    esac
  done
fi
exec makensis "-XTarget x86-unicode" "$@"

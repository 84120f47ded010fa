#!/bin/sh
# CPack's NSIS generator runs this in place of makensis: the installer is built for 64-bit
# Windows (NSIS's amd64-unicode target), since Kavoni.exe is a 64-bit program.
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
exec makensis "-XTarget amd64-unicode" "$@"

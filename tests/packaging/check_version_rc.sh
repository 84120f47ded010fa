#!/usr/bin/env bash
# Compiles the Windows version resource with the MinGW resource compiler, then reads the
# compiled resource back and checks every field of the version record.
# usage: check_version_rc.sh VERSION_RC
set -euo pipefail
rc=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The host's C preprocessor stands in for MinGW's: the resource includes no headers.
x86_64-w64-mingw32-windres --preprocessor=cpp --input "$rc" --output "$work/version.res" \
  --output-format res
x86_64-w64-mingw32-windres --input "$work/version.res" --input-format res \
  --output "$work/decompiled.rc" --output-format rc

fail() { echo "FAIL: $*" >&2; cat "$work/decompiled.rc" >&2; exit 1; }
expect() { grep -qF -- "$1" "$work/decompiled.rc" || fail "the compiled resource lacks: $1"; }

expect 'FILEVERSION 1, 1, 0, 0'
expect 'PRODUCTVERSION 1, 1, 0, 0'
expect 'BLOCK "040904B0"'
expect 'FILEOS 0x4'
expect 'FILETYPE 0x1'
expect 'VALUE "Comments", "A program that designs sprites for ION for the TI-83 and the TI-83+. Click the checkboxes, enter a name, click Make Sprite, Save as a .txt file, important into Asm program"'
expect 'VALUE "FileDescription", "A WIN-32 .EXE"'
expect 'VALUE "FileVersion", "1.01"'
expect 'VALUE "ProductVersion", "1.01"'
expect 'VALUE "ProductName", "Kavoni"'
expect 'VALUE "InternalName", "Kavoni"'
expect 'VALUE "OriginalFilename", "Kavoni.exe"'
expect 'VALUE "Translation", 0x409, 1200'
grep -q 'ICON' "$work/decompiled.rc" || fail "the icon is not in the resource"
echo "the version resource compiles and holds every field"

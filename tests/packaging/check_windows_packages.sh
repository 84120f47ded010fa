#!/usr/bin/env bash
# Makes the Windows packages from the build folder and tries them as a Windows user would,
# under Wine: the portable zip's contents; then, from the 64-bit build, the one installer on a
# 64-bit Windows, run silently, the installed program started (and, while it runs, the
# installer and the uninstaller refusing to touch it), the installer run again over the
# installation, and the uninstaller run silently; and last the same installer on a 32-bit
# Windows, which must get the 32-bit program. The installer is a 32-bit program: without
# Debian's wine32 its part ends with 77, skipped.
# usage: check_windows_packages.sh BUILD_DIR WINE_ROOT VERSION NUMERIC_VERSION win64|win32 \
#          [X86_KAVONI.EXE]   (the 32-bit program that the 64-bit build's installer holds)
set -euo pipefail
build=$1
wine_root=$2
version=$3
numeric_version=$4
architecture=$5
x86_program=${6:-}
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../scripts/lib/xsession.sh"
source "$here/../../scripts/lib/xdo.sh"
source "$here/../../scripts/lib/wine.sh"
wine_use_root "$wine_root"
out=$(mktemp -d)
app_pid=
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
  wine_stop_server
  xsession_stop
  rm -rf "$out"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

programs="$WINEPREFIX/drive_c/Program Files/Kavoni"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kavoni.lnk"
desktop_shortcut="$WINEPREFIX/drive_c/users/Public/Desktop/Kavoni.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kavoni'

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; fail "cpack failed"; }
zip=$out/Kavoni-$version-$architecture.zip
setup=$out/Kavoni-$version-setup.exe
if [[ $architecture == win64 ]]; then
  [[ -f $zip && -f $setup ]] || fail "cpack made: $(ls "$out")"
else
  [[ -f $zip && ! -e $setup ]] || fail "cpack made: $(ls "$out")"
fi

echo "== The portable zip"
/usr/bin/python3 - "$zip" "$build/Kavoni.exe" "$version" "$architecture" <<'PYTHON' ||
import sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
names = sorted(archive.namelist())
folder = f"Kavoni-{sys.argv[3]}-{sys.argv[4]}/"
assert names == [folder + "Kavoni.exe", folder + "LICENSE.txt", folder + "README.txt"], names
assert archive.read(folder + "Kavoni.exe") == open(sys.argv[2], "rb").read(), "another Kavoni.exe"
readme = archive.read(folder + "README.txt")
assert readme.count(b"\n") > 10 and readme.count(b"\n") == readme.count(b"\r\n"), "not CR LF"
assert b"Make Sprite" in readme and b".db %00011000" in readme, "the README lacks its content"
bits = b"64-bit" if sys.argv[4] == "win64" else b"32-bit"
assert b"is the " + bits + b" program" in readme and b"Windows 7 SP1" in readme, \
    "the README does not say which program it is and where it runs"
license = archive.read(folder + "LICENSE.txt")
assert license.startswith(b"MIT License\r\n") and b"\n" not in license.replace(b"\r\n", b""), \
    "the license is not the MIT license in CR LF"
print(", ".join(names))
PYTHON
  fail "the zip is not as it should be"

if [[ $architecture != win64 ]]; then
  exit 0
fi
[[ -f $x86_program ]] || fail "no 32-bit Kavoni.exe at '$x86_program' for the installer"
if ! wine_has_32bit; then
  echo "SKIPPED: the installer is a 32-bit program, and Debian's wine32 (i386) is not installed"
  exit 77
fi

echo "== The installer's own record"
/usr/bin/python3 "$here/check_exe.py" --installer "$version" "$numeric_version" "$setup" || fail "the installer's record"

echo "== Installing silently"
wine_stop_server
wine "$setup" /S || fail "the installer failed"
wine_wait
cmp "$build/Kavoni.exe" "$programs/Kavoni.exe" || fail "Program Files holds another Kavoni.exe"
[[ -f $programs/README.txt && -f $programs/LICENSE.txt && -f $programs/Uninstall.exe ]] ||
  fail "installed: $(ls "$programs")"
[[ -f $shortcut ]] || fail "no Start-menu shortcut"
# A shortcut spells its target in its link information, as 8-bit text or as UTF-16.
leads_to_program() {
  grep -qaF 'C:\Program Files\Kavoni\Kavoni.exe' "$1" ||
    iconv -f UTF-16LE -t UTF-8 "$1" 2>/dev/null | grep -qaF 'Program Files\Kavoni\Kavoni.exe'
}
leads_to_program "$shortcut" || fail "the shortcut does not point at the installed program"
# The 64-bit view, where the installer puts the 64-bit program's entry, whichever loader runs.
query() { wine_reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
[[ $(query DisplayName) == Kavoni ]] || fail "DisplayName is '$(query DisplayName)'"
[[ $(query DisplayVersion) == "$version" ]] || fail "DisplayVersion is '$(query DisplayVersion)'"
[[ -n $(query Publisher) && -n $(query DisplayIcon) ]] || fail "no publisher or icon in the entry"
[[ $(query InstallLocation) == 'C:\Program Files\Kavoni' ]] || fail "InstallLocation is '$(query InstallLocation)'"
[[ ! -e $desktop_shortcut ]] || fail "a desktop shortcut nobody asked for"
wine reg query "$key" /reg:32 >/dev/null 2>&1 && fail "an entry in the 32-bit view of the registry too"
[[ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/Kavoni" ]] || fail "a Kavoni in Program Files (x86)"
echo "the 64-bit Kavoni.exe, the shortcut and the Apps & features entry are in place"

echo "== Starting the installed program"
wine_stop_server
xsession_start "$out"
wine 'C:\Program Files\Kavoni\Kavoni.exe' >"$out/program.log" 2>&1 &
app_pid=$!
window=$(xdo_wait_for_window Kavoni) || fail "the installed program showed no window"
# While it runs, a silent install or uninstall stops at once with exit code 2, having touched
# nothing. The uninstaller is run in place (_?=), as a caller that waits for it must. NSIS
# reads _?= only unquoted, and wine quotes an argument that holds a space, so the folder goes
# in two arguments through cmd, which passes on its command line as it is.
before=$(cd "$programs" && sha256sum -- * && wine_reg query "$key" | tr -d '\r' | sort)
status=0
wine "$setup" /S || status=$?
[[ $status -eq 2 ]] || fail "the installer, with Kavoni running, ended with $status, not 2"
status=0
wine cmd /c 'C:\Program Files\Kavoni\Uninstall.exe' /S '_?=C:\Program' 'Files\Kavoni' || status=$?
[[ $status -eq 2 ]] || fail "the uninstaller, with Kavoni running, ended with $status, not 2"
[[ $(cd "$programs" && sha256sum -- * && wine_reg query "$key" | tr -d '\r' | sort) == "$before" ]] ||
  fail "the installation changed while Kavoni was running"
echo "with it running, the installer and the uninstaller stopped with exit code 2"
# Wine takes keys for a new window only once it has activated it.
sleep 1
status=0
xdo_close_and_wait "$window" "$app_pid" || status=$?
app_pid=
[[ $status -eq 0 ]] || fail "the installed program did not end with status 0 ($status)"
xsession_stop
wine_wait
echo "its window opened, and closing it ended it"

echo "== Installing over the installation"
# What an earlier version left that this one does not write must go: here a value in the
# Apps & features entry. A desktop shortcut that the earlier one had is made again.
wine_reg add "$key" /v Leftover /d earlier /f >/dev/null || fail "reg add failed"
printf 'an earlier shortcut' >"$desktop_shortcut"
wine "$setup" /S || fail "the installer failed over the installation"
wine_wait
wine_reg query "$key" /v Leftover >/dev/null 2>&1 && fail "the earlier installation was not removed first"
cmp "$build/Kavoni.exe" "$programs/Kavoni.exe" || fail "Program Files holds another Kavoni.exe"
[[ $(query InstallLocation) == 'C:\Program Files\Kavoni' ]] || fail "InstallLocation is '$(query InstallLocation)'"
leads_to_program "$desktop_shortcut" || fail "the desktop shortcut was not made again"
echo "the earlier installation went first, and its desktop shortcut came back"

# Runs the installation's uninstaller silently and sees the folder and the entry go.
uninstall_silently() {
  wine "$programs/Uninstall.exe" /S || fail "the uninstaller failed"
  # The uninstaller runs on from a copy of itself, so the folder goes a moment later.
  for _ in $(seq 200); do
    [[ -e $programs ]] || break
    sleep 0.1
  done
  wine_wait
  [[ ! -e $programs ]] || fail "Program Files still holds: $(ls -A "$programs")"
  if wine_reg query "$key" >/dev/null 2>&1; then
    fail "the Apps & features entry is still there"
  fi
}

echo "== Removing it silently"
uninstall_silently
[[ ! -e $shortcut && ! -e $desktop_shortcut ]] || fail "a shortcut is still there"
echo "the folder, the shortcut and the entry are gone"

echo "== The installer on a 32-bit Windows"
wine_stop_server
# Silently, as before the program was started: no display, whose server has gone.
unset DISPLAY
# The new prefix's from here on, so that its server is the one ended on the way out.
wine_use_root "$out/wine32"
KAVONI_WINE_ARCH=win32 bash "$here/../wine/make_prefix.sh" "$out/wine32" >"$out/prefix32.log" 2>&1 ||
  { cat "$out/prefix32.log" >&2; fail "no 32-bit prefix"; }
programs="$WINEPREFIX/drive_c/Program Files/Kavoni"
wine "$setup" /S || fail "the installer failed on a 32-bit Windows"
wine_wait
cmp "$x86_program" "$programs/Kavoni.exe" || fail "Program Files holds another Kavoni.exe than the 32-bit one"
[[ $(query DisplayName) == Kavoni ]] || fail "DisplayName is '$(query DisplayName)'"
[[ $(query InstallLocation) == 'C:\Program Files\Kavoni' ]] || fail "InstallLocation is '$(query InstallLocation)'"
uninstall_silently
echo "the 32-bit Kavoni.exe went to Program Files, with its entry, and went again"

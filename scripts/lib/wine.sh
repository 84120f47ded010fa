# Runs Windows programs under Wine in one of the project's prefixes. Sourced by the Windows
# tests and the benchmark.

# Debian keeps the server and the loaders out of PATH. `wine` picks the 32-bit loader where
# Debian's wine32 is installed, the 64-bit one otherwise, and Wine's own programs (reg, cmd)
# then run with the loader's width and see its view of the registry: a test that means one
# view names it (wine_reg).
wine_server=/usr/lib/wine/wineserver
wine_loader32=/usr/lib/wine/wine
wine_loader64=/usr/lib/wine/wine64

# Uses the prefix in $1/prefix, whose Desktop is $1/home/Desktop, with Wine's own messages off.
# Wine takes the ANSI code page from the Unix locale, and spells file names on the Unix side in
# its character set: C.UTF-8, there on every Debian machine, gives the Western European code
# page (1252) that the tests expect, and file names in UTF-8, whatever the caller's locale.
wine_use_root() {
  export WINEPREFIX=$1/prefix HOME=$1/home WINEDEBUG=-all LC_ALL=C.UTF-8
}

# Whether 32-bit Windows programs can run here: Debian's wine32 (i386) is installed.
wine_has_32bit() {
  [[ -x $wine_loader32 ]]
}

# The machine a Windows program is built for, from its PE header: 14c for 32-bit x86, 8664
# for x86-64.
wine_pe_machine() {
  local offset
  offset=$(od -An -tu4 -j 60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j $((offset + 4)) -N2 "$1" | tr -d ' '
}

# Whether the prefix is a 64-bit Windows, with 32-bit programs on the side, or a 32-bit one.
wine_prefix_is_64bit() {
  [[ -d $WINEPREFIX/drive_c/windows/syswow64 ]]
}

# reg.exe on the prefix's own registry: the 64-bit view on a 64-bit prefix, whichever loader
# runs it (a 32-bit reg.exe would see the 32-bit view there), and the only one on a 32-bit one.
wine_reg() {
  if wine_prefix_is_64bit; then
    wine reg "$@" /reg:64
  else
    wine reg "$@"
  fi
}

# Ends the prefix's server and waits for it. A server started on no display, or another one,
# would keep the next program's windows off this one.
wine_stop_server() {
  "$wine_server" -k 2>/dev/null || true
  "$wine_server" -w 2>/dev/null || true
}

# Waits for the programs of the prefix, and its server, to finish by themselves.
wine_wait() {
  "$wine_server" -w 2>/dev/null || true
}

# Runs Windows programs under Wine in one of the project's prefixes. Sourced by the Windows
# tests and the benchmark.

# Debian keeps the server out of PATH.
wine_server=/usr/lib/wine/wineserver

# Uses the prefix in $1/prefix, whose Desktop is $1/home/Desktop, with Wine's own messages off.
# Wine takes the ANSI code page from the Unix locale, and spells file names on the Unix side in
# its character set: C.UTF-8, there on every Debian machine, gives the Western European code
# page (1252) that the tests expect, and file names in UTF-8, whatever the caller's locale.
wine_use_root() {
  export WINEPREFIX=$1/prefix HOME=$1/home WINEDEBUG=-all LC_ALL=C.UTF-8
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

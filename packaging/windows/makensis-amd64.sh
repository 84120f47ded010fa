#!/bin/sh
# CPack's NSIS generator runs this in place of makensis: the installer is built for 64-bit
# Windows (NSIS's amd64-unicode target), since Kavoni.exe is a 64-bit program.
exec makensis "-XTarget amd64-unicode" "$@"

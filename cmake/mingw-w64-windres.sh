#!/usr/bin/env bash
# windres for the MinGW-w64 toolchain file. The resource script is preprocessed here, by the
# compiler called with its arguments as they are, and windres reads the result through cat:
# windres itself runs its preprocessor through the shell with the paths in single quotes, which
# breaks on a folder whose name holds an apostrophe.
# usage, as CMake calls windres:
#   mingw-w64-windres.sh --kavoni-triplet=TRIPLET [-O coff] [-DNAME]... [-I DIR]... SOURCE OBJECT
# TRIPLET names the target's tools (x86_64-w64-mingw32, i686-w64-mingw32).
set -euo pipefail
triplet=x86_64-w64-mingw32
for argument in "$@"; do
  if [[ $argument == --kavoni-triplet=* ]]; then triplet=${argument#*=}; fi
done
preprocessor=("$triplet-gcc-win32" -E -xc -DRC_INVOKED)
windres=("$triplet-windres" --preprocessor=cat)
while (($# > 2)); do
  case $1 in
    --kavoni-triplet=*) shift ;;
    -I) preprocessor+=("$1" "$2"); shift 2 ;;
    -D* | -I* | -U*) preprocessor+=("$1"); shift ;;
    --preprocessor-arg=*) preprocessor+=("${1#*=}"); shift ;;
    -O) windres+=("$1" "$2"); shift 2 ;;
    *) windres+=("$1"); shift ;;
  esac
done
preprocessed=$(mktemp --suffix=.rc)
trap 'rm -f "$preprocessed"' EXIT
"${preprocessor[@]}" "$1" -o "$preprocessed"
"${windres[@]}" -i "$preprocessed" -o "$2"

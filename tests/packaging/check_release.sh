#!/usr/bin/env bash
# Checks that the release rebuilds to the same bytes: two clones of the same commit, in folders
# of different names and depths, released a few seconds apart, must give identical dist/
# folders, whose time stamps are all SOURCE_DATE_EPOCH's and which hold no build path.
# usage: check_release.sh   (from the project root; the commit checked is HEAD)
set -euo pipefail
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

first=$work/one
second=$work/a/much/deeper/kavoni-two
mkdir -p "$(dirname "$second")"
for clone in "$first" "$second"; do
  git clone -q --no-hardlinks "$root" "$clone"
  (cd "$clone" && scripts/release >"$clone.log" 2>&1) || { cat "$clone.log" >&2; fail "scripts/release failed in $clone"; }
  sleep 2
done

(cd "$first/dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
for file in "$first"/dist/*; do
  cmp "$file" "$second/dist/$(basename "$file")" ||
    fail "$(basename "$file") differs between the two builds"
done
[[ $(ls "$first/dist") == $(ls "$second/dist") ]] || fail "the two dist folders hold other files"

epoch=$(git -C "$first" log -1 --format=%ct)
/usr/bin/python3 - "$epoch" "$first"/dist/*.exe "$first/build-release-windows/Kavoni.exe" <<'PYTHON' ||
import sys, pefile
epoch = int(sys.argv[1])
for path in sys.argv[2:]:
    stamp = pefile.PE(path, fast_load=True).FILE_HEADER.TimeDateStamp
    assert stamp == epoch, f"{path}: PE time stamp {stamp}, not {epoch}"
PYTHON
  fail "a PE header holds another time"

# No path of either build in any file, looked for in what the packages hold, unpacked.
unpacked=$work/unpacked
mkdir -p "$unpacked"
dpkg-deb -x "$second"/dist/*.deb "$unpacked/deb"
(cd "$unpacked" && /usr/bin/python3 -m zipfile -e "$second"/dist/*.zip zip)
if grep -rlaF -e "$second" -e "$(basename "$second")" "$unpacked" "$second/dist"; then
  fail "a build path is in the files above"
fi
echo "the release rebuilds to the same bytes: $(cd "$first/dist" && ls | tr '\n' ' ')"

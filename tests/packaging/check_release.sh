#!/usr/bin/env bash
# Checks that the release rebuilds to the same bytes: two clones of the same commit, in folders
# of different names and depths (the second with a space and an apostrophe in its path),
# released a few seconds apart under different umasks and locales, must give identical dist/
# folders, whose time stamps are all SOURCE_DATE_EPOCH's, which hold no build path, and whose
# build information names the commit and the packages' checksums.
# usage: check_release.sh   (from the project root; the commit checked is HEAD)
set -euo pipefail
root=$PWD
source scripts/lib/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

first=$work/one
second="$work/a/much/deeper/kavoni's second clone"
mkdir -p "$(dirname "$second")"
kavoni_git clone -q --no-hardlinks "$root" "$first"
kavoni_git clone -q --no-hardlinks "$root" "$second"
# The first with no locale at all and the usual umask, the second in another language and with
# a umask that lets nobody else read.
(cd "$first" && umask 022 && env -u LC_ALL -u LANG -u LANGUAGE scripts/release) \
  >"$first.log" 2>&1 || { cat "$first.log" >&2; fail "scripts/release failed in $first"; }
sleep 2
(cd "$second" && umask 077 && env -u LC_ALL LANG=ru_RU.UTF-8 LANGUAGE=ru scripts/release) \
  >"$second.log" 2>&1 || { cat "$second.log" >&2; fail "scripts/release failed in $second"; }

(cd "$first/dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
for file in "$first"/dist/*; do
  cmp "$file" "$second/dist/$(basename "$file")" ||
    fail "$(basename "$file") differs between the two builds"
done
[[ $(ls "$first/dist") == $(ls "$second/dist") ]] || fail "the two dist folders hold other files"

buildinfo=$(find "$first/dist" -name '*.buildinfo')
[[ -n $buildinfo ]] || fail "dist/ holds no build information"
grep -qx "Git-Commit: $(kavoni_git -C "$root" rev-parse HEAD)" "$buildinfo" ||
  fail "the build information names another commit"
while read -r sum file; do
  grep -qx " $sum $(stat -c %s "$first/dist/$file") $file" "$buildinfo" ||
    fail "the build information lacks the checksum and size of $file"
done <"$first/dist/SHA256SUMS"

# The page: one file, small, and naming no address anywhere that a browser could be sent to.
page=$(find "$first/dist" -name 'kavoni-*-web.html')
[[ -n $page ]] || fail "dist/ holds no page"
(($(stat -c %s "$page") <= 100000)) || fail "the page is larger than 100 KB"
if grep -aoE '(https?|wss?|ftp)://[^"<>[:space:]]*' "$page"; then
  fail "the page names the addresses above"
fi

epoch=$(git -C "$first" log -1 --format=%ct)
/usr/bin/python3 - "$epoch" "$first"/dist/*.exe "$first"/build-release-windows{,-x86}/Kavoni.exe <<'PYTHON' ||
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
for zip in "$second"/dist/*.zip; do
  (cd "$unpacked" && /usr/bin/python3 -m zipfile -e "$zip" zip)
done
if grep -rlaF -e "$second" -e "$(basename "$second")" "$unpacked" "$second/dist"; then
  fail "a build path is in the files above"
fi
echo "the release rebuilds to the same bytes: $(cd "$first/dist" && ls | tr '\n' ' ')"

#!/usr/bin/env bash
# Runs the core's tests (saving above all) once more as an ordinary user, "nobody", when the
# suite runs as root, as it does in CI: root may write what users may not, so the failures and
# the writes in place that users meet are shown only so. Exits 77 (skipped) where it cannot.
# usage: as_ordinary_user.sh SPRITE_TESTS
set -euo pipefail
tests=$1
if [[ $(id -u) -ne 0 ]]; then
  echo "already an ordinary user: the suite's own run is that run"
  exit 77
fi
if ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1; then
  echo "setpriv or the user nobody is missing"
  exit 77
fi
# A copy that nobody may run, wherever the build lies (a home folder of mode 0700, say).
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
chmod 755 "$copy"
install -m 755 "$tests" "$copy/sprite_tests"
cd /tmp
setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -i PATH="$PATH" HOME=/nonexistent TMPDIR=/tmp "$copy/sprite_tests" --gtest_brief=1

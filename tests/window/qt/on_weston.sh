#!/usr/bin/env bash
# Runs a command on a private headless Weston: a Wayland desktop with no X server and no
# screen, as a Wayland-only session is. Skipped (77) when Weston is missing or does not start.
#
# usage: on_weston.sh COMMAND [ARGUMENT...]
set -euo pipefail

if ! command -v weston >/dev/null; then
  echo "skipped: weston is not installed"
  exit 77
fi
runtime=$(mktemp -d)
weston_pid=
cleanup() {
  [[ -n $weston_pid ]] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$runtime
unset DISPLAY
weston --backend=headless-backend.so --socket=kavoni --idle-time=0 --no-config \
  >"$runtime/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 200); do
  [[ -S $runtime/kavoni ]] && break
  kill -0 "$weston_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ ! -S $runtime/kavoni ]]; then
  echo "skipped: weston did not start: $(tail -n 5 "$runtime/weston.log")"
  exit 77
fi
WAYLAND_DISPLAY=kavoni "$@"

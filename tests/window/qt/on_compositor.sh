#!/usr/bin/env bash
# Runs a command on a private headless Wayland compositor, with no X server and no screen, as a
# Wayland-only session is. Skipped (77) when the compositor is missing or does not start.
#
# usage: on_compositor.sh COMPOSITOR WESTON_SEAT_MODULE COMMAND [ARGUMENT...]
#
# COMPOSITOR is one of:
#   weston-desktop  Weston's desktop shell, with a seat that the tests drive (weston_seat.c)
#   weston-kiosk    Weston's kiosk shell, which makes every window full screen, with that seat
#   mutter          mutter's headless Wayland compositor, in a D-Bus session of its own
#   kwin            kwin_wayland's virtual backend, in a D-Bus session of its own
# The command finds the compositor's name in KAVONI_COMPOSITOR, and on Weston the FIFO that the
# seat reads its keys and clicks from in KAVONI_WESTON_INPUT.
set -euo pipefail

compositor=$1
seat_module=$2
shift 2

skip() {
  echo "skipped: $*"
  exit 77
}

case $compositor in
  weston-desktop | weston-kiosk) binary=weston ;;
  mutter) binary=mutter ;;
  kwin) binary=kwin_wayland ;;
  *)
    echo "unknown compositor $compositor" >&2
    exit 2
    ;;
esac
command -v "$binary" >/dev/null || skip "$binary is not installed"
# mutter and KWin each want a session bus of their own.
if [[ $compositor == mutter || $compositor == kwin ]] && [[ -z ${KAVONI_OWN_BUS:-} ]]; then
  command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed"
  KAVONI_OWN_BUS=1 exec dbus-run-session -- bash "${BASH_SOURCE[0]}" "$compositor" \
    "$seat_module" "$@"
fi

runtime=$(mktemp -d)
compositor_pid=
cleanup() {
  if [[ -n $compositor_pid ]]; then
    kill "$compositor_pid" 2>/dev/null || true
    wait "$compositor_pid" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$runtime KAVONI_COMPOSITOR=$compositor
unset DISPLAY WAYLAND_DISPLAY
log=$runtime/compositor.log
case $compositor in
  weston-*)
    export KAVONI_WESTON_INPUT=$runtime/input
    mkfifo "$KAVONI_WESTON_INPUT"
    weston --backend=headless-backend.so --socket=kavoni --idle-time=0 --no-config \
      --shell="${compositor#weston-}-shell.so" --modules="$seat_module" >"$log" 2>&1 &
    ;;
  mutter)
    mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 --wayland-display=kavoni \
      >"$log" 2>&1 &
    ;;
  kwin)
    # The installed binary carries file capabilities, which the kernel refuses to honour for
    # an ordinary user's session; a copy carries none.
    cp "$(command -v kwin_wayland)" "$runtime/kwin_wayland"
    KWIN_COMPOSE=Q "$runtime/kwin_wayland" --virtual --no-lockscreen --socket kavoni \
      --width 1024 --height 768 >"$log" 2>&1 &
    ;;
esac
compositor_pid=$!
for _ in $(seq 200); do
  [[ -S $runtime/kavoni ]] && break
  kill -0 "$compositor_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ ! -S $runtime/kavoni ]] || ! kill -0 "$compositor_pid" 2>/dev/null; then
  skip "$compositor did not start: $(tail -n 5 "$log")"
fi
status=0
WAYLAND_DISPLAY=kavoni "$@" || status=$?
if ((status != 0)) && ! kill -0 "$compositor_pid" 2>/dev/null; then
  echo "the compositor ended during the run: $(tail -n 5 "$log")" >&2
fi
exit "$status"

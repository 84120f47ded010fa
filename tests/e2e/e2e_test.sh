#!/usr/bin/env bash
# Starts the real program on a private X server and uses it as a person would: keyboard and
# mouse through xdotool, then checks the bytes of the file it saved.
#
# usage: e2e_test.sh PATH_TO_KAVONI PATH_TO_CLOSE_WINDOW
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xdo.sh"

kavoni=$1
close_window=$2
work=$(mktemp -d)
xvfb_pid=
app_pid=

cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits for the window titled exactly $1 and prints its id, or fails the test.
wait_for_window() { xdo_wait_for_window "$1" || fail "no window titled '$1' appeared"; }
wait_until_gone() { xdo_wait_until_gone "$1" || fail "the window titled '$1' did not close"; }

# Types into the save dialog's file name box, replacing what is there, and presses Enter.
save_as() {
  local dialog
  dialog=$(wait_for_window "Save Sprite")
  xdotool windowfocus --sync "$dialog"
  xdotool key ctrl+a
  xdotool type --delay 5 "$1"
  xdotool key Return
  wait_until_gone "Save Sprite"
}

# A private X server on a free display.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.05
done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$work/home" "$work/out"
(cd "$work" && HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORMTHEME= exec "$kavoni") >"$work/kavoni.log" 2>&1 &
app_pid=$!

window=$(wait_for_window Kavoni)
xdotool windowfocus --sync "$window"

# Focus starts on the top-left cell, so Space ticks it.
xdotool key space
# The middle 2 x 2 block by mouse; cell 9 clicked twice ends up clear.
for cell in 27 28 35 36 9 9; do
  xdo_click_cell "$window" "$cell"
done
xdo_click_name_box "$window"
xdotool type --delay 5 "ball"

echo "== Saving to a new file"
xdo_click_button "$window"
save_as "$work/out/ball"

expected="$work/expected.txt"
{
  printf 'ball\r\n'
  printf '   .db %%10000000\r\n'
  printf '   .db %%00000000\r\n'
  printf '   .db %%00000000\r\n'
  printf '   .db %%00011000\r\n'
  printf '   .db %%00011000\r\n'
  printf '   .db %%00000000\r\n'
  printf '   .db %%00000000\r\n'
  printf '   .db %%00000000\r\n'
} >"$expected"
[[ -f $work/out/ball.txt ]] || fail "no ball.txt was written; the folder holds: $(ls -A "$work/out")"
cmp "$expected" "$work/out/ball.txt" || fail "ball.txt differs from the expected bytes"
[[ $(stat -c %s "$work/out/ball.txt") -eq 150 ]] || fail "ball.txt is not 150 bytes"
[[ -z $(ls -A "$work/home") ]] || fail "the program wrote into the home folder"
echo "ball.txt holds the expected 150 bytes"

echo "== Saving into a folder that does not exist"
xdo_click_button "$window"
save_as "$work/missing/sprite"
error_box=$(wait_for_window Error)
xdotool windowfocus --sync "$error_box"
xdotool key Return
wait_until_gone Error
[[ ! -e $work/missing ]] || fail "something was created for the failed save"
echo "the box titled Error was shown and dismissed; nothing was created"

echo "== Closing the window"
kill -0 "$app_pid" 2>/dev/null || fail "the program is no longer running"
"$close_window" "$window"
status=0
for _ in $(seq 200); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "$app_pid" 2>/dev/null; then
  fail "the program did not end when its window was closed"
fi
wait "$app_pid" || status=$?
app_pid=
[[ $status -eq 0 ]] || fail "the program exited with status $status: $(cat "$work/kavoni.log")"
echo "the program ended with status 0"

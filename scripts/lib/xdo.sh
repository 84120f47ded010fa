# Drives the Kavoni window with xdotool as a person would. Sourced by the end-to-end test and
# by scripts/screenshot; expects DISPLAY to name the X server the program runs on.
#
# Positions are in the window's own pixels: the cells are 17 pixels square at a 16-pixel
# pitch from 48 pixels down, the name box is at y 24 to 43 and the button at y 184 to 289.

# Waits up to 10 s for a visible window titled exactly $1 and prints its id; fails otherwise.
xdo_wait_for_window() {
  local id
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    if [[ -n $id ]]; then
      echo "$id"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# Waits up to 10 s for every visible window titled exactly $1 to close; fails otherwise.
xdo_wait_until_gone() {
  for _ in $(seq 200); do
    if ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# Clicks the middle of grid cell $2 (0 to 63, row by row) in window $1.
xdo_click_cell() {
  xdotool mousemove --window "$1" $((16 * ($2 % 8) + 8)) $((48 + 16 * ($2 / 8) + 8)) click 1
}

xdo_click_name_box() { xdotool mousemove --window "$1" 65 33 click 1; }
xdo_click_button() { xdotool mousemove --window "$1" 65 236 click 1; }

# Closes window $1 as a user does, with Alt+F4 through the window manager, and waits up to 10 s
# for process $2 to end. Prints nothing; returns the process's exit status, or 124 if it
# would not end.
xdo_close_and_wait() {
  xdotool windowactivate --sync "$1" key alt+F4
  for _ in $(seq 200); do
    kill -0 "$2" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$2" 2>/dev/null; then
    return 124
  fi
  local status=0
  wait "$2" || status=$?
  return "$status"
}

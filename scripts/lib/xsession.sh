# A private X session for driving windows as a person would: Xvfb on a free display, with
# openbox as the window manager. Sourced; xsession_start exports DISPLAY, xsession_stop ends
# both. Expects a scratch folder in $1 for the server's logs.

xsession_pids=()

xsession_start() {
  local scratch=$1
  # -noreset: without it the server resets, keymap included, whenever its last client leaves.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$scratch/display" \
    2>"$scratch/xvfb.log" &
  xsession_pids+=($!)
  local _
  for _ in $(seq 200); do
    [[ -s $scratch/display ]] && break
    sleep 0.05
  done
  if [[ ! -s $scratch/display ]]; then
    echo "Xvfb did not start: $(cat "$scratch/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$scratch/display")"
  openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
  xsession_pids+=($!)
  # The window manager is up once it has claimed the screen.
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  echo "openbox did not start: $(cat "$scratch/openbox.log")" >&2
  return 1
}

xsession_stop() {
  local pid
  for pid in "${xsession_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${xsession_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  xsession_pids=()
}

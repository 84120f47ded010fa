#!/usr/bin/env bash
# Starts the real program on a private X session under openbox and uses it as a person would,
# with the keyboard, the mouse and the clipboard through xdotool and xclip, then checks the
# bytes of the files it saved. The same steps drive both windows: the Qt one, and Kavoni.exe
# under Wine, which are X windows of the same geometry.
#
# usage: e2e_test.sh qt   KAVONI      CONTACT_EMAIL LAUNCHER.desktop   (in a D-Bus session)
#        e2e_test.sh wine KAVONI.EXE  CONTACT_EMAIL WINE_ROOT BOX_TEXT.EXE MSAA_CELLS.EXE
#                         NAME_BOX.EXE
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../../scripts/lib/xdo.sh"
source "$here/../../scripts/lib/xsession.sh"
source "$here/../../scripts/lib/wine.sh"

platform=$1
program=$2
email=$3
work=$(mktemp -d)
app_pid=

cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
  [[ $platform == wine ]] && wine_stop_server
  xsession_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What differs between the two windows. Everything else below is shared.
case $platform in
  qt)
    launcher=$4
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work
    # A German desktop: Qt's own texts follow it, the program's own stay as they are. Qt reads
    # the language from these variables itself, so the locale need not be installed.
    unset LC_ALL LC_MESSAGES LANGUAGE
    export LANG=de_DE.UTF-8
    # Qt's own file dialog, whatever the desktop would pick.
    export QT_QPA_PLATFORMTHEME=
    desktop=$HOME/Desktop
    separator=/
    # The window and the dialog take keys as soon as they show.
    settles=0.2
    # The text of a box is read as a screen reader reads it, over AT-SPI; the bus must be up
    # before the program starts for Qt to join it.
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    # The bus's launcher is started by D-Bus, in D-Bus's own environment: without this it puts
    # its socket in the caller's home, where another run of the test can remove it.
    dbus-update-activation-environment HOME XDG_RUNTIME_DIR XDG_CONFIG_HOME
    /usr/bin/python3 "$here/atspi.py" start-bus
    start_program() { "$program"; }
    atspi() { /usr/bin/python3 "$here/atspi.py" "$@"; }
    box_text() { atspi box-text "$1"; }
    # The name goes out in the locale's encoding, UTF-8, whatever it holds.
    name_bytes() { printf '%s' "$1"; }
    ;;
  wine)
    wine_root=$4
    box_text_exe=$5
    msaa_cells_exe=$6
    name_box_exe=$7
    wine_use_root "$wine_root"
    if [[ $(wine_pe_machine "$program") == 014c ]] && ! wine_has_32bit; then
      echo "SKIPPED: a 32-bit Kavoni.exe needs Debian's wine32 (i386), which is not installed"
      exit 77
    fi
    desktop=$HOME/Desktop
    separator='\'
    # Wine's dialog takes keys only once it has listed its folder, and its window only once
    # Wine has activated it.
    settles=1
    start_program() { wine "$program"; }
    box_text() { wine "$box_text_exe" "$1"; }
    # The ANSI code page: Western European (1252) for an English locale.
    name_bytes() { printf '%s' "$1" | iconv -f UTF-8 -t CP1252; }
    ;;
  *)
    fail "unknown platform $platform"
    ;;
esac

wait_for_window() { xdo_wait_for_window "$1" || fail "no window titled '$1' appeared"; }
wait_until_gone() { xdo_wait_until_gone "$1" || fail "the window titled '$1' did not close"; }

# Puts text on the clipboard and pastes it over whatever the focused box holds.
paste() {
  printf '%s' "$1" | xclip -selection clipboard
  # xclip goes into the background before it claims the clipboard, so on a busy machine a key
  # sent at once would paste what the clipboard held before.
  local _
  for _ in $(seq 200); do
    [[ $(xclip -o -selection clipboard 2>/dev/null) == "$1" ]] && break
    sleep 0.05
  done
  xdotool key ctrl+a ctrl+v
}

# Waits for the save dialog and answers it: $1 is "type NAME", "paste NAME", "enter" (take the
# name it shows) or "cancel".
answer_dialog() {
  local dialog
  dialog=$(wait_for_window "Save Sprite")
  xdotool windowactivate --sync "$dialog"
  sleep "$settles"
  case $1 in
    type) xdotool key ctrl+a && xdotool type --delay 10 "$2" ;;
    paste) paste "$2" ;;
  esac
  if [[ $1 == cancel ]]; then
    xdotool key Escape
  else
    xdotool key Return
  fi
  wait_until_gone "Save Sprite"
}

# The bytes of a sprite: the name, then rows given as eight-digit strings.
sprite() {
  local name=$1 row
  shift
  name_bytes "$name"
  printf '\r\n'
  for row in "$@"; do
    printf '   .db %%%s\r\n' "$row"
  done
}

# Waits up to 5 s for the file to hold the sprite: the dialog is gone a moment before the
# program has written the file.
expect_file() {
  local file=$1
  shift
  sprite "$@" >"$work/expected"
  for _ in $(seq 100); do
    cmp -s "$work/expected" "$file" && return 0
    sleep 0.05
  done
  [[ -f $file ]] || fail "$(basename "$file") was not written; $desktop holds: $(ls -A "$desktop")"
  cmp "$work/expected" "$file" || fail "$(basename "$file") differs from the expected bytes"
}

expect_no_box() {
  sleep 0.5
  if xdotool search --onlyvisible --name '^Error$' >/dev/null 2>&1; then
    fail "a box titled Error appeared"
  fi
}

if [[ $platform == qt ]]; then
  echo "== Without a display"
  # The environment the program starts in, and what it must do: end at once with status 1 and
  # the one line, or run (on Qt's offscreen platform, named outright) until it is stopped.
  while IFS='|' read -r environment expected; do
    status=0
    # shellcheck disable=SC2086 # one variable a word
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $environment \
      timeout 2 "$program" >"$work/out" 2>"$work/err" || status=$?
    if [[ $expected == exits ]]; then
      [[ $status -eq 1 && $(cat "$work/err") == "kavoni: no display could be opened" &&
        ! -s $work/out ]] ||
        fail "with '$environment' the program ended with status $status: $(cat "$work/err")"
    else
      [[ $status -eq 124 ]] || fail "with '$environment' the program ended with status $status"
    fi
    echo "  '$environment': $expected"
  done <<'ENVIRONMENTS'
|exits
DISPLAY=:65535|exits
WAYLAND_DISPLAY=no-compositor|exits
QT_QPA_PLATFORM=offscreen|runs
ENVIRONMENTS
fi

mkdir -p "$desktop"
rm -rf "${desktop:?}"/*
xsession_start "$work"
if [[ $platform == wine ]]; then
  wine_stop_server
fi
(cd "$work" && start_program) >"$work/program.log" 2>&1 &
app_pid=$!
window=$(wait_for_window Kavoni)
xdotool windowactivate --sync "$window"
sleep "$settles"

echo "== What the window tells the desktop"
# Motif hints, as window managers read them: flags, functions, decorations. One fixed size:
# move, minimise and close, and no resizing or maximising offered.
read -r flags functions decorations _ <<<"$(xprop -id "$window" _MOTIF_WM_HINTS |
  sed 's/.*= //; s/,/ /g')"
(((flags & 3) == 3 && functions == 0x2c && (decorations & 0x44) == 0)) ||
  fail "the window offers more than move, minimise and close: $flags $functions $decorations"
if [[ $platform == qt ]]; then
  # The window manager draws the title bar on X11: the window is its client area alone, with
  # no title strip of its own.
  size=$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: //p')
  [[ $size == 131x292 ]] || fail "the window is $size, not its 131 x 292 client area"
  # Docks group the window with its launcher by the window's class.
  class=$(xprop -id "$window" WM_CLASS | sed 's/.*", "//; s/"$//')
  [[ $(sed -n 's/^StartupWMClass=//p' "$launcher") == "$class" ]] ||
    fail "the launcher's StartupWMClass does not name the window's class $class"
  # Sharp at high scales: an icon image of 48 pixels or more.
  largest=$(xprop -id "$window" _NET_WM_ICON | sed -n 's/.*Icon (\([0-9]*\) x .*/\1/p' |
    sort -n | tail -n1)
  ((largest >= 48)) || fail "the largest window icon is ${largest:-0} pixels"
  # What a screen reader meets: a frame named Kavoni, 64 named pixels, the button and the
  # labelled name box.
  atspi check-window || fail "the window reads wrongly to a screen reader"
else
  # What an MSAA client, as screen readers are, hears of the 64 cells: their pixel names.
  wine "$msaa_cells_exe" | tr -d '\r' >"$work/msaa" || fail "the cells have no MSAA objects"
  for row in 1 2 3 4 5 6 7 8; do
    for column in 1 2 3 4 5 6 7 8; do
      echo "Pixel row $row, column $column"
    done
  done >"$work/msaa-expected"
  # Once through get_accName, once through IDispatch::Invoke, as scripting clients ask.
  for field in 1 2; do
    cut -d'|' -f$field "$work/msaa" | cmp -s - "$work/msaa-expected" ||
      fail "the cells' MSAA names are not the pixel names: $(head -n 3 "$work/msaa" | tr '\n' ' ')"
  done
  # Wine's oleacc has no proxy for check boxes, so role and ticked state are not its to give;
  # the focus is: on the first cell, and on no other.
  focused=$(cut -d'|' -f4 "$work/msaa" | while read -r state; do echo $(((state & 4) != 0)); done |
    tr -d '\n')
  [[ $focused == 1$(printf '0%.0s' $(seq 63)) ]] || fail "MSAA does not show the focus on the first cell only"
  echo "MSAA: 64 pixel names, the focus on the first; role and state: $(head -n 1 "$work/msaa" | cut -d'|' -f3-)"
fi
echo "it offers move, minimise and close, and reads as it should"

echo "== Drawing with the mouse and saving to a new file on the Desktop"
# Focus starts on the top-left cell, so Space ticks it.
xdotool key space
# The middle 2 x 2 block; cell 9 clicked twice ends up clear.
for cell in 27 28 35 36 9 9; do
  xdo_click_cell "$window" "$cell"
done
if [[ $platform == qt ]]; then
  [[ $(atspi cell-state 27) == checked && $(atspi cell-state 9) == clear ]] ||
    fail "a screen reader does not hear the cells' states"
fi
xdo_click_name_box "$window"
xdotool type --delay 10 "ball"
xdo_click_button "$window"
if [[ $platform == qt ]]; then
  # Qt's own texts in the dialog speak the desktop's language; its title is the program's own.
  dialog_text=$(box_text "Save Sprite")
  grep -qxF "Dateiname:" <<<"$dialog_text" ||
    fail "the dialog does not speak German: $(tr '\n' ' ' <<<"$dialog_text")"
fi
answer_dialog type ball
zero=00000000 middle=00011000
expect_file "$desktop/ball.txt" ball 10000000 $zero $zero $middle $middle $zero $zero $zero
[[ $(stat -c %s "$desktop/ball.txt") -eq 150 ]] || fail "ball.txt is not 150 bytes"
echo "ball.txt holds the expected 150 bytes"

echo "== Saving again: the dialog shows the last file, and the grid is read afresh"
xdo_click_cell "$window" 63
xdo_click_button "$window"
answer_dialog enter
expect_file "$desktop/ball.txt" ball 10000000 $zero $zero $middle $middle $zero $zero 00000001
[[ $(ls -A "$desktop") == ball.txt ]] || fail "the Desktop holds more than ball.txt: $(ls -A "$desktop")"
echo "ball.txt was replaced with the new grid"

echo "== Cancelling the dialog"
xdo_click_button "$window"
answer_dialog cancel
expect_no_box
expect_file "$desktop/ball.txt" ball 10000000 $zero $zero $middle $middle $zero $zero 00000001
[[ $(ls -A "$desktop") == ball.txt ]] || fail "cancelling wrote something: $(ls -A "$desktop")"
echo "nothing was written and nothing was shown"

if [[ $platform == wine ]]; then
  echo "== A name set by another program, line breaks and a tab included"
  # WM_SETTEXT, then EM_REPLACESEL at the end, as UI Automation, dictation and scripts set it.
  wine "$name_box_exe" 'set\r\nby\tmessage' '\r\nend' || fail "the name box was not found"
  xdo_click_button "$window"
  answer_dialog enter
  expect_no_box
  expect_file "$desktop/ball.txt" 'set by message end' \
    10000000 $zero $zero $middle $middle $zero $zero 00000001
  echo "the name arrived on one line"
fi

echo "== The keyboard alone: Tab along the chain, Space on cells, Enter on the button"
# The button kept the focus through the dialog. Tab goes to the name box, whose text it
# selects, then wraps to the first cell and walks the grid row by row to the button.
xdotool windowactivate --sync "$window"
xdotool key Tab
xdotool type --delay 10 "keys"
xdotool key Tab space Tab space
for _ in $(seq 63); do
  xdotool key Tab
done
xdotool key Return
answer_dialog type keys
expect_file "$desktop/keys.txt" keys 01000000 $zero $zero $middle $middle $zero $zero 00000001
echo "keys.txt holds the grid and name entered by keyboard"

echo "== Arrow keys move through the grid, stop at its edges, and tick nothing"
# Shift+Tab takes the focus from the button back to the last cell. Each row: the keys, then
# Space on the cell they lead to, which toggles it.
xdotool key shift+Tab
while IFS='|' read -r keys toggled; do
  # shellcheck disable=SC2086 # one key a word
  xdotool key $keys space
  echo "  $keys -> cell $toggled"
done <<'MOVES'
Right Down|63
Up Up Left|46
Left Left Left Left Left Left Left|40
Up Up Up Up Up Up|0
Tab|1
MOVES
# Back along the chain to the name box, where Left still moves the cursor, then to the button.
xdotool key shift+Tab shift+Tab End Left Left
xdotool type --delay 10 "X"
xdotool key shift+Tab Return
answer_dialog type arrows
expect_file "$desktop/arrows.txt" keXys 10000000 $zero $zero $middle $middle 10000010 $zero $zero
# The same moves, back, leave the grid as the later cases expect it.
xdotool key shift+Tab space Up Up Left space Left Left Left Left Left Left space \
  Up Up Up Up Up space Right space
echo "arrows.txt holds the cells reached by the arrow keys"

# The focused cell shows a mark, and ticking a cell leaves its neighbours as they were: $1 is
# the window, whose cell 1 has the focus, moved there by a key; $2 names the style. The grid is
# left as it was, with the focus on cell 0.
focus_case() {
  local focused unfocused below marked right_after below_after
  local -a before after
  # The keyboard is in use, so focus marks show.
  sleep 0.3
  focused=$(pixels "$1" 1)
  xdotool key Left
  sleep 0.3
  mapfile -t before < <(pixels "$1" 1 8)
  unfocused=${before[0]} below=${before[1]}
  marked=$(pixels differ "$focused" "$unfocused")
  ((marked >= 12)) || fail "$2: the focused cell shows no focus mark: $marked pixels differ"
  # Ticking cell 0 repaints it, and its neighbours to the right and below must look the same.
  xdotool key space
  sleep 0.3
  mapfile -t after < <(pixels "$1" 1 8)
  right_after=${after[0]} below_after=${after[1]}
  [[ $right_after == "$unfocused" ]] ||
    fail "$2: ticking cell 0 changed $(pixels differ "$right_after" "$unfocused") pixels of cell 1"
  [[ $below_after == "$below" ]] ||
    fail "$2: ticking cell 0 changed $(pixels differ "$below_after" "$below") pixels of cell 8"
  xdotool key space
  echo "  $2: the mark changes $marked pixels of a cell; ticking one leaves its neighbours alone"
}
pixels() { /usr/bin/python3 "$here/cell_pixels.py" "$@"; }

if [[ $platform == wine ]]; then
  echo "== The focused cell shows a mark, and no cell paints over its neighbours"
  focus_case "$window" "Win32"
fi

echo "== A pasted name with a line break, saved under a name that is not ASCII"
xdo_click_name_box "$window"
paste $'B\xc3\xa4lle\nzwei'
xdo_click_button "$window"
answer_dialog paste $'b\xc3\xa4llchen'
expect_file "$desktop/"$'b\xc3\xa4llchen.txt' $'B\xc3\xa4lle zwei' \
  01000000 $zero $zero $middle $middle $zero $zero 00000001
echo "the name arrived on one line, in the file named as typed"

echo "== A name with a character that the code page may not hold"
xdo_click_name_box "$window"
paste $'\xe2\x86\x92'
xdo_click_button "$window"
answer_dialog enter
if [[ $platform == wine ]]; then
  # Code page 1252 has no arrow: the save is refused rather than written with a "?".
  wait_for_window Error >/dev/null
  xdotool key Return
  wait_until_gone Error
  expect_file "$desktop/"$'b\xc3\xa4llchen.txt' $'B\xc3\xa4lle zwei' \
    01000000 $zero $zero $middle $middle $zero $zero 00000001
  echo "the name was refused with the box, and the file kept"
else
  expect_no_box
  expect_file "$desktop/"$'b\xc3\xa4llchen.txt' $'\xe2\x86\x92' \
    01000000 $zero $zero $middle $middle $zero $zero 00000001
  echo "the name was written in UTF-8"
fi

echo "== Saving into a folder that does not exist"
xdo_click_button "$window"
answer_dialog type "missing${separator}sprite"
box=$(wait_for_window Error)
xdotool windowactivate --sync "$box"
text=$(box_text Error)
grep -qxF 'Oops!' <<<"$text" || fail "the box does not say Oops!: $text"
grep -qxF "There was a bug. Sorry. Please e-mail it to me at $email." <<<"$text" ||
  fail "the box does not give the address: $text"
xdotool key Return
wait_until_gone Error
[[ ! -e $desktop/missing ]] || fail "the failed save created the folder"
[[ $(ls -A "$desktop" | wc -l) -eq 4 ]] || fail "the failed save created something: $(ls -A "$desktop")"
echo "the box titled Error said what it should; nothing was created"

echo "== Closing the window"
kill -0 "$app_pid" 2>/dev/null || fail "the program is no longer running"
status=0
xdo_close_and_wait "$window" "$app_pid" || status=$?
[[ $status -ne 124 ]] || fail "the program did not end when its window was closed"
app_pid=
[[ $status -eq 0 ]] || fail "the program exited with status $status: $(cat "$work/program.log")"
echo "the program ended with status 0"

if [[ $platform == qt ]]; then
  echo "== In every style the focused cell shows a mark, and no cell paints over its neighbours"
  while read -r style; do
    (cd "$work" && QT_STYLE_OVERRIDE=$style start_program) >"$work/style.log" 2>&1 &
    app_pid=$!
    window=$(wait_for_window Kavoni)
    xdotool windowactivate --sync "$window"
    sleep "$settles"
    # From the first cell to the second: the keyboard is in use.
    xdotool key Tab
    focus_case "$window" "$style"
    status=0
    xdo_close_and_wait "$window" "$app_pid" || status=$?
    app_pid=
    # Qt falls back to its default style, with a warning, for a style it can't load.
    [[ $status -eq 0 ]] && ! grep -q "invalid style" "$work/style.log" ||
      fail "$style: the program ended with status $status: $(cat "$work/style.log")"
  done <<'STYLES'
Fusion
Windows
Adwaita-Dark
STYLES
fi

if [[ $platform == qt ]]; then
  echo "== Saving under a file size limit (ulimit -f): the box, every file as it was, the program alive"
  # keys.txt gets a second name, so that it is written in place; ball.txt is replaced by a
  # rename. The limit is smaller than any sprite.
  ln "$desktop/keys.txt" "$desktop/keys-also.txt"
  desktop_state() { (cd "$desktop" && stat -c '%n %s %h %a %i' -- * && sha256sum -- *); }
  desktop_state >"$work/before-limit"
  (cd "$work" && ulimit -f 0 && start_program) >"$work/limit.log" 2>&1 &
  app_pid=$!
  window=$(wait_for_window Kavoni)
  xdotool windowactivate --sync "$window"
  sleep "$settles"
  for target in ball keys; do
    xdo_click_button "$window"
    answer_dialog type "$target"
    box=$(wait_for_window Error)
    xdotool windowactivate --sync "$box"
    xdotool key Return
    wait_until_gone Error
    kill -0 "$app_pid" 2>/dev/null || fail "the program died saving $target.txt under the limit"
    echo "  $target.txt: the box, and the program still runs"
  done
  desktop_state | cmp -s "$work/before-limit" - ||
    fail "a failed save under the limit changed the Desktop: $(desktop_state | diff "$work/before-limit" - || true)"
  status=0
  xdo_close_and_wait "$window" "$app_pid" || status=$?
  app_pid=
  [[ $status -eq 0 ]] || fail "the program exited with status $status: $(cat "$work/limit.log")"
  echo "every file on the Desktop is as it was, nothing was added, and the program ended with status 0"
fi

if [[ $platform == qt ]]; then
  echo "== The save dialog's completion list goes with the dialog, under openbox and without a window manager"
  # The list is an override-redirect window of the program's own, which no window manager
  # would take away: once the dialog has gone, the main window is the only one left showing.
  windows_showing() { xdotool search --onlyvisible --pid "$window_pid" 2>/dev/null | sort; }
  for manager in openbox none; do
    if [[ $manager == none ]]; then
      kill "${xsession_pids[1]}"
      wait "${xsession_pids[1]}" 2>/dev/null || true
    fi
    (cd "$work" && start_program) >"$work/completer.log" 2>&1 &
    app_pid=$!
    window=$(wait_for_window Kavoni)
    # The program's own process, which $app_pid, a subshell, is not.
    window_pid=$(xdotool getwindowpid "$window")
    # Without a window manager the keys go where the pointer is, which the click puts there.
    [[ $manager == openbox ]] && xdotool windowactivate --sync "$window"
    sleep "$settles"
    xdo_click_button "$window"
    dialog=$(wait_for_window "Save Sprite")
    [[ $manager == openbox ]] && xdotool windowactivate --sync "$dialog"
    sleep "$settles"
    # ball.txt is on the Desktop, so these letters bring up the list.
    xdotool key ctrl+a && xdotool type --delay 10 ba
    for _ in $(seq 100); do
      [[ $(windows_showing | wc -l) -ge 3 ]] && break
      sleep 0.05
    done
    [[ $(windows_showing | wc -l) -ge 3 ]] ||
      fail "$manager: the completion list did not show; showing: $(windows_showing | xargs -r -n1 xwininfo -id | grep -E 'xwininfo|geometry' | tr '\n' ' ')"
    xdotool key Return
    wait_until_gone "Save Sprite"
    expect_file "$desktop/ba.txt" "" $zero $zero $zero $zero $zero $zero $zero $zero
    sleep 0.5
    [[ $(windows_showing) == "$window" ]] ||
      fail "$manager: windows other than Kavoni still show after the dialog: $(windows_showing | grep -vx "$window" | xargs -r -n1 xwininfo -id | grep -E 'xwininfo|geometry' | tr '\n' ' ')"
    if [[ $manager == openbox ]]; then
      status=0
      xdo_close_and_wait "$window" "$app_pid" || status=$?
      [[ $status -eq 0 ]] || fail "the program exited with status $status: $(cat "$work/completer.log")"
    else
      # Nothing would pass Alt+F4 on as a close, so the program is stopped.
      kill "$app_pid"
      wait "$app_pid" 2>/dev/null || true
    fi
    app_pid=
    echo "  $manager: the list went with the dialog"
  done
fi

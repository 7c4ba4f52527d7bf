#!/usr/bin/env bash
# End to end: the progress dialog and the background window as windows
# (null display driver, no pixels). The robot reads the dialog's texts, the
# bar's position and the dialog's place for every DialogPosition, answers the
# Cancel confirmation, and checks which window owns the message boxes with
# and without the background window. Usage: progress.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin progress "$SRC"
e2e_need_truxpack
W="$E2E_TMP/work"
mkdir -p "$W/files"
printf 'hello\r\n' >"$W/files/hello.txt"

# project NAME DIALOGS-TOML FLAGS-TOML: one language, no start question, a
# long first stage so the robot can look at the windows, and messages of its own so every text
# can be told from the defaults.
project() {
  cat >"$W/$1.toml" <<EOF
[product]
name = "Progress Test"
publisher = "Trux Tests"
version = "1.0"

[dialogs]
stage_pause = 9999
$2

[flags]
no_start_question = true
$3

[background]
taskbar_text = "Progress Test Setup"

[messages]
8 = "Getting <product> ready"
20 = "Question"
28 = "Stop installing <product>?"
39 = "Copying <product> files"
49 = "Stop"
54 = "Setting up <product>"

[[file]]
source = "files/hello.txt"
EOF
  e2e_build "$W/$1.toml" "$W/$1.exe"
}

CAPTION="Setting up Progress Test"

# ---------------------------------------------------------------- texts

project plain "" ""
project maximised "" "maximized_background = true"
e2e_robot "the dialog's caption, heading, status, button and bar at the first stage" 0 \
  $'Copying Progress Test files\nGetting Progress Test ready\nStop\n2\n' "" \
  start "$W/plain.exe" wait-window "$CAPTION" --exact \
  print-text 1009 print-text 1011 print-text 1003 print-progress \
  click 1003 wait-box answer 6 wait-exit --expect 1

# The bar lies over the placeholder's frame: one pixel out on the left and
# top, two on the right and bottom.
robot start "$W/plain.exe" wait-window "$CAPTION" --exact print-rect 1007 print-rect 0 \
  click 1003 wait-box answer 6 wait-exit --expect 1 >"$E2E_TMP/rects" 2>&1
read -r pl pt pr pb < <(sed -n 1p "$E2E_TMP/rects")
read -r bl bt br bb < <(sed -n 2p "$E2E_TMP/rects")
e2e_check "the bar covers the placeholder" "$((pl - 1)) $((pt - 1)) $((pr + 2)) $((pb + 2))" "$bl $bt $br $bb"

# ---------------------------------------------------------------- places

# DialogPosition -> where the dialog's rectangle lies on the screen. The
# expected place is worked out from the screen size and the dialog's size.
read -r SW SH < <(robot print-screen)
expected_place() {  # expected_place POSITION WIDTH HEIGHT -> left top
  local p="$1" w="$2" h="$3" x y
  local cx=$(((SW - w) / 2)) cy=$(((SH - h) / 2)) rx=$((SW - w)) by=$((SH - h))
  case "$p" in
    0) x=$cx y=$cy ;; 1) x=0 y=0 ;; 2) x=$cx y=0 ;; 3) x=$rx y=0 ;;
    4) x=0 y=$by ;; 5) x=$cx y=$by ;; 6) x=$rx y=$by ;; 7) x=0 y=$cy ;; 8) x=$rx y=$cy ;;
    *) x=0 y=0 ;;  # left where the template put it: the top left corner
  esac
  echo "$x $y"
}
for position in 0 1 2 3 4 5 6 7 8 9; do
  project "place$position" "position = $position" ""
  robot start "$W/place$position.exe" wait-window "$CAPTION" --exact print-rect \
    click 1003 wait-box answer 6 wait-exit --expect 1 >"$E2E_TMP/rect" 2>&1
  read -r l t r b <"$E2E_TMP/rect"
  e2e_check "DialogPosition $position places the dialog" "$(expected_place "$position" $((r - l)) $((b - t)))" "$l $t"
done

# ---------------------------------------------------------------- cancel

e2e_robot "Cancel asks message 28 (caption 20) in a box owned by the dialog; No goes on" 0 \
  $'Question\nStop installing Progress Test?\nclass=#32770 caption="Setting up Progress Test"\nGetting Progress Test ready\n2\n' "" \
  start "$W/plain.exe" wait-window "$CAPTION" --exact click 1003 \
  wait-box print-caption print-text print-owner answer 7 \
  wait-window "$CAPTION" --exact no-box --for 0.5 print-text 1011 print-progress \
  click 1003 wait-box answer 6 wait-exit --timeout 5 --expect 1

# Yes ends the run at once (well before the 10 s stage pause), exit code 1.
e2e_robot "Cancel, Yes: exit code 1 at once" 0 "" "" \
  start "$W/plain.exe" wait-window "$CAPTION" --exact click 1003 wait-box answer 6 \
  wait-exit --timeout 3 --expect 1

project nocancel "" "no_cancel = true"
e2e_robot "no_cancel: the button is greyed and refuses the click" 4 "" "button 1003 of window \"$CAPTION\" is disabled" \
  start "$W/nocancel.exe" wait-window "$CAPTION" --exact click 1003
wineserver -k; wineserver -p

# ---------------------------------------------------------------- owners

e2e_robot "the background window covers the work area and carries the taskbar text" 0 \
  $'0 0 '"$SW $SH"$'\nProgress Test Setup\n' "" \
  start "$W/plain.exe" wait-class "XAV Window Class" print-rect print-caption \
  wait-window "$CAPTION" --exact click 1003 wait-box answer 6 wait-exit --expect 1

e2e_robot "the background window is shown normally, or maximised with maximized_background" 0 \
  $'zoomed=0 iconic=0\nzoomed=1 iconic=0\n0 0 '"$SW $SH"$'\n' "" \
  start "$W/plain.exe" wait-class "XAV Window Class" print-state \
  wait-window "$CAPTION" --exact click 1003 wait-box answer 6 wait-exit --expect 1 \
  start "$W/maximised.exe" wait-class "XAV Window Class" print-state print-rect \
  wait-window "$CAPTION" --exact click 1003 wait-box answer 6 wait-exit --expect 1

# A fatal box shown before the progress dialog exists (a 64-bit product on
# this 32-bit system) is owned by the background window, or by no window
# when there is none.
project owned "" "x64 = true"
e2e_robot "before the dialog, a box is owned by the background window" 0 \
  $'class=XAV Window Class caption="Progress Test Setup"\n' "" \
  start "$W/owned.exe" wait-box --caption "FATAL ERROR" print-owner answer 1 wait-exit --expect 1
project unowned "" $'x64 = true\nno_background = true'
robot start "$W/unowned.exe" wait-box --caption "FATAL ERROR" print-owner list answer 1 wait-exit --expect 1 \
  >"$E2E_TMP/unowned" 2>&1
e2e_check "no_background: no background window, the box is owned by no window" \
  $'none\nclass=#32770 caption="FATAL ERROR" messagebox=1' "$(sed 's/^pid=[0-9]* //' "$E2E_TMP/unowned")"

e2e_end

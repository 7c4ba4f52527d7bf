#!/usr/bin/env bash
# The robot's self-test: it drives robot-target (a real dialog and real
# message boxes in another process under Wine), and every action is checked
# through what the target reports back: labels, box texts, its exit code.
# Usage: selftest.sh ROBOT TARGET SRCROOT
set -uo pipefail
ROBOT="$1"; TARGET="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin robot-selftest "$SRC"

# A task-modal box: its caption, its text in the three output forms, the answer, the exit code.
e2e_robot "box: caption and text (LF, escaped, raw), answer, exit code" 0 \
  $'Target Box\nFirst line\nSecond line\nTab\there\nFirst line\\r\\nSecond line\\nTab\\there\nFirst line\r\nSecond line\nTab\there' "" \
  start "$TARGET" --args box wait-box print-caption print-text print-text --escaped print-text --raw \
  answer 1 wait-exit --expect 1

# until-exit prints and answers every box until the process ends; --reject stops at a matching one.
e2e_robot "until-exit: prints and answers the box, checks the exit code" 0 \
  $'box Target Box\nFirst line\\r\\nSecond line\\nTab\\there\n1\n' "" \
  start "$TARGET" --args box until-exit --expect 1 --print
e2e_robot "until-exit --reject: fails on a box with the text" 5 \
  $'box Target Box\nFirst line\\r\\nSecond line\\nTab\\there\n' 'a message box with "Second line" appeared' \
  start "$TARGET" --args box until-exit --reject "Second line"
e2e_robot "a box left open by an earlier robot run is found and answered" 0 "" "" \
  wait-box --caption "Target Box" answer 1
e2e_robot "until-exit: a process without boxes" 0 $'7\n' "" start "$TARGET" --args quiet until-exit --print
# --no-window: any visible window of the process fails at once (a silent run shows none).
e2e_robot "until-exit --no-window: a process without windows" 0 $'7\n' "" \
  start "$TARGET" --args quiet until-exit --no-window --print
e2e_robot "until-exit --no-window: a dialog fails (5)" 5 "" 'a window appeared: class #32770, caption "Robot Target"' \
  start "$TARGET" until-exit --no-window
e2e_robot "the dialog left open by --no-window is closed" 0 "" "" \
  wait-window "Robot Target" --exact click 2 wait-gone
# --report: every box and dialog with its buttons, answered with its default.
e2e_robot "until-exit --report: a box, its buttons, answered with its default" 0 \
  $'box Target Box\ntext First line\\r\\nSecond line\\nTab\\there\nbutton 1 OK\ndefault 1\nanswer 1\n' "" \
  start "$TARGET" --args box until-exit --report --expect 1
e2e_robot "until-exit --report: a dialog, its labels and buttons, answered with its default" 0 \
  $'dialog Robot Target\ntext Name:\\nchanges: 0\\nselected: none\\nanswer: none\\ncolour: none\nbutton 102 Show\nbutton 103 Disabled\nbutton 1 OK\nbutton 2 Cancel\ndefault 1\nanswer 1\n99\n' "" \
  start "$TARGET" until-exit --report --expect 99 --print

# The program receives exactly the text given to start: quotes, doubled quotes,
# backslashes before quotes, tabs and backquotes are not re-quoted on the way.
cmdline_cases=(
  '/a -A /auto'
  '/d:"C:\Program Files\App" /n:"My Product"'
  '/d:"a""b" x"y'
  'a\"b C:\dir\ "C:\dir\\"'
  $'/b1:"echo one~~echo `w`"\t/r:"notepad.exe"'
  '/'
)
for text in "${cmdline_cases[@]}"; do
  e2e_robot "start passes the command text unchanged: $(e2e_esc "$text")" 0 "$text" "" \
    start "$TARGET" --args "$text" wait-window "Robot Target" --exact print-text 107 --raw click 2 wait-exit --expect 2
done

# A dialog: typing fires EN_CHANGE, selections notify the dialog, a button's
# box is answered and the answer reaches the dialog, OK ends with the choice.
e2e_robot "dialog: type, select, combo, show box, double-click, OK" 0 \
  $'alpha\nbeta\ng\xe4mma\nName: Jo "x"\\r\\nLine two\\nTab\\there\nYou chose beta\nselected: beta\n' "" \
  start "$TARGET" wait-window "Robot Target" --exact \
  print-items 101 \
  set-text 100 'Jo "x"' expect-text 104 "changes: 1" expect-text 100 'Jo "x"' \
  select 101 '=g\xE4mma' expect-text 105 'selected: g\xE4mma' select 108 1 expect-text 109 "colour: green" \
  click 102 wait-box --caption "Robot Box" print-text --escaped answer 7 \
  wait-window "Robot Target" --exact expect-text 106 "answer: 7" \
  dblclick 101 =beta wait-box --caption "Robot Choice" print-text answer 2 \
  wait-window "Robot Target" --exact expect-text 106 "answer: 2" print-text 105 \
  click 1 wait-exit --expect 101
# print lists every control with id, class, enabled state and text.
e2e_robot "print: the controls of a dialog" 0 \
'window class=#32770 caption="Robot Target"
control id=65535 class=Static enabled=1 visible=1 text="Name:"
control id=100 class=Edit enabled=1 visible=1 text=""
control id=101 class=ListBox enabled=1 visible=1 text=""
control id=108 class=ComboBox enabled=1 visible=1 text=""
control id=102 class=Button enabled=1 visible=1 text="Show"
control id=103 class=Button enabled=0 visible=1 text="Disabled"
control id=104 class=Static enabled=1 visible=1 text="changes: 0"
control id=105 class=Static enabled=1 visible=1 text="selected: none"
control id=106 class=Static enabled=1 visible=1 text="answer: none"
control id=109 class=Static enabled=1 visible=1 text="colour: none"
control id=107 class=Static enabled=1 visible=1 text="x\\y"
control id=1 class=Button enabled=1 visible=1 text="OK"
control id=2 class=Button enabled=1 visible=1 text="Cancel"
' "" \
  start "$TARGET" --args 'x\y' wait-window "Robot Target" print no-box --for 0.5 click 2 wait-exit --expect 2

# Failures: each ends the robot with its own exit code and a clear message.
e2e_robot "fail: a wait times out (3)" 3 "" 'no window with caption "Nowhere"' \
  start "$TARGET" wait-window "Robot Target" wait-window "Nowhere" --timeout 1
e2e_robot "fail: a disabled button is refused and stays unclicked (4)" 4 $'answer: none\n' "button 103" \
  wait-window "Robot Target" --exact print-text 106 click 103
e2e_robot "fail: a missing control (4)" 4 "" "no control with id 555" \
  wait-window "Robot Target" --exact click 555
e2e_robot "fail: no-box sees a box (5)" 5 "" 'a message box appeared: "Robot Box"' \
  wait-window "Robot Target" --exact click 102 no-box --for 5
e2e_robot "a dialog's box left open by an earlier robot run is answered" 0 "" "" \
  wait-box --caption "Robot Box" answer 6 wait-window "Robot Target" --exact expect-text 106 "answer: 6" \
  click 2 wait-gone
e2e_robot "fail: the process ends without the awaited box (4)" 4 "" "ended (exit code 7) without a message box" \
  start "$TARGET" --args quiet wait-box
e2e_robot "fail: wrong exit code (5)" 5 "" "exit code 2, expected 0" \
  start "$TARGET" wait-window "Robot Target" click 2 wait-exit --expect 0
e2e_robot "fail: expect-text mismatch (5)" 5 "" 'reads "changes: 0", expected "changes: 9"' \
  start "$TARGET" wait-window "Robot Target" expect-text 104 "changes: 9"
e2e_robot "fail: unknown step (2)" 2 "" 'unknown step "frobnicate"' wait-window "Robot Target" frobnicate
e2e_robot "fail: list entry that does not exist (4)" 4 "" 'no entry "delta"' \
  wait-window "Robot Target" select 101 =delta

# wait-file holds the robot until a file appears, and times out (3) when it never does.
GO="Z:${E2E_TMP//\//\\}\\go"
e2e_robot "fail: wait-file for a file that never comes (3)" 3 "" "does not exist after 0.5 s" \
  wait-file "$GO" --timeout 0.5 start "$TARGET" --args quiet until-exit --print
( sleep 0.5; : >"$E2E_TMP/go" ) &
e2e_robot "wait-file: goes on once the file is there" 0 $'7\n' "" \
  wait-file "$GO" --timeout 60 start "$TARGET" --args quiet until-exit --print
wait

# make-file signals only with a file of its own; await-end-session fails (3)
# when no session ends (install_choices.sh sees one end at a real restart).
e2e_robot "fail: make-file over a file that is there (4)" 4 "" "make-file: cannot create" make-file "$GO"
e2e_robot "fail: await-end-session without a session's end (3)" 3 "" "did not end within 0.5 s" \
  await-end-session --timeout 0.5

e2e_end

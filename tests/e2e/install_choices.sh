#!/usr/bin/env bash
# End to end: the installation's choices under Wine, answered by the robot.
# The directory dialog's refusals as a table (what the robot types, the box
# it must see), the directory read from the registry, the three batch groups
# with their command-line additions, the autoexec.bat PATH line, and the
# restart decision after a replacement scheduled for a file held open.
# Usage: install_choices.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin choices "$SRC"
e2e_need_truxpack
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
mkdir -p "$W/files"
printf 'payload\r\n' >"$W/files/app.txt"

# project NAME FLAGS-TOML [EXTRA-TOML] [INSTALL-DIR]
project() {
  cat >"$W/$1.toml" <<EOF
[product]
name = "Choice Test"
publisher = "Trux Tests"
version = "1.0"
install_dir = "${4:-Choice Test}"

[flags]
uninstaller = true
$2

${3:-}

[[file]]
source = "files/app.txt"
EOF
  e2e_build "$W/$1.toml" "$W/$1.exe"
}
forget() { wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Choice Test' /f >/dev/null 2>&1; }

# ------------------------------------------------------- the directory loop

project loop $'choose_directory = true\nrefuse_double_backslash = true\nconfirm_directory = true\nno_start_question = true'
printf 'x' >"$C/blocker.txt"
DIALOG="Installation Directory"
# What the robot types | the box it must see (escaped as the robot prints).
REFUSALS=(
  'relative\\dir'        'The directory name is not valid:\r\nrelative\\dir'
  'C:\\a<b'              'The directory name is not valid:\r\nC:\\a<b'
  'C:\\a\\\\b'           'The directory name must not contain two backslashes in a row.'
  'Q:\\x'                'Drive Q: does not exist.'
  'C:\\'                 'Please choose a directory, not the root of a drive.'
  'C:\\Program Files'    'Please choose a directory inside C:\\Program Files, not that directory itself.'
  'c:\\program files\\'  'Please choose a directory inside C:\\Program Files, not that directory itself.'
)
steps=(start "$W/loop.exe" wait-window "$DIALOG" --exact set-text 1015 '   ' click 1001 no-box --for 1
       wait-window "$DIALOG" --exact)
expected=""
for ((i = 0; i < ${#REFUSALS[@]}; i += 2)); do
  steps+=(set-text 1015 "${REFUSALS[i]}" click 1001 wait-box print-text --escaped answer 1 wait-window "$DIALOG" --exact)
  expected+="${REFUSALS[i + 1]}"$'\n'
done
# A directory that cannot be created (after its confirmation): the box names
# it and the system's reason.
steps+=(set-text 1015 'C:\\blocker.txt\\sub' click 1001 wait-box answer 6 wait-box print-text --escaped answer 1
        wait-window "$DIALOG" --exact)
# A good one: the confirmation (No shows the dialog again with the text kept), then Yes.
steps+=(set-text 1015 'C:\\Choice Dir' click 1001 wait-box print-text --escaped answer 7
        wait-window "$DIALOG" --exact print-text 1015 click 1001 wait-box answer 6
        wait-box --timeout 60 --caption "Installation Complete" answer 1 wait-exit --expect 1)
robot "${steps[@]}" >"$E2E_TMP/loop.out" 2>"$E2E_TMP/loop.err"
rc=$?
mapfile -t got <"$E2E_TMP/loop.out"
n=$((${#REFUSALS[@]} / 2))
[ "$rc" = 0 ] && e2e_pass "directory loop: the robot went through every case" ||
  e2e_fail "directory loop: the robot went through every case" "exit $rc: $(cat "$E2E_TMP/loop.err")"
for ((i = 0; i < n; i++)); do
  e2e_check "directory loop refuses ${REFUSALS[2 * i]}" "${REFUSALS[2 * i + 1]}" "${got[i]:-}"
done
case "${got[n]:-}" in
  'The directory could not be created:\r\nC:\\blocker.txt\\sub\r\n\r\n'?*) e2e_pass "directory loop: a directory that cannot be created" ;;
  *) e2e_fail "directory loop: a directory that cannot be created" "got ${got[n]:-}" ;;
esac
e2e_check "directory loop: the confirmation names the directory to create" \
  'The directory C:\\Choice Dir will be created.\r\n\r\nContinue?' "${got[n + 1]:-}"
e2e_check "directory loop: No shows the dialog again with the text kept" 'C:\Choice Dir' "${got[n + 2]:-}"
[ -f "$C/Choice Dir/app.txt" ] && e2e_pass "directory loop: installed into the accepted directory" ||
  e2e_fail "directory loop: installed into the accepted directory" "no C:\\Choice Dir\\app.txt"
forget

# The browse button: the folder dialog (titled with message 11) opens at the
# typed directory; OK puts the folder's path, as the system spells it, into
# the edit; Cancel leaves the edit alone.
mkdir -p "$C/Browse Me"
# (Wine's shell says on stderr that it cannot label the Z: drive.)
browsed="$(robot start "$W/loop.exe" wait-window "$DIALOG" --exact set-text 1015 'c:\\browse me' click 1013 \
  wait-window "Browse for Folder" --exact print-text 14146 click 1 wait-gone \
  wait-window "$DIALOG" --exact print-text 1015 set-text 1015 'C:\\browse me\\x' click 1013 \
  wait-window "Browse for Folder" --exact click 2 wait-gone \
  wait-window "$DIALOG" --exact print-text 1015 click 1003 wait-exit --expect 1 2>/dev/null; echo "exit $?")"
e2e_check "directory dialog: browsing picks the typed folder's real path" \
  $'Choose the directory to install Choice Test into:\nC:\\Browse Me\nC:\\browse me\\x\nexit 0' "$browsed"
forget

# ------------------------------------------------ checks before any question

project excluded 'no_start_question = true'
sed -i 's/^version = "1.0"$/version = "1.0"\nexcluded_systems = ["xp", "vista"]/' "$W/excluded.toml"
e2e_build "$W/excluded.toml" "$W/excluded.exe"
os_name="$(robot start "$W/excluded.exe" wait-box print-text --escaped answer 1 wait-exit --expect 1 2>&1)"
[[ "$os_name" == "Choice Test cannot be installed on Windows "* ]] &&
  e2e_pass "excluded system: message 61 names the running system" ||
  e2e_fail "excluded system: message 61 names the running system" "got $os_name"
project addon $'add_on = true\nno_start_question = true' '' '<master>'
sed -i 's/^version = "1.0"$/version = "1.0"\nmaster_product = "Master Product"/' "$W/addon.toml"
e2e_build "$W/addon.toml" "$W/addon.exe"
e2e_robot "add-on: a missing master product ends the installation" 0 \
  'Master Product must be installed before Choice Test can be installed.'$'\n' "" \
  start "$W/addon.exe" wait-box print-text --escaped answer 1 wait-exit --expect 1
MASTER='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Master Product'
mkdir -p "$C/Master Dir"
wine reg add "$MASTER" /v QuietUninstallString /d 'C:\Master Dir\u.exe /a' /f >/dev/null 2>&1
wine reg add "$MASTER" /v InstallLocation /d 'C:\Master Dir' /f >/dev/null 2>&1
e2e_robot "add-on: <master> is the master product's directory" 0 "" "" \
  start "$W/addon.exe" wait-box --timeout 60 --caption "Installation Complete" answer 1 wait-exit --expect 1
[ -f "$C/Master Dir/app.txt" ] && e2e_pass "add-on: installed into the master's directory" ||
  e2e_fail "add-on: installed into the master's directory" "$(ls "$C/Master Dir")"
forget

# ------------------------------------------------ directory from the registry

mkdir -p "$C/Reg Dir"
wine reg add 'HKLM\Software\Trux Choice' /v Path /d 'C:\Reg Dir' /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Trux Choice' /v Bad /d 'C:\nowhere' /f >/dev/null 2>&1
project regok 'no_start_question = true' '' 'HKLM\\Software\\Trux Choice\\Path'
# The archive names no uninstaller file here: the copy is "Uninstall.exe".
e2e_robot "registry: the value names the directory; no dialog" 0 "" "" \
  start "$W/regok.exe" wait-box --timeout 60 --caption "Installation Complete" answer 1 wait-exit --expect 1
[ -f "$C/Reg Dir/app.txt" ] && cmp -s "$STUB" "$C/Reg Dir/Uninstall.exe" &&
  e2e_pass "registry: installed into the value's directory, with Uninstall.exe" ||
  e2e_fail "registry: installed into the value's directory, with Uninstall.exe" "$(ls "$C/Reg Dir")"
forget
project regmissing 'no_start_question = true' '' 'HKCU\\Software\\Trux Choice\\Missing'
e2e_robot "registry: a missing value is reported with the whole text" 0 \
  'Failed to obtain installation directory from "HKCU\\Software\\Trux Choice\\Missing"'$'\n' "" \
  start "$W/regmissing.exe" wait-box print-text --escaped answer 1 wait-exit --expect 1
project regbad 'no_start_question = true' '' 'HKLM\\Software\\Trux Choice\\Bad'
e2e_robot "registry: a value that is no directory" 0 \
  'Installation directory "C:\\nowhere" obtained from "HKLM\\Software\\Trux Choice\\Bad" does not exist.'$'\n' "" \
  start "$W/regbad.exe" wait-box print-text --escaped answer 1 wait-exit --expect 1

# ------------------------------------------------------------------- batches

project batches 'add_to_path = true' '[batches]
pre_install = "set InstallDir>pre.txt\r\nset Version>>pre.txt"
post_install = "PAUSE\r\n  @pause\r\nset UninstallDir>post.txt"
on_exit = "echo exit>exit.txt"'
B='C:\Batch Dir'
printf '@ECHO OFF' >"$C/autoexec.bat"
e2e_robot "batches: automatic mode, with /b1: and /b3: additions" 0 "" "" \
  start "$W/batches.exe" --args "/a /d:\"$B\" /b1:\"echo b1>>pre.txt~~echo two>>pre.txt\" /b3:\"echo b3>>exit.txt\"" \
  until-exit --timeout 60 --expect 1
e2e_check "batches: group 1 sets the variables; /b1: follows after a line break" \
  "$(e2e_esc "$(printf 'InstallDir=C:\\Batch Dir\r\nVersion=1.0\r\nb1\r\ntwo\r\nx')")" \
  "$(e2e_esc "$(cat "$C/Batch Dir/pre.txt" 2>&1; printf x)")"
e2e_check "batches: group 2 ran past its PAUSE lines" \
  "$(e2e_esc "$(printf 'UninstallDir=C:\\Batch Dir\r\nx')")" "$(e2e_esc "$(cat "$C/Batch Dir/post.txt" 2>&1; printf x)")"
e2e_check "batches: group 3 with its /b3: addition" \
  "$(e2e_esc "$(printf 'exit\r\nb3\r\nx')")" "$(e2e_esc "$(cat "$C/Batch Dir/exit.txt" 2>&1; printf x)")"
[ ! -e "$C/Batch Dir/TRUXBAT.BAT" ] && e2e_pass "batches: the batch file is deleted afterwards" ||
  e2e_fail "batches: the batch file is deleted afterwards" "TRUXBAT.BAT is still there"
robot start "$W/batches.exe" --args "/a /d:\"$B\"" until-exit --timeout 60 --expect 1 >/dev/null 2>&1
short="$(grep -c '^PATH=%PATH%;' "$C/autoexec.bat")"
e2e_check "autoexec.bat: two installations add one PATH line after the unfinished last line" \
  "2 lines, 1 PATH line" "$(wc -l <"$C/autoexec.bat" | tr -d ' ') lines, $short PATH line"
forget

# ------------------------------------------------------------ restart decision

# A newer build replaces app.txt; the robot holds the installed file open, so
# the replacement is scheduled for the next restart (rescue_new_files: an
# ordinary entry is replaced at the restart too).
touch -d '2020-01-01 12:00' "$W/files/app.txt"
project lock1 ''
printf 'payload 2\r\n' >"$W/files/app.txt"
touch -d '2021-01-01 12:00' "$W/files/app.txt"
project lock2 $'no_start_question = true\nrescue_new_files = true'
project lock2auto $'auto_restart = true\nrescue_new_files = true'
pending() {
  wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null |
    tr -d '\r' | tr '[:upper:]' '[:lower:]'
}
robot start "$W/lock1.exe" --args '/a /d:"C:\Lock Dir"' until-exit --timeout 60 --expect 1 >/dev/null 2>&1
# Without rescue_new_files the held file is an error: the final question
# offers the log, whose block (written although flag bit 6 is clear) ends
# with the error text.
project lock2plain 'no_start_question = true'
e2e_robot "errors: the final question names the log" 0 \
  $'Installation Problems\nThere were problems during the installation. They have been recorded in the log file C:\\\\Lock Dir\\\\Install.LOG.\\r\\n\\r\\nDo you want to view the log now?\n' "" \
  hold-file 'C:\Lock Dir\app.txt' start "$W/lock2plain.exe" wait-box --caption "Previous Installation Found" answer 6 \
  wait-box --timeout 60 print-caption print-text --escaped answer 7 wait-exit --expect 1
log="$(tr -d '\r' <"$C/Lock Dir/Install.LOG" 2>&1)"
[[ "$log" == *$'Install type: Reinstall\n'*$'\nError writing C:\\Lock Dir\\app.txt\n'* ]] &&
  e2e_pass "errors: Install.LOG gets the block with the error text" ||
  e2e_fail "errors: Install.LOG gets the block with the error text" "$log"
e2e_robot "restart: a held file leads to the restart question after the final message" 0 \
  $'Choice Test has been installed successfully.\nThe computer must be restarted to complete the installation of Choice Test.\\r\\n\\r\\nRestart now?\n' "" \
  hold-file 'C:\Lock Dir\app.txt' start "$W/lock2.exe" wait-box --caption "Previous Installation Found" answer 6 \
  wait-box --timeout 60 --caption "Installation Complete" print-text answer 1 \
  wait-box print-text --escaped answer 7 wait-exit --expect 1
[[ "$(pending)" == *'lock dir\app.txt'* ]] && e2e_pass "restart: the replacement waits for the restart" ||
  e2e_fail "restart: the replacement waits for the restart" "$(pending)"
e2e_robot "restart: automatic mode with flag bit 41 asks" 0 \
  $'The computer must be restarted to complete the installation of Choice Test.\\r\\n\\r\\nRestart now?\n' "" \
  hold-file 'C:\Lock Dir\app.txt' start "$W/lock2auto.exe" --args /a wait-box --timeout 60 print-text --escaped \
  answer 7 wait-exit --expect 1
# Here the file is held by a second robot that, like a running program, lets
# go of it when the session ends: Wine's restart asks every program with a
# window to end and waits for the answers before it carries out the pending
# replacements, as Windows does them only at boot. A holder without a window
# raced the restart, which drops a replacement it cannot carry out.
rm -f "$C/held.ready"
robot hold-file 'C:\Lock Dir\app.txt' make-file 'C:\held.ready' await-end-session --timeout 120 \
  >"$E2E_TMP/holder.out" 2>"$E2E_TMP/holder.err" &
holder=$!
e2e_robot "restart: automatic mode without flag bit 41 restarts without asking" 0 "" "" \
  wait-file 'C:\held.ready' --timeout 60 start "$W/lock2.exe" --args /a no-box --for 3 wait-exit --timeout 60 --expect 1
wait "$holder"
holder_rc=$?
e2e_check "restart: the programs running were asked to end" "rc 0: session ended" \
  "rc $holder_rc: $(tr -d '\r\n' <"$E2E_TMP/holder.out")$(cat "$E2E_TMP/holder.err")"
# The replacement itself follows the programs' end, on wineboot's own time.
for _ in $(seq 300); do [ "$(tr -d '\r\n' <"$C/Lock Dir/app.txt")" = "payload 2" ] && break; sleep 0.2; done
e2e_check "restart: the restart replaced the held file" "payload 2" "$(tr -d '\r\n' <"$C/Lock Dir/app.txt")"

e2e_end

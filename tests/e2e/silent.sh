#!/usr/bin/env bash
# End to end: silent runs for unattended deployment. Each installer run is
# made twice: with /s, where no window of the process may ever appear and
# the exit code tells the outcome (0, 3010, 1602, 1603, 1639), and the same
# run with /a instead, which still shows its boxes and ends with exit code 1.
# Then the uninstaller with /s (0, and 3010 with a file held open), the run
# log of /l: for a clean installation and a fatal error, a log written as the
# run goes, log paths that are links, which are refused, and last a run that
# restarts the machine itself (0).
# Usage: silent.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin silent "$SRC"
e2e_need_truxpack
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
mkdir -p "$W/files" "$C/t" "$C/logs"
printf 'payload\r\n' >"$W/files/app.txt"
printf 'second file\r\n' >"$W/files/b.txt"
head -c 20000 /dev/urandom >"$W/files/big.bin"
touch -d '2020-01-01 12:00' "$W/files/app.txt"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# project NAME PRODUCT-TOML FLAGS-TOML [MORE-TOML]: C:\t\NAME.exe for the
# product "Silent NAME", installed into C:\Silent\NAME, with messages of
# its own so the texts below are the test's.
project() {
  local name="$1"
  cat >"$W/$name.toml" <<EOF
[product]
name = "Silent $name"
version = "1.0"
install_dir = "C:\\\\Silent\\\\$name"
$2

[flags]
uninstaller = true
$3

[messages]
9 = "Already installed: remove it first."
13 = "Broken installer, code %d."
20 = "Question"
21 = "Problem"
26 = "Insert volume %d in drive %c:."
27 = "Insert Volume"
28 = "Cancel the installation?"
37 = "Restart now?"
61 = "Not on %s."
75 = "Password"

${4:-}

[[file]]
source = "files/app.txt"

[[file]]
source = "files/b.txt"
EOF
}
build() {  # build NAME [truxpack options...]
  local name="$1"
  shift
  e2e_build "$W/$name.toml" "$C/t/$name.exe" "$@"
}
pending() {
  wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null |
    tr -d '\r' | tr '[:upper:]' '[:lower:]'
}
has_key() { wine reg query "$UNINSTALL_KEY\\$1" >/dev/null 2>&1; }
# The run log without CRs, the date of its start line replaced by DATE.
log_of() { tr -d '\r' <"$C/logs/$1" 2>/dev/null | sed -E 's/ at [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$/ at DATE/'; }

# silent CASE EXPECTED-CODE PROGRAM ARGS [ROBOT-STEPS-BEFORE-START...]: no
# window of the process ever, no box printed, the exit code as expected.
silent() {
  local case="$1" code="$2" program="$3" args="$4"
  shift 4
  e2e_robot "/s: $case: exit code $code, no window" 0 "" "" \
    "$@" start "$program" --args "$args" until-exit --no-window --timeout 120 --expect "$code"
}
# shown CASE ANSWER EXPECTED-BOXES PROGRAM ARGS [ROBOT-STEPS-BEFORE-START...]:
# the same run without /s: the boxes it shows (answered with ANSWER), exit code 1.
shown() {
  local case="$1" answer="$2" boxes="$3" program="$4" args="$5"
  shift 5
  e2e_robot "/a: $case: its boxes, exit code 1" 0 "$boxes" "" \
    "$@" start "$program" --args "$args" until-exit --answer "$answer" --timeout 120 --expect 1
}

# ---- a clean installation: 0 ---------------------------------------------------
project Clean '' 'verbose_log = true'
build Clean
silent "a clean installation" 0 'C:\t\Clean.exe' '/s /l:"C:\logs\clean.log"'
[ -f "$C/Silent/Clean/app.txt" ] && [ -f "$C/Silent/Clean/b.txt" ] && has_key "Silent Clean" &&
  e2e_pass "/s: the clean installation is complete and registered" ||
  e2e_fail "/s: the clean installation is complete and registered" "$(ls -R "$C/Silent" 2>&1 | head)"
e2e_check "/l: the log of a clean installation" "
Run of C:\\t\\Clean.exe at DATE
Command line: /s /l:\"C:\\logs\\clean.log\"
Product: Silent Clean, version 1.0
Installation directory: C:\\Silent\\Clean
Install log:
  app.txt -> C:\\Silent\\Clean\\app.txt
  b.txt -> C:\\Silent\\Clean\\b.txt
Exit code: 0 (completed)" "$(log_of clean.log)"
shown "a clean installation (a reinstallation now)" 1 "" 'C:\t\Clean.exe' '/a'

# ---- a file held open: the replacement waits for a restart, 3010 ----------------------
# auto_restart (flag bit 41) makes automatic mode ask before restarting;
# /s answers No, so no restart is made.
project Held '' $'rescue_new_files = true\nauto_restart = true'
build Held
silent "the first installation of the held product" 0 'C:\t\Held.exe' '/s'
printf 'payload 2\r\n' >"$W/files/app.txt"
touch -d '2021-01-01 12:00' "$W/files/app.txt"
build Held
silent "a held file: the replacement is scheduled" 3010 'C:\t\Held.exe' '/s /l:"C:\logs\held.log"' \
  hold-file 'C:\Silent\Held\app.txt'
[[ "$(pending)" == *'silent\held\app.txt'* ]] && e2e_pass "/s: the held file's replacement waits for the restart" ||
  e2e_fail "/s: the held file's replacement waits for the restart" "$(pending)"
# The temporary file's name and the words of the sharing violation are the
# system's.
e2e_check "/l: the restart question, the replacement and 3010 in the log" "
Run of C:\\t\\Held.exe at DATE
Command line: /s /l:\"C:\\logs\\held.log\"
Product: Silent Held, version 1.0
Installation directory: C:\\Silent\\Held
Message box \"Question\" (not shown), answered No:
  Restart now?
Install log:

  Error writing C:\\Silent\\Held\\app.txt
  SYSTEM TEXT
  \"C:\\Silent\\Held\\app.txt\" was successfully registered for replacement.
  Temporary file is \"TEMPORARY\"
  Reboot will be required.

Exit code: 3010 (completed; a restart is needed to finish)" \
  "$(log_of held.log | sed -E '/^  Error writing /{n;s/^  .+$/  SYSTEM TEXT/};s/^  Temporary file is ".*"$/  Temporary file is "TEMPORARY"/')"
# Without /s the restart question is shown. While it waits, the log already
# holds the run's start: it is written as the run goes.
rm -f "$C/logs/box.up" "$C/logs/go"
robot hold-file 'C:\Silent\Held\app.txt' start 'C:\t\Held.exe' --args '/a /l:"C:\logs\held-a.log"' \
  wait-box --caption Question --timeout 120 print-text make-file 'C:\logs\box.up' wait-file 'C:\logs\go' --timeout 120 \
  answer 7 wait-exit --expect 1 >"$E2E_TMP/held-a.out" 2>"$E2E_TMP/held-a.err" &
robot_pid=$!
for _ in $(seq 1200); do [ -e "$C/logs/box.up" ] && break; kill -0 "$robot_pid" 2>/dev/null || break; sleep 0.1; done
during="$(log_of held-a.log)"
: >"$C/logs/go"
wait "$robot_pid"
e2e_check "/a: a held file: the restart question, exit code 1" "rc 0: Restart now?" \
  "rc $?: $(cat "$E2E_TMP/held-a.out")$(cat "$E2E_TMP/held-a.err")"
e2e_check "/l: written as the run goes: the start is there while the question waits" "
Run of C:\\t\\Held.exe at DATE
Command line: /a /l:\"C:\\logs\\held-a.log\"
Product: Silent Held, version 1.0
Installation directory: C:\\Silent\\Held" "$during"
[[ "$(log_of held-a.log)" == *$'\nMessage box "Question", answered No:\n  Restart now?\n'*$'\nExit code: 1 (completed; a restart is needed to finish)' ]] &&
  e2e_pass "/l: a shown box and the exit code 1 at the end" ||
  e2e_fail "/l: a shown box and the exit code 1 at the end" "$(log_of held-a.log)"

# ---- a corrupt archive: 1603, the code in the log, no window at all -----------------
project Corrupt '' 'check_stub = true'
build Corrupt
# The stub checksum in the archive header (16 bytes into the .trux
# section) is wrong: corrupt-archive code 40, found after the background
# window would have been shown.
le() { od -An -tu"$2" -j "$1" -N "$2" "$3" | tr -d ' '; }  # le OFFSET SIZE FILE
trux_offset() {
  local f="$1" pe count optional table i
  pe=$(le 60 4 "$f"); count=$(le $((pe + 6)) 2 "$f"); optional=$(le $((pe + 20)) 2 "$f")
  table=$((pe + 24 + optional))
  for ((i = 0; i < count; i++)); do
    [ "$(dd if="$f" bs=1 skip=$((table + 40 * i)) count=8 status=none | tr -d '\0')" = ".trux" ] &&
      { le $((table + 40 * i + 20)) 4 "$f"; return; }
  done
}
printf '\x78\x56\x34\x12' | dd of="$C/t/Corrupt.exe" bs=1 seek=$(($(trux_offset "$C/t/Corrupt.exe") + 16)) \
  conv=notrunc status=none
silent "a corrupt archive" 1603 'C:\t\Corrupt.exe' '/s /l:"C:\logs\corrupt.log"'
e2e_check "/l: the log of a fatal error names the code" "
Run of C:\\t\\Corrupt.exe at DATE
Command line: /s /l:\"C:\\logs\\corrupt.log\"
Corrupt archive: error code 40
Message box \"FATAL ERROR\" (not shown), answered OK:
  Broken installer, code 40.
Exit code: 1603 (failed)" "$(log_of corrupt.log)"
# Without /s: the background window and the FATAL ERROR box.
robot start 'C:\t\Corrupt.exe' --args '/a' wait-box --caption "FATAL ERROR" --timeout 120 list print-text \
  answer 1 wait-exit --expect 1 >"$E2E_TMP/corrupt.out" 2>"$E2E_TMP/corrupt.err"
e2e_check "/a: a corrupt archive: the background window and the box, exit code 1" \
  $'rc 0\nBroken installer, code 40.\nclass=#32770 caption="FATAL ERROR" messagebox=1\nclass=XAV Window Class caption=""' \
  "rc $?"$'\n'"$(sed 's/^pid=[0-9]* //' "$E2E_TMP/corrupt.out" | LC_ALL=C sort)$(cat "$E2E_TMP/corrupt.err")"

# ---- a bad option: 1639 ---------------------------------------------------------------
silent "a bad option" 1639 'C:\t\Clean.exe' '/s /bogus /l:"C:\logs\bad.log"'
log="$(log_of bad.log)"
[[ "$log" == *$'\nMessage box "FATAL ERROR" (not shown), answered OK:\n  Illegal command line atom:\n  bogus\n\n  Usage:\n  Clean.exe [/a] [/s] '*$'\nExit code: 1639 (bad command line)' ]] &&
  e2e_pass "/l: the usage error and 1639 in the log" || e2e_fail "/l: the usage error and 1639 in the log" "$log"
robot start 'C:\t\Clean.exe' --args '/a /bogus' until-exit --timeout 120 --expect 1 >"$E2E_TMP/bad.out" 2>"$E2E_TMP/bad.err"
bad_rc=$?
[[ "$bad_rc" == 0 && "$(cat "$E2E_TMP/bad.out")" == \
   $'box FATAL ERROR\nIllegal command line atom:\\nbogus\\r\\n\\r\\nUsage:\\r\\nClean.exe [/a] [/s] '* ]] &&
  e2e_pass "/a: a bad option: the usage box, exit code 1" ||
  e2e_fail "/a: a bad option: the usage box, exit code 1" "rc $bad_rc: $(cat "$E2E_TMP/bad.out" "$E2E_TMP/bad.err")"

# ---- an excluded system: 1603 -----------------------------------------------------------
# error_boxes_in_automatic (flag bit 35): automatic mode shows the report.
project Excluded 'excluded_systems = ["xp", "vista"]' 'error_boxes_in_automatic = true'
build Excluded
silent "an excluded system" 1603 'C:\t\Excluded.exe' '/s /l:"C:\logs\excluded.log"'
[[ "$(log_of excluded.log)" == *$'\nMessage box "Problem" (not shown), answered OK:\n  Not on Windows '*$'\nExit code: 1603 (failed)' ]] &&
  e2e_pass "/l: the excluded system's report in the log" ||
  e2e_fail "/l: the excluded system's report in the log" "$(log_of excluded.log)"
robot start 'C:\t\Excluded.exe' --args '/a' until-exit --timeout 120 --expect 1 >"$E2E_TMP/ex.out" 2>"$E2E_TMP/ex.err"
ex_rc=$?
[[ "$ex_rc" == 0 && "$(cat "$E2E_TMP/ex.out")" == $'box Problem\nNot on Windows '* ]] &&
  e2e_pass "/a: an excluded system: the report, exit code 1" ||
  e2e_fail "/a: an excluded system: the report, exit code 1" "rc $ex_rc: $(cat "$E2E_TMP/ex.out" "$E2E_TMP/ex.err")"

# ---- a refused previous installation (flag bit 0): 1603 ------------------------------------
project Refuse '' 'refuse_reinstall = true'
build Refuse
silent "the first installation of a product that refuses reinstalling" 0 'C:\t\Refuse.exe' '/s'
silent "a previous installation refused" 1603 'C:\t\Refuse.exe' '/s /l:"C:\logs\refuse.log"'
[[ "$(log_of refuse.log)" == *$'\nMessage box "Problem" (not shown), answered OK:\n  Already installed: remove it first.\nExit code: 1603 (failed)' ]] &&
  e2e_pass "/l: the refusal in the log" || e2e_fail "/l: the refusal in the log" "$(log_of refuse.log)"
shown "a previous installation refused" 1 $'box Problem\nAlready installed: remove it first.\n' 'C:\t\Refuse.exe' '/a'

# ---- cancelled: the password dialog, a missing volume: 1602 -----------------------------
project Password 'password = "secret"' ''
build Password
silent "a password asked for" 1602 'C:\t\Password.exe' '/s /l:"C:\logs\password.log"'
[[ "$(log_of password.log)" == *$'\nDialog "EnterPassword" (not shown), answered Cancel\nExit code: 1602 (cancelled)' ]] &&
  e2e_pass "/l: the password dialog cancelled in the log" ||
  e2e_fail "/l: the password dialog cancelled in the log" "$(log_of password.log)"
e2e_robot "/a: a password asked for: the dialog, exit code 1" 0 "" "" \
  start 'C:\t\Password.exe' --args '/a' wait-window Password --exact --timeout 120 click 1003 wait-exit --expect 1
[ -e "$C/Silent/Password" ] && e2e_fail "cancelled runs installed nothing" "C:\\Silent\\Password exists" ||
  e2e_pass "cancelled runs installed nothing"

project Volumes '' '' $'[data]\noutside_image = true\n\n[[file]]\nsource = "files/big.bin"'
build Volumes --volume-size 6000
mv "$C/t/Volumes3.XAV" "$W/Volumes3.XAV"
silent "a volume not provided" 1602 'C:\t\Volumes.exe' '/s /l:"C:\logs\volume.log"'
[[ "$(log_of volume.log)" == *$'\nMessage box "Insert Volume" (not shown), answered Cancel:\n  Insert volume 3 in drive C:.\nMessage box "Question" (not shown), answered Yes:\n  Cancel the installation?\nExit code: 1602 (cancelled)' ]] &&
  e2e_pass "/l: the volume prompt and the cancel confirmation in the log" ||
  e2e_fail "/l: the volume prompt and the cancel confirmation in the log" "$(log_of volume.log)"
e2e_robot "/a: a volume not provided: the prompt and the confirmation, exit code 1" 0 \
  $'Insert volume 3 in drive C:.\nCancel the installation?\n' "" \
  start 'C:\t\Volumes.exe' --args '/a' wait-box --caption "Insert Volume" --timeout 120 print-text answer 2 \
  wait-box --caption Question print-text answer 6 wait-exit --expect 1
mv "$W/Volumes3.XAV" "$C/t/Volumes3.XAV"

# ---- the uninstaller: /u:"name" /s ---------------------------------------------------------
# Administrators add /s to the QuietUninstallString the installation wrote.
quiet_of() {
  wine reg query "$UNINSTALL_KEY\\$1" /v QuietUninstallString 2>/dev/null | tr -d '\r' |
    awk '/REG_SZ/ { sub(/^.*REG_SZ */, ""); print }'
}
# The uninstaller's path: the command line up to its options, without quotes.
program_of() { local p="${1%% /a*}"; printf '%s' "${p//\"/}"; }
quiet="$(quiet_of "Silent Clean")"
case "$quiet" in
  'C:\Silent\Clean\Uninstall.exe /a /u:"Silent Clean"' | '"C:\Silent\Clean\Uninstall.exe" /a /u:"Silent Clean"')
    e2e_pass "the QuietUninstallString keeps its value: $quiet" ;;
  *) e2e_fail "the QuietUninstallString keeps its value" "got $quiet" ;;
esac
e2e_robot "/u: /s: a clean uninstall: exit code 0, no window" 0 "" "" \
  start "$(program_of "$quiet")" --command-line "$quiet /s /l:\"C:\\logs\\uninstall.log\"" \
  until-exit --no-window --timeout 120 --expect 0
for _ in $(seq 100); do [ -e "$C/Silent/Clean" ] || break; sleep 0.1; done
why=()
[ -e "$C/Silent/Clean" ] && why+=("C:\\Silent\\Clean is still there: $(ls -A "$C/Silent/Clean")")
has_key "Silent Clean" && why+=("the Uninstall key is still there")
[[ "$(log_of uninstall.log)" == *$'\nProduct: Silent Clean, version 1.0\nExit code: 0 (completed)' ]] ||
  why+=("log: $(log_of uninstall.log)")
[ ${#why[@]} -eq 0 ] && e2e_pass "/u: /s: everything removed, the log ends with 0" ||
  e2e_fail "/u: /s: everything removed, the log ends with 0" "${why[@]}"

quiet="$(quiet_of "Silent Held")"
# Without /s a file in use is an error: everything stays for another run.
e2e_robot "/u: /a: a held file: no box, exit code 1" 0 "" "" \
  hold-file 'C:\Silent\Held\b.txt' start "$(program_of "$quiet")" --command-line "$quiet" until-exit --timeout 120 --expect 1
has_key "Silent Held" && [ -f "$C/Silent/Held/Uninstall.exe" ] &&
  e2e_pass "/u: /a: a held file: the key and the uninstaller stay" ||
  e2e_fail "/u: /a: a held file: the key and the uninstaller stay" "$(ls -A "$C/Silent/Held" 2>&1)"
# With /s nobody can retry: the file is deleted at the next restart, 3010.
e2e_robot "/u: /s: a held file: exit code 3010, no window" 0 "" "" \
  hold-file 'C:\Silent\Held\b.txt' start "$(program_of "$quiet")" --command-line "$quiet /s /l:\"C:\\logs\\uninstall-held.log\"" \
  until-exit --no-window --timeout 120 --expect 3010
why=()
has_key "Silent Held" && why+=("the Uninstall key is still there")
[[ "$(pending)" == *'silent\held\b.txt'* ]] || why+=("no deletion pending: $(pending)")
[ -e "$C/Silent/Held/app.txt" ] && why+=("app.txt, not held, is still there")
[[ "$(log_of uninstall-held.log)" == *$'\nUninstall log:\n  File \'C:\\Silent\\Held\\b.txt\' will be deleted after rebooting: '*$'\nExit code: 3010 (completed; a restart is needed to finish)' ]] ||
  why+=("log: $(log_of uninstall-held.log)")
[ ${#why[@]} -eq 0 ] && e2e_pass "/u: /s: a held file: its deletion waits for the restart, the rest is gone" ||
  e2e_fail "/u: /s: a held file: its deletion waits for the restart, the rest is gone" "${why[@]}"

# ---- log paths that are links: refused like a bad option, nothing done ---------------------
printf 'not a log\r\n' >"$C/logs/keep.txt"
mkdir -p "$C/logs/folder"
ln "$C/logs/keep.txt" "$C/logs/hard.log"
ln -s "$C/logs/keep.txt" "$C/logs/symbolic.log"
ln -s "$C/logs/nowhere.txt" "$C/logs/dangling.log"
ln -s "$C/logs/folder" "$C/logs/folder.log"
for link in hard symbolic dangling folder; do
  silent "a log path that is a link ($link)" 1639 'C:\t\Clean.exe' "/s /l:\"C:\\logs\\$link.log\""
done
why=()
[ "$(cat "$C/logs/keep.txt")" = $'not a log\r' ] || why+=("keep.txt changed: $(cat "$C/logs/keep.txt")")
[ -e "$C/logs/nowhere.txt" ] && why+=("the dangling link's target was created")
[ -n "$(ls -A "$C/logs/folder")" ] && why+=("something was written into the folder")
[ -e "$C/Silent/Clean" ] && why+=("the installation ran")
[ ${#why[@]} -eq 0 ] && e2e_pass "/l: links refused: nothing written, nothing installed" ||
  e2e_fail "/l: links refused: nothing written, nothing installed" "${why[@]}"
shown "a log path that is a link" 1 \
  $'box FATAL ERROR\nThe log file "C:\\\\logs\\\\hard.log" is a link, a directory or a file with another name; it is not written.\n' \
  'C:\t\Clean.exe' '/a /l:"C:\logs\hard.log"'

# ---- a restart the run makes itself: 0 ---------------------------------------------------
# Without auto_restart, automatic mode restarts at once when a replacement
# waits; the run then made the restart the replacement needs, so it ends
# with 0. Last in the script: the restart ends the prefix's programs and
# carries out every replacement and deletion scheduled above. The file is
# held by a robot that lets go of it when the session ends, as a running
# program does (see install_choices.sh).
project Restart '' 'rescue_new_files = true'
build Restart
silent "the first installation of the restarting product" 0 'C:\t\Restart.exe' '/s'
printf 'payload 3\r\n' >"$W/files/app.txt"
touch -d '2022-01-01 12:00' "$W/files/app.txt"
build Restart
rm -f "$C/held.ready"
robot hold-file 'C:\Silent\Restart\app.txt' make-file 'C:\held.ready' await-end-session --timeout 180 \
  >"$E2E_TMP/holder.out" 2>"$E2E_TMP/holder.err" &
holder=$!
silent "a held file, and the product restarts by itself" 0 'C:\t\Restart.exe' '/s /l:"C:\logs\restart.log"' \
  wait-file 'C:\held.ready' --timeout 120
wait "$holder"
e2e_check "/s: the restart was made: the programs running were asked to end" "rc 0: session ended" \
  "rc $?: $(tr -d '\r\n' <"$E2E_TMP/holder.out")$(cat "$E2E_TMP/holder.err")"
log="$(log_of restart.log)"
[[ "$log" != *"Message box"* && "$log" == *$'\n  Reboot will be required.\n\nExit code: 0 (completed)' ]] &&
  e2e_pass "/l: no question, the replacement, and 0 after the restart" ||
  e2e_fail "/l: no question, the replacement, and 0 after the restart" "$log"

e2e_end

#!/usr/bin/env bash
# End to end: the uninstaller on installations made by hand. Each product is
# laid down the way an installation leaves it - files and directories, the
# Uninstall key with its values, "Uninstall.DAT", association backups,
# shared-file counts, product keys, fonts, a start-menu folder, autoexec.bat -
# and the stub, which is exactly what an uninstaller copy is, removes it.
# The robot answers the windows as a person would.
# Usage: uninstall.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin uninstall "$SRC"

C="$WINEPREFIX/drive_c"
UNINSTALL_KEY='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
USERDIR="$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')"
PROGRAMS="$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Programs |
  tr -d '\r' | awk '/REG_SZ/ { sub(/^.*REG_SZ */, ""); print }')"

PROGRAMS_UNIX="$(unix "$PROGRAMS")"
mkdir -p "$PROGRAMS_UNIX"
# A text as a .reg string: backslashes and quotes escaped.
regq() { local s="${1//\\/\\\\}"; printf '"%s"' "${s//\"/\\\"}"; }
# reg_import LINES...: a REGEDIT4 file of the given lines, imported.
reg_import() {
  { printf 'REGEDIT4\r\n\r\n'; printf '%s\r\n' "$@"; } >"$E2E_TMP/in.reg"
  wine reg import "$(winepath -w "$E2E_TMP/in.reg")" >/dev/null 2>&1
}

# The uninstall message set of "Uninstall.DAT".
MESSAGES=$'~10\r\nUninstall finished with errors:\r\n%s\r\n~15\r\nUninstall\r\n~20\r\nWarning\r\n~21\r\nError\r\n'\
$'~34\r\nThe product was removed.\r\n~35\r\nShared file\r\n~53\r\nRemove the product and all of its components?\r\n'\
$'~55\r\nUninstall Product\r\n~56\r\nRemove the font %s?\r\n~57\r\nFonts\r\n~58\r\nUnable to remove\r\n'\
$'~59\r\nRemove the shared file %s?\r\n~67\r\nRemoving fonts...\r\n~68\r\nCleaning up...\r\n'\
$'~69\r\nRemoving registry keys...\r\n~70\r\nRestoring associations...\r\n~71\r\nRemoving the product...\r\n'\
$'~74\r\nRestart now?\r\n'

# write_dat DIR BODY [ASSOCIATIONS]: DIR\Uninstall.DAT as an installation writes it.
write_dat() {
  local text="$2"$'\r\n\r\n[Strings]\r\n'"$MESSAGES"
  [ -n "${3:-}" ] && text+=$'\r\n\r\n[Associations]\r\n'"$3"
  mkdir -p "$(unix "$1")"
  printf '%s' "$text" >"$(unix "$1")/Uninstall.DAT"
}

# put FILE...: creates each C: file with a little content (an existing file stays as it is).
put() {
  local f
  for f in "$@"; do
    [ -e "$(unix "$f")" ] && continue
    mkdir -p "$(dirname "$(unix "$f")")"
    printf 'data of %s\r\n' "$f" >"$(unix "$f")"
  done
}

# Everything in the prefix's drive with size and time, and the registry as
# exported: what "nothing changed" is measured against.
snapshot() {
  (cd "$C" && find . -printf '%p %s %T@\n' | sort)
  wine reg export 'HKEY_LOCAL_MACHINE\Software' "$(winepath -w "$E2E_TMP/hklm.reg")" /y >/dev/null 2>&1
  wine reg export 'HKEY_CURRENT_USER\Software' "$(winepath -w "$E2E_TMP/hkcu.reg")" /y >/dev/null 2>&1
  md5sum <"$E2E_TMP/hklm.reg"; md5sum <"$E2E_TMP/hkcu.reg"
}

# ---------------------------------------------------------------------------
# A complete product: name NAME in C:\NAME, flags FLAGS.
make_product() {
  local name="$1" flags="$2" dir="C:\\$1"
  put "$dir\\app.exe" "$dir\\docs\\intro.txt" "$dir\\docs\\guide\\chapter1.txt" "$dir\\Install.LOG" \
    "C:\\Common\\$name-only.dll" "C:\\Common\\shared.dll"
  put "C:\\windows\\Fonts\\${name}sans.ttf"
  mkdir -p "$PROGRAMS_UNIX/$name Suite/$name"
  printf 'link' >"$PROGRAMS_UNIX/$name Suite/$name/$name.lnk"
  mkdir -p "$C/out"
  cp "$STUB" "$(unix "$dir")/Uninstall.exe"
  printf 'REM other settings\r\nPATH=%%PATH%%;%s\r\n' "$dir" >"$C/autoexec.bat"
  local lnk="$PROGRAMS\\$name Suite\\$name\\$name.lnk"
  # A folder on the desktop, emptied by the uninstall: it goes, the Desktop stays.
  mkdir -p "$(unix "$USERDIR")/Desktop/$name Folder"
  write_dat "$dir" "~$USERDIR\\Desktop\\$name Folder"$'\r\n'"$dir\\app.exe"$'\r\n'"~$dir\\docs"$'\r\n'"$dir\\docs\\intro.txt"$'\r\n'"~$dir\\docs\\guide"$'\r\n'"$dir\\docs\\guide\\chapter1.txt"$'\r\n'"$lnk"$'\r\n'"~$dir"$'\r\n' \
    ".${name,,}~!~${name}File~!~open"$'\r\n'
  local key="[$UNINSTALL_KEY\\$name]"
  reg_import \
    "$key" \
    "\"UninstallString\"=$(regq "$dir\\Uninstall.exe /u:\"$name\"")" \
    "\"DisplayName\"=$(regq "$name")" \
    "\"InstallLocation\"=$(regq "$dir")" \
    "\"ProductFlags\"=\"$flags\"" \
    "\"SharedPath\"=\"C:\\\\Common\"" \
    "\"SharedFiles\"=$(regq "\"C:\\Common\\shared.dll\";\"C:\\Common\\$name-only.dll\"")" \
    "\"ProductFonts\"=$(regq "\"$name Sans (TrueType)\" \"${name}sans.ttf\" ")" \
    "\"ProductStartMenu\"=$(regq "$name Suite\\$name")" \
    "\"ProductRegistry\"=$(regq "${name}Vendor\\$name")" \
    "\"UninstallBatch1\"=$(regq "echo first %InstallDir%> C:\\out\\$name-b1.txt")" \
    "\"UninstallBatch2\"=$(regq "cd> C:\\out\\$name-b2.txt")" \
    "\"DisplayTitle\"=$(regq "$name")" \
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]" \
    "$(regq "C:\\Common\\shared.dll")=dword:00000002" \
    "$(regq "C:\\Common\\$name-only.dll")=dword:00000001" \
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]" \
    "$(regq "$name Sans (TrueType)")=$(regq "${name}sans.ttf")" \
    "[HKEY_LOCAL_MACHINE\\Software\\${name}Vendor\\$name\\Settings]" \
    "\"Level\"=\"3\"" \
    "[HKEY_CURRENT_USER\\Software\\${name}Vendor\\$name]" \
    "\"Window\"=\"1\"" \
    "[HKEY_CURRENT_USER\\Software\\${name}Vendor\\Other]" \
    "\"Kept\"=\"1\"" \
    "[HKEY_CLASSES_ROOT\\.${name,,}]" \
    "@=\"${name}File\"" \
    "$(regq "$name Backup")=\"OtherFile\"" \
    "[HKEY_CLASSES_ROOT\\OtherFile\\shell\\open\\command]" \
    "@=\"other.exe %1\"" \
    "[HKEY_CLASSES_ROOT\\${name}File]" \
    "@=\"$name document\"" \
    "[HKEY_CLASSES_ROOT\\${name}File\\DefaultIcon]" \
    "@=$(regq "$dir\\app.exe,0")" \
    "[HKEY_CLASSES_ROOT\\${name}File\\shell\\open\\command]" \
    "@=$(regq "\"$dir\\app.exe\" \"%1\"")"
}

# check_removed NAME: after a clean run nothing of the product is left, and
# everything around it is as it was.
check_removed() {
  local name="$1" dir="C:\\$1" why=()
  # The uninstaller deletes itself through its batch, which waits for it to end.
  local i
  for i in $(seq 1 100); do [ -e "$(unix "$dir")" ] || break; sleep 0.1; done
  [ -e "$(unix "$dir")" ] && why+=("$dir is still there: $(cd "$(unix "$dir")" && find . | tr '\n' ' ')")
  reg_has_key "$UNINSTALL_KEY\\$name" && why+=("the Uninstall key is still there")
  [ -e "$PROGRAMS_UNIX/$name Suite" ] && why+=("the start-menu folder is still there")
  [ -d "$PROGRAMS_UNIX" ] || why+=("the Programs folder itself went")
  [ -e "$(unix "$USERDIR")/Desktop/$name Folder" ] && why+=("the desktop folder is still there")
  [ -d "$(unix "$USERDIR")/Desktop" ] || why+=("the emptied Desktop itself went")
  [ -e "$(unix "C:\\windows\\Fonts\\${name}sans.ttf")" ] && why+=("the font file is still there")
  [ -n "$(reg_value 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' "$name Sans (TrueType)")" ] &&
    why+=("the font value is still there")
  [ -e "$(unix "C:\\Common\\$name-only.dll")" ] && why+=("the product's shared DLL is still there")
  [ -e "$(unix 'C:\Common\shared.dll')" ] || why+=("the other product's shared DLL went")
  local counts
  counts="$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' 2>/dev/null | tr -d '\r')"
  [[ "$counts" == *"$name-only.dll"* ]] && why+=("the product's shared count is still there")
  reg_has_key "HKLM\\Software\\${name}Vendor" && why+=("HKLM\\Software\\${name}Vendor is still there")
  reg_has_key "HKCU\\Software\\${name}Vendor\\$name" && why+=("HKCU product key is still there")
  reg_has_key "HKCU\\Software\\${name}Vendor\\Other" || why+=("the other HKCU key went")
  [ "$(reg_default "HKCR\\.${name,,}")" = "OtherFile" ] || why+=("the association was not restored")
  [ -n "$(reg_value "HKCR\\.${name,,}" "$name Backup")" ] && why+=("the backup value is still there")
  reg_has_key "HKCR\\${name}File" && why+=("the product's file type is still there")
  reg_has_key 'HKCR\OtherFile\shell\open\command' || why+=("the other file type went")
  grep -qi "PATH=%PATH%;$dir" "$C/autoexec.bat" && why+=("autoexec.bat still has the PATH line")
  grep -q 'REM other settings' "$C/autoexec.bat" || why+=("autoexec.bat lost its other lines")
  [ "$(tr -d '\r' <"$C/out/$name-b1.txt" 2>/dev/null)" = "first $dir" ] || why+=("batch 1 did not run in the install directory")
  [ "$(tr -d '\r' <"$C/out/$name-b2.txt" 2>/dev/null)" = 'C:\' ] || why+=("batch 2 did not run in the drive's root")
  [ -e "$C/TRUXBAT.BAT" ] && why+=("the batch file of batch 2 was left behind")
  # The batch deletes itself; its directory goes with it where the
  # interpreter closes the batch file between lines. Wine's interpreter keeps
  # it open until it ends, so there the empty directory stays: anything in it
  # would be a fault.
  local left
  left="$(find "$C/users" -path '*/Temp/trux-*/*' 2>/dev/null)"
  [ -n "$left" ] && why+=("the self-deleting batch left $left")
  if [ ${#why[@]} -eq 0 ]; then e2e_pass "clean uninstall of $name"; else e2e_fail "clean uninstall of $name" "${why[@]}"; fi
}

# ---- refusals ----------------------------------------------------------------
mkdir -p "$C/tools"
cp "$STUB" "$C/tools/uninst.exe"
UNINST='C:\tools\uninst.exe'

e2e_robot "no such product: the report" 0 $'box Error\nNo product named \'Nope\' is installed.\n' "" \
  start "$UNINST" --args '/u:"Nope"' until-exit --answer 1 --expect 1 --timeout 30
e2e_robot "no such product in automatic mode: no box" 0 "" "" \
  start "$UNINST" --args '/a /u:"Nope"' until-exit --answer 1 --expect 1 --timeout 30
e2e_robot "a name with a backslash reaches no other key" 0 $'box Error\nNo product named \'Nope\\\\..\' is installed.\n' "" \
  start "$UNINST" --args '/u:"Nope\.."' until-exit --answer 1 --expect 1 --timeout 30

reg_import "[$UNINSTALL_KEY\\Broken]" '"DisplayName"="Broken Product"' '"InstallLocation"="  "'
e2e_robot "a blank InstallLocation: the corrupt report" 0 \
  $'box Error\nThe uninstall information for Broken Product is corrupt.\\r\\n\\r\\nThe uninstallation cannot be performed.\n' "" \
  start "$UNINST" --args '/u:"Broken"' until-exit --answer 1 --expect 1 --timeout 30
reg_has_key "$UNINSTALL_KEY\\Broken" && e2e_pass "a corrupt key stays" || e2e_fail "a corrupt key stays"

# ---- declining the confirmation changes nothing --------------------------------
make_product Demo 134221824   # bits 12, 26, 27

snapshot >"$E2E_TMP/before"
e2e_robot "the confirmation: message 53 captioned 55, declined" 0 \
  $'Remove the product and all of its components?\n' "" \
  start 'C:\Demo\Uninstall.exe' --args '/u:"Demo"' wait-box --caption "Uninstall Product" print-text \
  answer 7 wait-exit --expect 1 --timeout 30

snapshot >"$E2E_TMP/after"
if diff "$E2E_TMP/before" "$E2E_TMP/after" >"$E2E_TMP/diff"; then
  e2e_pass "declining changed nothing (files and registry)"
else
  e2e_fail "declining changed nothing (files and registry)" "$(head -20 "$E2E_TMP/diff")"
fi

# ---- a whole product, as a person removes it ------------------------------------
e2e_robot "uninstall by hand: confirmation, then the completion message" 0 \
  $'box Uninstall\nThe product was removed.\n' "" \
  start 'C:\Demo\Uninstall.exe' --args '/u:"Demo"' wait-box --caption "Uninstall Product" answer 6 \
  until-exit --answer 1 --expect 1 --timeout 60
check_removed Demo

# ---- the same in automatic mode (/a), no window asks anything ---------------------
rm -rf "$C/out"
make_product Auto 134221824
e2e_robot "automatic mode: no box at all" 0 "" "" \
  start 'C:\Auto\Uninstall.exe' --args '/a /u:"Auto"' until-exit --answer 1 --expect 1 --timeout 60
check_removed Auto

# ---- the data file's digest: a changed Uninstall.DAT is refused ----------------------
# The installation stores the SHA-256 of Uninstall.DAT in the Uninstall key,
# which only administrators can change. A line added to the file (naming a
# file outside the product) makes the uninstaller refuse: nothing is
# deleted or changed. The file as it was written still uninstalls.
rm -rf "$C/out"
make_product Sealed 134221824
cp "$C/Sealed/Uninstall.DAT" "$E2E_TMP/sealed.dat"
reg_import "[$UNINSTALL_KEY\\Sealed]" "\"UninstallDataSHA256\"=\"$(sha256sum <"$E2E_TMP/sealed.dat" | cut -d' ' -f1)\""
put 'C:\victim.txt'
{ printf 'C:\\victim.txt\r\n'; cat "$E2E_TMP/sealed.dat"; } >"$C/Sealed/Uninstall.DAT"
snapshot >"$E2E_TMP/before"
e2e_robot "a changed Uninstall.DAT: refused with its report" 0 \
  $'box Error\nThe uninstall information for Sealed has been changed since the installation:\\r\\nC:\\\\Sealed\\\\Uninstall.DAT\\r\\n\\r\\nThe uninstallation cannot be performed.\n' "" \
  start 'C:\Sealed\Uninstall.exe' --args '/u:"Sealed"' until-exit --answer 1 --expect 1 --timeout 60
e2e_robot "a changed Uninstall.DAT in automatic mode: refused without a box" 0 "" "" \
  start 'C:\Sealed\Uninstall.exe' --args '/a /u:"Sealed"' until-exit --answer 1 --expect 1 --timeout 60
snapshot >"$E2E_TMP/after"
if diff "$E2E_TMP/before" "$E2E_TMP/after" >"$E2E_TMP/diff"; then
  e2e_pass "a changed Uninstall.DAT: nothing changed (files and registry)"
else
  e2e_fail "a changed Uninstall.DAT: nothing changed (files and registry)" "$(head -20 "$E2E_TMP/diff")"
fi
cp "$E2E_TMP/sealed.dat" "$C/Sealed/Uninstall.DAT"
e2e_robot "the unchanged Uninstall.DAT: uninstalled" 0 $'box Uninstall\nThe product was removed.\n' "" \
  start 'C:\Sealed\Uninstall.exe' --args '/u:"Sealed"' wait-box --caption "Uninstall Product" answer 6 \
  until-exit --answer 1 --expect 1 --timeout 60
check_removed Sealed
[ -e "$C/victim.txt" ] && e2e_pass "the file outside the product stays" ||
  e2e_fail "the file outside the product stays" "C:\\victim.txt went"

# ---- "!" lines: only the installation's own association keys go ------------------
KEYS_CLSID='{7E1A5C00-0000-4000-8000-00000000C1D5}'
mkdir -p "$C/Keys"
cp "$STUB" "$C/Keys/Uninstall.exe"
write_dat 'C:\Keys' "!CLSID\\$KEYS_CLSID"$'\r\n!KeysFile\r\n' $'.keys~!~KeysFile~!~open\r\n'
reg_import "[$UNINSTALL_KEY\\Keys]" '"DisplayName"="Keys"' '"InstallLocation"="C:\\Keys"' '"ProductFlags"="0"' \
  "[HKEY_CLASSES_ROOT\\CLSID\\$KEYS_CLSID\\InprocServer32]" '@="other.dll"' \
  '[HKEY_CLASSES_ROOT\.keys]' '@="KeysFile"' \
  '[HKEY_CLASSES_ROOT\KeysFile\shell\open\command]' '@="keys.exe %1"' \
  '[HKEY_CLASSES_ROOT\KeysFile\shell\edit\command]' '@="keys.exe /e %1"'
e2e_robot "a class key the installation did not create: reported" 0 \
  "box Warning
Uninstall finished with errors:\\r\\nThe registry key HKEY_CLASSES_ROOT\\\\CLSID\\\\$KEYS_CLSID was not removed: the installation did not create it.\\r\\n\\r\\n
" "" \
  start 'C:\Keys\Uninstall.exe' --args '/u:"Keys"' wait-box --caption "Uninstall Product" answer 6 \
  until-exit --answer 1 --expect 1 --timeout 60
why=()
reg_has_key "HKCR\\CLSID\\$KEYS_CLSID\\InprocServer32" || why+=("the CLSID key went")
reg_has_key 'HKCR\KeysFile' && why+=("the installation's file type is still there")
if [ ${#why[@]} -eq 0 ]; then e2e_pass "\"!\" lines: the CLSID key stays, the file type goes"; else
  e2e_fail "\"!\" lines: the CLSID key stays, the file type goes" "${why[@]}"; fi
wine reg delete "HKCR\\CLSID\\$KEYS_CLSID" /f >/dev/null 2>&1

# ---- a file held open: reported, kept, retried -------------------------------------
put 'C:\Held\a.txt' 'C:\Held\sub\b.txt' 'C:\Held\held.txt'
cp "$STUB" "$C/Held/Uninstall.exe"
write_dat 'C:\Held' $'C:\\Held\\a.txt\r\n~C:\\Held\\sub\r\nC:\\Held\\sub\\b.txt\r\nC:\\Held\\held.txt\r\n'
reg_import "[$UNINSTALL_KEY\\Held]" '"DisplayName"="Held"' '"InstallLocation"="C:\\Held"' '"ProductFlags"="1024"'
e2e_robot "a file in use: message 58 with its path in the final report" 0 \
  $'box Warning\nUninstall finished with errors:\\r\\nUnable to remove C:\\\\Held\\\\held.txt\\r\\n\n' "" \
  hold-file 'C:\Held\held.txt' start 'C:\Held\Uninstall.exe' --args '/u:"Held"' wait-box --caption "Uninstall Product" \
  answer 6 until-exit --answer 1 --expect 1 --timeout 60
why=()
[ -e "$C/Held/held.txt" ] || why+=("the held file went")
[ -e "$C/Held/a.txt" ] && why+=("a.txt is still there")
[ -e "$C/Held/sub" ] && why+=("the emptied subdirectory is still there")
[ -e "$C/Held/Uninstall.exe" ] || why+=("the uninstaller went")
reg_has_key "$UNINSTALL_KEY\\Held" || why+=("the Uninstall key went")
dat="$(cat "$C/Held/Uninstall.DAT" 2>/dev/null)"
[ "${dat%%$'\r\n\r\n[Strings]'*}" = $'C:\\Held\\held.txt\r\n' ] || why+=("Uninstall.DAT body: $(e2e_esc "${dat:0:80}")")
[[ "$dat" == *$'~53\r\nRemove the product and all of its components?\r\n'* ]] || why+=("Uninstall.DAT lost its messages")
if [ ${#why[@]} -eq 0 ]; then e2e_pass "a file in use: key, uninstaller and a data file naming only it remain"; else
  e2e_fail "a file in use: key, uninstaller and a data file naming only it remain" "${why[@]}"; fi
e2e_robot "the second run finishes the job" 0 "" "" \
  start 'C:\Held\Uninstall.exe' --args '/a /u:"Held"' until-exit --answer 1 --expect 1 --timeout 60
for i in $(seq 1 100); do [ -e "$C/Held" ] || break; sleep 0.1; done
why=()
[ -e "$C/Held" ] && why+=("C:\\Held is still there: $(cd "$C/Held" && find . | tr '\n' ' ')")
reg_has_key "$UNINSTALL_KEY\\Held" && why+=("the Uninstall key is still there")
if [ ${#why[@]} -eq 0 ]; then e2e_pass "after the second run nothing is left"; else e2e_fail "after the second run nothing is left" "${why[@]}"; fi

# ---- whole-directory removal refused for a drive root and the profile ---------------
guarded() {  # CASE LOCATION FILE KEEP...
  local case="$1" location="$2" file="$3"
  shift 3
  put "$file" "$@"
  write_dat "${location%\\}\\Guard" "$file"$'\r\n'
  reg_import "[$UNINSTALL_KEY\\Guard]" '"DisplayName"="Guard"' "\"InstallLocation\"=$(regq "$location")" \
    '"UninstallSubdir"="Guard"' '"ProductFlags"="1024"'
  robot start "$UNINST" --args '/a /u:"Guard"' until-exit --answer 1 --expect 1 --timeout 60 >"$E2E_TMP/g.out" 2>&1
  local why=() k
  [ -e "$(unix "$file")" ] && why+=("the recorded file $file is still there")
  for k in "$@"; do [ -e "$(unix "$k")" ] || why+=("$k went"); done
  reg_has_key "$UNINSTALL_KEY\\Guard" || why+=("the refusal left no trace: the Uninstall key went")
  if [ ${#why[@]} -eq 0 ]; then e2e_pass "bit 10 refused: $case"; else e2e_fail "bit 10 refused: $case" "${why[@]}"; fi
  wine reg delete "$UNINSTALL_KEY\\Guard" /f >/dev/null 2>&1
}
guarded "a drive root" 'C:\' 'C:\guard-file.txt' 'C:\keep-me.txt' 'C:\tools\uninst.exe'
guarded "the profile folder" "$USERDIR" "$USERDIR\\guard-file.txt" "$USERDIR\\keep-me.txt" "$USERDIR\\Desktop\\note.txt"
guarded "the Windows directory" 'C:\windows' 'C:\windows\guard-file.txt' 'C:\windows\keep-me.txt'
# The report says why, in the final message of a run with windows.
put 'C:\guard2.txt'
write_dat 'C:\Guard' $'C:\\guard2.txt\r\n'
reg_import "[$UNINSTALL_KEY\\Guard]" '"DisplayName"="Guard"' '"InstallLocation"="C:\\"' \
  '"UninstallSubdir"="Guard"' '"ProductFlags"="1024"'
e2e_robot "bit 10 refused: the final report names the directory and the reason" 0 \
  $'box Warning\nUninstall finished with errors:\\r\\nThe directory "C:\\\\" was not removed with everything in it: it is the root of a drive or share.  Only the files the installation recorded were removed.\\r\\n\\r\\n\n' "" \
  start "$UNINST" --args '/u:"Guard"' wait-box --caption "Uninstall Product" answer 6 \
  until-exit --answer 1 --expect 1 --timeout 60

# ---- the Uninstall entry's own command line: the path unquoted, with blanks ----
mkdir -p "$C/Program Files/Spaced App"
cp "$STUB" "$C/Program Files/Spaced App/Un Install.exe"
put 'C:\Program Files\Spaced App\a.txt'
write_dat 'C:\Program Files\Spaced App' $'C:\\Program Files\\Spaced App\\a.txt\r\n'
reg_import "[$UNINSTALL_KEY\\Spaced]" '"InstallLocation"="C:\\Program Files\\Spaced App"' \
  '"QuietUninstallString"="C:\\Program Files\\Spaced App\\Un Install.exe /a /u:\"Spaced\""'
quiet="$(reg_value "$UNINSTALL_KEY\\Spaced" QuietUninstallString)"
e2e_robot "the QuietUninstallString runs as written" 0 "" "" \
  start 'C:\Program Files\Spaced App\Un Install.exe' --command-line "$quiet" until-exit --answer 1 --expect 1 --timeout 60
for i in $(seq 1 100); do [ -e "$C/Program Files/Spaced App" ] || break; sleep 0.1; done
why=()
[ -e "$C/Program Files/Spaced App" ] && why+=("the directory is still there")
reg_has_key "$UNINSTALL_KEY\\Spaced" && why+=("the Uninstall key is still there")
if [ ${#why[@]} -eq 0 ]; then e2e_pass "blanks in the uninstaller's path: removed"; else e2e_fail "blanks in the uninstaller's path: removed" "${why[@]}"; fi

# ---- a missing Uninstall.DAT: the registry-based steps still run ------------------------
reg_import "[$UNINSTALL_KEY\\NoData]" '"InstallLocation"="C:\\NoData"' '"ProductRegistry"="NoDataVendor"' \
  '[HKEY_LOCAL_MACHINE\Software\NoDataVendor\Sub]'
mkdir -p "$C/NoData"
e2e_robot "no Uninstall.DAT: the run ends clean" 0 "" "" \
  start "$UNINST" --args '/a /u:"NoData"' until-exit --answer 1 --expect 1 --timeout 60
why=()
reg_has_key 'HKLM\Software\NoDataVendor' && why+=("the product key is still there")
reg_has_key "$UNINSTALL_KEY\\NoData" && why+=("the Uninstall key is still there")
if [ ${#why[@]} -eq 0 ]; then e2e_pass "no Uninstall.DAT: keys removed"; else e2e_fail "no Uninstall.DAT: keys removed" "${why[@]}"; fi

e2e_end

#!/usr/bin/env bash
# End to end: what an installation does after the files, under Wine. A
# product with a shared file, a COM server and a type library, shortcuts on
# the desktop (in a desktop folder with its icon), in the start menu and in
# Startup, uninstaller shortcuts, a product key, a file association over an
# extension another program owns, and kept readme files is installed in
# automatic mode, then installed again. Checks the links read back through
# IShellLinkA, the registry, the files, Uninstall.DAT and Install.LOG.
# Usage: actions.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin actions "$SRC"
e2e_need_truxpack
# The Win32 tests' fixtures: a COM server whose DllRegisterServer writes
# HKCU\Software\TruxComFixture, and a type library built with widl.
e2e_need_fixtures "$STUB" com_server_fixture.dll typelib_fixture.tlb
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
mkdir -p "$W/files"
printf 'the application\r\n' >"$W/files/app.txt"
printf 'shared data\r\n' >"$W/files/common.dat"
printf 'ICONDATA' >"$W/folder.ico"
printf 'Read me first.' >"$W/readme.txt"
cp "$FIXTURES/com_server_fixture.dll" "$FIXTURES/typelib_fixture.tlb" "$W/files/"

cat >"$W/actions.toml" <<'EOF'
[product]
name = "Actions Test"
publisher = "Trux Tests"
version = "1.0"
install_dir = "Actions Test"
registry_key = "Trux Tests\\Actions Test"

[flags]
uninstaller = true
automatic = true
always_write_log = true
verbose_log = true
uninstall_start_menu_shortcut = true
keep_readme_files = true

[dialogs]
readme_files = ["readme.txt"]

[shortcuts]
desktop_folder = "Actions Folder"
desktop_folder_icon = "folder.ico"

[[file]]
source = "files/app.txt"
desktop_shortcut = true
start_menu_shortcut = true
shortcut_name = "Actions App"
shortcut_arguments = "/show %InstallDir%"

[[file]]
source = "files/common.dat"
kind = "shared"

[[file]]
source = "files/com_server_fixture.dll"
kind = "com_server"

[[file]]
source = "files/typelib_fixture.tlb"
kind = "type_library"

[[shortcut]]
target = "%InstallDir%\\app.txt"
name = "Actions Startup"
startup = true
permanent = true

[[association]]
extension = ".trxact"
file_type = "TruxActions.Document"
description = "Actions Test document"
verb = "open"
caption = "&Open"
command = "\"%InstallDir%\\app.txt\" \"%1\""
default_verb = true
EOF
e2e_build "$W/actions.toml" "$W/actions.exe"

# The registry as `wine reg query` prints one value: its data, or <none>.
reg_data() {  # reg_data KEY NAME (NAME "" = the default value)
  local out
  if [ -z "$2" ]; then out="$(wine reg query "$1" /ve 2>/dev/null | tr -d '\r')"; else
    out="$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r')"; fi
  out="$(printf '%s\n' "$out" | sed -n 's/^    .*    REG_[A-Z_]*    \(.*\)$/\1/p' | head -n 1)"
  printf '%s' "${out:-<none>}"
}

SHARED_DLLS='HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
D='C:\Actions Test'
SYS='C:\windows\system32'
SHARED='C:\Program Files\Common Files\Trux Tests'
# The folders as this prefix names them, read back from the shell's own values.
folder() {
  reg_data 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' "$1"
}

# Another program owns the extension before the installation.
wine reg add 'HKCR\.trxact' /ve /d 'Other.Document' /f >/dev/null 2>&1

e2e_robot "install: automatic, no dialog or box" 0 "" "" \
  start "$W/actions.exe" --args "/a /d:\"$D\"" until-exit --timeout 90 --expect 1

DESKTOP="$(folder Desktop)"
PROGRAMS="$(folder Programs)"
STARTUP="$(folder Startup)"
FOLDER="$DESKTOP\\Actions Folder"
MENU="$PROGRAMS\\Trux Tests\\Actions Test"

e2e_robot "desktop folder link read back" 0 "target=$D\\app.txt
arguments=/show $D
working_dir=$D
icon=$D\\app.txt,0
" "" print-link "$FOLDER\\Actions App.LNK"
e2e_robot "start-menu link read back" 0 "target=$D\\app.txt
arguments=/show $D
working_dir=$D
icon=$D\\app.txt,0
" "" print-link "$MENU\\Actions App.LNK"
e2e_robot "startup link read back" 0 "target=$D\\app.txt
arguments=
working_dir=$D
icon=$D\\app.txt,0
" "" print-link "$STARTUP\\Actions Startup.LNK"
e2e_robot "uninstaller shortcut in the start menu" 0 "target=$D\\Uninstall.exe
arguments=/u:\"Actions Test\"
working_dir=
icon=$D\\Uninstall.exe,0
" "" print-link "$MENU\\Uninstall Actions Test.LNK"

winfile() { local p="${1//\\//}"; p="${p#C:/}"; printf '%s' "$C/$p"; }
e2e_check "desktop folder icon and Desktop.ini" \
  "ICONDATA|IconFile=$D\\Desktop Icon.ico|IconIndex=0" \
  "$(cat "$(winfile "$D\\Desktop Icon.ico")" 2>&1)|$(tr -d '\r' <"$(winfile "$FOLDER\\Desktop.ini")" | grep '^Icon' | paste -sd '|')"
e2e_check "kept readme file" "Read me first." "$(cat "$C/Actions Test/readme.txt" 2>&1)"

e2e_check "shared counts: the shared file, the COM server and the type library" "0x1|0x1|0x1" \
  "$(reg_data "$SHARED_DLLS" "$SHARED\\common.dat")|$(reg_data "$SHARED_DLLS" "$SYS\\com_server_fixture.dll")|$(reg_data "$SHARED_DLLS" "$SYS\\typelib_fixture.tlb")"
e2e_check "COM server registered in the installer's process" "yes" \
  "$(reg_data 'HKCU\Software\TruxComFixture' Registered)"
reg_has_key 'HKCR\TypeLib\{8C1A6E2B-3F5D-4C7A-9B21-5E4D3C2B1A90}\1.2' &&
  e2e_pass "type library registered" || e2e_fail "type library registered" "no TypeLib key"
# The console turns 0xA9 into another character: the value is read from an
# export of the key instead (UTF-16, the marker as U+00A9).
shared_files() {
  wine reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Actions Test' 'C:\uninstall.reg' /y \
    >/dev/null 2>&1
  iconv -f utf-16 -t utf-8 "$C/uninstall.reg" 2>/dev/null | tr -d '\r' | sed -n 's/^"SharedFiles"="\(.*\)"$/\1/p'
}
e2e_check "SharedFiles value with its markers" \
  '\"C:\\Program Files\\Common Files\\Trux Tests\\common.dat\";\"C:\\windows\\system32\\com_server_fixture.dll^\";\"C:\\windows\\system32\\typelib_fixture.tlb©\"' \
  "$(shared_files)"
reg_has_key 'HKLM\Software\Trux Tests\Actions Test' && reg_has_key 'HKCU\Software\Trux Tests\Actions Test' &&
  e2e_pass "product key in both hives" || e2e_fail "product key in both hives" "missing"

e2e_check "association with the other program's type kept as backup" \
  "TruxActions.Document|Other.Document|Actions Test document|open|\"$D\\app.txt\" \"%1\"" \
  "$(reg_data 'HKCR\.trxact' '')|$(reg_data 'HKCR\.trxact' 'Actions Test Backup')|$(reg_data 'HKCR\TruxActions.Document' '')|$(reg_data 'HKCR\TruxActions.Document\shell' '')|$(reg_data 'HKCR\TruxActions.Document\shell\open\command' '')"

dat="$(tr -d '\r' <"$C/Actions Test/Uninstall.DAT" 2>&1)"
body="$(printf '%s\n' "$dat" | sed '/^\[Strings\]/,$d' | grep -v '^$')"
e2e_check "Uninstall.DAT lists the links, the desktop folder and the kept files; not the permanent link" "$D\\app.txt
$FOLDER\\Desktop.ini
~$FOLDER
$D\\Desktop Icon.ico
$FOLDER\\Actions App.LNK
$MENU\\Actions App.LNK
$MENU\\Uninstall Actions Test.LNK
$D\\readme.txt" "$body"
e2e_check "Uninstall.DAT carries the association" ".trxact~!~TruxActions.Document~!~open" \
  "$(printf '%s\n' "$dat" | sed -n '/^\[Associations\]/,$p' | sed -n '2p')"

log="$(tr -d '\r' <"$C/Actions Test/Install.LOG" 2>&1)"
for line in "Registering COM File \"$SYS\\com_server_fixture.dll\"...OK" \
            "Registering Type Library \"$SYS\\typelib_fixture.tlb\"...OK" \
            "Desktop Folder Shortcut(Actions App) -> $FOLDER\\Actions App.LNK" \
            "Start Menu Shortcut(Actions App) -> $MENU\\Actions App.LNK" \
            "Startup Shortcut(Actions Startup) -> $STARTUP\\Actions Startup.LNK" \
            "Uninstaller Shortcut -> $MENU\\Uninstall Actions Test.LNK"; do
  if printf '%s\n' "$log" | grep -qxF "$line"; then e2e_pass "Install.LOG: $line"; else
    e2e_fail "Install.LOG: $line" "not in: $(e2e_esc "$log")"; fi
done

# Installed again over itself: counts stay at 1, the backup stays the other
# program's type.
e2e_robot "reinstall: automatic" 0 "" "" \
  start "$W/actions.exe" --args "/a /d:\"$D\"" until-exit --timeout 90 --expect 1
e2e_check "reinstall: shared counts are not raised twice" "0x1|0x1|0x1" \
  "$(reg_data "$SHARED_DLLS" "$SHARED\\common.dat")|$(reg_data "$SHARED_DLLS" "$SYS\\com_server_fixture.dll")|$(reg_data "$SHARED_DLLS" "$SYS\\typelib_fixture.tlb")"
e2e_check "reinstall: the backup keeps the other program's type" "TruxActions.Document|Other.Document" \
  "$(reg_data 'HKCR\.trxact' '')|$(reg_data 'HKCR\.trxact' 'Actions Test Backup')"

e2e_end

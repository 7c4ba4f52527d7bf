#!/usr/bin/env bash
# End to end: install a product with every kind of item, remove it again,
# and compare the machine with a snapshot taken before the installation.
# The product has files in nested folders, a font, shortcuts and a desktop
# folder, an association over another program's, a shared DLL that a second
# product also uses, product keys in both hives, a COM server, a type
# library, batches and the autoexec.bat PATH line. It is removed once by
# hand (the robot answers as a person would) and once in automatic mode.
# Usage: roundtrip.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
source "$SRC/tests/e2e/lib/snapshot.bash"
e2e_begin roundtrip "$SRC"
e2e_need_truxpack
e2e_need_fixtures "$STUB" com_server_fixture.dll typelib_fixture.tlb
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
DIR='C:\Program Files\Round Trip'
DIR_UNIX="$C/Program Files/Round Trip"

mkdir -p "$W/files/docs/guide" "$W/other"
printf 'the application\r\n' >"$W/files/app.txt"
printf 'introduction\r\n' >"$W/files/docs/intro.txt"
printf 'chapter one\r\n' >"$W/files/docs/guide/chapter1.txt"
printf 'chapter two\r\n' >"$W/files/docs/guide/chapter2.txt"
printf 'not really a font, but a file the fonts step installs and removes' >"$W/rtsans.ttf"
printf 'shared by two products\r\n' >"$W/rt-common.dll"
cp "$FIXTURES/com_server_fixture.dll" "$FIXTURES/typelib_fixture.tlb" "$W/"

cat >"$W/other.toml" <<'EOF'
[product]
name = "Other Product"
publisher = "Trux Tests"
install_dir = "Other Product"

[flags]
uninstaller = true

[[file]]
source = "rt-common.dll"
kind = "shared"
destination = "%CommonDir%\\Trux Tests\\rt-common.dll"
EOF

cat >"$W/roundtrip.toml" <<'EOF'
[product]
name = "Round Trip"
publisher = "Trux Tests"
version = "2.1"
install_dir = "Round Trip"
registry_key = "Trux Tests\\Round Trip"
start_menu = "Trux Tests\\Round Trip"

[flags]
uninstaller = true
add_to_path = true
uninstall_start_menu_shortcut = true
no_final_message = true

[shortcuts]
desktop_folder = "Round Trip Folder"

[uninstall]
program = "Uninstall Round Trip.exe"

[batches]
post_install = "echo installed> \"%InstallDir%\\post.txt\""
uninstall_first = "del \"%InstallDir%\\post.txt\""
uninstall_last = "echo last run in %CD%> C:\\roundtrip-last.txt"

[[file]]
source = "files/app.txt"

[[file]]
source = "files/docs/**/*.txt"
name = "docs"

[[file]]
source = "rtsans.ttf"
kind = "font"
font_name = "Round Trip Sans (TrueType)"

[[file]]
source = "rt-common.dll"
kind = "shared"
destination = "%CommonDir%\\Trux Tests\\rt-common.dll"

[[file]]
source = "com_server_fixture.dll"
kind = "com_server"

[[file]]
source = "typelib_fixture.tlb"
kind = "type_library"

[[shortcut]]
target = "%InstallDir%\\app.txt"
name = "Round Trip"
desktop = true
start_menu = true

[[association]]
extension = ".rtdoc"
file_type = "RoundTrip.Document"
description = "Round Trip document"
verb = "open"
caption = "&Open"
command = "\"%WinDir%\\notepad.exe\" \"%1\""
icon = "%WinDir%\\notepad.exe,0"
default_verb = true
EOF

for p in other roundtrip; do
  e2e_build "$W/$p.toml" "$W/$p.exe"
done
shared_count() {
  local hex
  hex="$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' /v "$1" 2>/dev/null | tr -d '\r' |
    awk '/REG_DWORD/ { print $NF }')"
  [ -n "$hex" ] && echo $((hex))
}
COMMON_DLL="$(wine cmd /c 'echo %CommonProgramFiles%' 2>/dev/null | tr -d '\r')\\Trux Tests\\rt-common.dll"

# compare NAME: the machine against the snapshot before the installation.
compare() {
  local name="$1"
  prefix_snapshot "$E2E_TMP/after"
  local diffs
  diffs="$(prefix_diff "$E2E_TMP/before" "$E2E_TMP/after")"
  if [ -z "$diffs" ]; then
    e2e_pass "$name: the machine is as it was before the installation"
  else
    e2e_fail "$name: the machine is as it was before the installation" "$(printf '%s\n' "$diffs" | head -40)"
  fi
}

install() {  # install EXE: automatic mode, default directory
  robot start "$(winpath "$W/$1.exe")" --args '/a' until-exit --answer 1 --expect 1 --timeout 120 \
    >"$E2E_TMP/install.out" 2>&1 || { e2e_fail "install $1" "$(cat "$E2E_TMP/install.out")"; return 1; }
}

installed_checks() {  # the installation really made what the uninstaller must remove
  local why=()
  [ -f "$DIR_UNIX/docs/guide/chapter2.txt" ] || why+=("nested file missing")
  [ -f "$DIR_UNIX/Uninstall Round Trip.exe" ] || why+=("uninstaller missing")
  [ -f "$DIR_UNIX/post.txt" ] || why+=("the post-installation batch did not run")
  reg_has_key "$UNINSTALL_KEY\\Round Trip" || why+=("Uninstall key missing")
  [ "$(reg_default 'HKCR\.rtdoc')" = "RoundTrip.Document" ] || why+=("association not made")
  [ "$(shared_count "$COMMON_DLL")" = 2 ] || why+=("shared count is not 2: $(shared_count "$COMMON_DLL")")
  reg_has_key 'HKCU\Software\TruxComFixture' || why+=("COM server not registered")
  reg_has_key 'HKLM\Software\Trux Tests\Round Trip' || why+=("product key (HKLM) missing")
  reg_has_key 'HKCU\Software\Trux Tests\Round Trip' || why+=("product key (HKCU) missing")
  grep -qi 'PATH=%PATH%;' "$C/autoexec.bat" || why+=("autoexec.bat PATH line missing")
  [ -n "$(wine reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v 'Round Trip Sans (TrueType)' 2>/dev/null)" ] ||
    why+=("font value missing")
  if [ ${#why[@]} -eq 0 ]; then e2e_pass "$1: installed with every kind of item"; else e2e_fail "$1: installed with every kind of item" "${why[@]}"; fi
}

removed_checks() {  # what the snapshot cannot say by itself
  local why=() i
  for i in $(seq 1 100); do [ -e "$DIR_UNIX" ] || break; sleep 0.1; done
  [ -e "$DIR_UNIX" ] && why+=("$DIR is still there: $(cd "$DIR_UNIX" && find . | tr '\n' ' ')")
  [ "$(shared_count "$COMMON_DLL")" = 1 ] || why+=("the other product's count is not 1")
  [ -f "$(unix "$COMMON_DLL")" ] || why+=("the other product's DLL went")
  [ "$(reg_default 'HKCR\.rtdoc')" = "OtherType" ] || why+=("the association was not restored")
  reg_has_key 'HKCU\Software\TruxComFixture' && why+=("DllUnregisterServer was not called")
  [ "$(tr -d '\r' <"$C/roundtrip-last.txt" 2>/dev/null)" = 'last run in C:\' ] ||
    why+=("the last uninstall batch did not run in the drive's root")
  rm -f "$C/roundtrip-last.txt"  # its output, not part of the comparison
  if [ ${#why[@]} -eq 0 ]; then e2e_pass "$1: removed"; else e2e_fail "$1: removed" "${why[@]}"; fi
}

# ---- the machine before -------------------------------------------------------
# Another program's file type owns .rtdoc, autoexec.bat exists, and the other
# product shares the DLL.
{ printf 'REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.rtdoc]\r\n@="OtherType"\r\n\r\n'
  printf '[HKEY_CLASSES_ROOT\\OtherType\\shell\\open\\command]\r\n@="other.exe %%1"\r\n'; } >"$E2E_TMP/pre.reg"
wine reg import "$(winepath -w "$E2E_TMP/pre.reg")" >/dev/null 2>&1
printf 'REM the machine'"'"'s own line\r\n' >"$C/autoexec.bat"
install other || exit 1
[ "$(shared_count "$COMMON_DLL")" = 1 ] && e2e_pass "the other product holds one reference" ||
  e2e_fail "the other product holds one reference" "count: $(shared_count "$COMMON_DLL")"
prefix_snapshot "$E2E_TMP/before"

# ---- by hand ---------------------------------------------------------------------
install roundtrip && installed_checks "first installation"
robot start "$DIR\\Uninstall Round Trip.exe" --args '/u:"Round Trip"' wait-box answer 6 \
  until-exit --answer 1 --expect 1 --timeout 120 >"$E2E_TMP/u1.out" 2>"$E2E_TMP/u1.err"
rc=$?
[ "$rc" = 0 ] && e2e_pass "uninstall by hand: confirmed, ended with exit code 1" ||
  e2e_fail "uninstall by hand: confirmed, ended with exit code 1" "robot $rc" "$(cat "$E2E_TMP/u1.err")"
say_boxes="$(cat "$E2E_TMP/u1.out")"
[[ "$say_boxes" == box* ]] && e2e_pass "uninstall by hand: the completion message" ||
  e2e_fail "uninstall by hand: the completion message" "boxes: $say_boxes"
removed_checks "uninstall by hand"
compare "uninstall by hand"

# ---- automatic mode, timed ---------------------------------------------------------
start=$(date +%s.%N)
install roundtrip && installed_checks "second installation"
robot start "$DIR\\Uninstall Round Trip.exe" --args '/a /u:"Round Trip"' until-exit --answer 1 --expect 1 --timeout 120 \
  >"$E2E_TMP/u2.out" 2>&1
[ -s "$E2E_TMP/u2.out" ] && e2e_fail "automatic mode shows no box" "$(cat "$E2E_TMP/u2.out")" ||
  e2e_pass "automatic mode shows no box"
for i in $(seq 1 100); do [ -e "$DIR_UNIX" ] || break; sleep 0.1; done
end=$(date +%s.%N)
echo "round trip in automatic mode (install + uninstall + self-deletion): $(echo "$end - $start" | bc) s"
removed_checks "automatic uninstall"
compare "automatic uninstall"

e2e_end

#!/usr/bin/env bash
# End to end: the Uninstall entry a real installation leaves under a path
# with blanks. UninstallString and QuietUninstallString hold the uninstaller's
# path in double quotes, the key holds the digest of Uninstall.DAT, and the
# system, given either string as a whole command line (as the list of
# installed programs does), starts the uninstaller and not a program planted
# at the first blank of the unquoted path.
# Usage: uninstall_entry.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin uninstall_entry "$SRC"
e2e_need_truxpack
# child_fixture.exe stands in for the planted program: started with the rest
# of the path as its arguments, it knows no such mode and ends with 100.
e2e_need_fixtures "$STUB" child_fixture.exe
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
mkdir -p "$W/files"
printf 'the application\r\n' >"$W/files/app.txt"
cat >"$W/entry.toml" <<'EOF'
[product]
name = "Entry Test"
version = "1.0"
install_dir = "Entry Test"

[flags]
uninstaller = true

[[file]]
source = "files/app.txt"
EOF
e2e_build "$W/entry.toml" "$W/entry.exe"

KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Entry Test'
D='C:\Tools\My App'
install() {
  e2e_robot "install to $D ($1)" 0 "" "" start "$W/entry.exe" --args "/a /d:\"$D\"" until-exit --timeout 120 --expect 1
}
check_removed() {  # check_removed CASE
  local why=() i
  for i in $(seq 1 100); do [ -e "$C/Tools/My App/app.txt" ] || break; sleep 0.1; done
  [ -e "$C/Tools/My App/app.txt" ] && why+=("app.txt is still there")
  wine reg query "$KEY" >/dev/null 2>&1 && why+=("the Uninstall key is still there")
  [ -e "$C/Tools/My.exe" ] || why+=("the planted program went")
  if [ ${#why[@]} -eq 0 ]; then e2e_pass "$1"; else e2e_fail "$1" "${why[@]}"; fi
}

mkdir -p "$C/Tools"
cp "$FIXTURES/child_fixture.exe" "$C/Tools/My.exe"

install "first"
e2e_check "UninstallString: the path in quotes" "\"$D\\Uninstall.exe\" /u:\"Entry Test\"" \
  "$(reg_value "$KEY" UninstallString)"
e2e_check "QuietUninstallString: the path in quotes" "\"$D\\Uninstall.exe\" /a /u:\"Entry Test\"" \
  "$(reg_value "$KEY" QuietUninstallString)"
e2e_check "UninstallDataSHA256: the digest of Uninstall.DAT" \
  "$(sha256sum <"$C/Tools/My App/Uninstall.DAT" | cut -d' ' -f1)" "$(reg_value "$KEY" UninstallDataSHA256)"

e2e_robot "UninstallString as the whole command line: confirmation, then the completion message" 0 "" "" \
  start - --command-line "$(reg_value "$KEY" UninstallString)" wait-box --caption "Uninstall Entry Test" --timeout 120 \
  answer 6 wait-box --caption "Uninstall Complete" --timeout 120 answer 1 wait-exit --expect 1 --timeout 120
check_removed "uninstalled through UninstallString"

install "again"
e2e_robot "QuietUninstallString as the whole command line: no window" 0 "" "" \
  start - --command-line "$(reg_value "$KEY" QuietUninstallString)" until-exit --answer 1 --expect 1 --timeout 120
check_removed "uninstalled through QuietUninstallString"

e2e_end

#!/usr/bin/env bash
# End to end: whole installations under Wine, driven by the robot the way a
# person would answer them. Checks what lands on disk and in the registry:
# the files, Uninstall.DAT byte for byte, every Uninstall value with its
# kind, the uninstaller equal to the stub, and Install.LOG's blocks.
# Usage: install.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin install "$SRC"
e2e_need_truxpack
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
mkdir -p "$W/files/docs"
printf 'the application\r\n' >"$W/files/app.txt"
printf 'chapter one\r\n' >"$W/files/docs/one.txt"
printf 'Licence of <product>.\r\nSecond line.' >"$W/license.txt"
printf 'First readme.' >"$W/readme1.txt"
printf 'Second readme on <OS>.' >"$W/readme2.txt"

UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# The uninstall message set, in English, with the German overrides below.
MESSAGES_EN=(
  10 'Problems removing <product>:\r\n\r\n%s'
  15 'Uninstall Complete'
  20 '<product> Setup'
  30 'Volume missing.'
  34 '<product> is gone.'
  35 'Remove Shared File'
  39 'Installing <product>...'
  49 'Cancel'
  53 'Remove <product>?'
  55 'Uninstall <product>'
  56 'Remove the font %s?'
  57 'Remove Font'
  58 'Could not remove'
  59 'Shared file %s unused.\r\nRemove it?'
  67 'Removing fonts...'
  68 'Removing the uninstall data...'
  69 'Removing registry keys...'
  70 'Removing file associations...'
  71 'Removing <product>...'
  74 'Restart to finish removing <product>?'
)

# project NAME VERSION EXTRA-FLAGS EXTRA-TOML: the test product.
project() {
  local name="$1" version="$2" flags="$3" extra="${4:-}" i
  {
    cat <<EOF
[product]
name = "Flow Test"
publisher = "Trux Tests"
version = "$version"
install_dir = "Flow Test"

[flags]
uninstaller = true
always_write_log = true
$flags

[background]
title_font = "Arial Bold"

[uninstall]
program = "Uninstall Flow Test.exe"
subdir = "uninst"

[[uninstall_value]]
name = "HelpLink"
value = "%InstallDir%\\\\help.txt"
type = "expand"

[[uninstall_value]]
name = "EstimatedSize"
value = "42"
type = "number"

[[uninstall_value]]
name = "InstallLocation"
value = "overwritten"

[[file]]
source = "files/app.txt"

[[file]]
source = "files/docs/*.txt"
name = "docs"

$extra

[messages]
EOF
    for ((i = 0; i < ${#MESSAGES_EN[@]}; i += 2)); do
      printf '%s = "%s"\n' "${MESSAGES_EN[i]}" "${MESSAGES_EN[i + 1]}"
    done
  } >"$W/$name.toml"
  cat >"$W/deutsch.toml" <<'EOF'
name = "Deutsch"
[messages]
20 = "<product> Installation"
43 = "Installation abgeschlossen"
49 = "Abbrechen"
34 = "<product> wurde entfernt.\r\nAuf Wiedersehen."
EOF
}

build() { e2e_build "$W/$1.toml" "$W/$1.exe"; }  # build NAME -> $W/NAME.exe

# The Uninstall.DAT text expected for a directory and message language.
expected_dat() {
  local dir="$1" german="$2" i n text
  printf '%s\r\n' "$dir\\app.txt" "~$dir\\docs" "$dir\\docs\\one.txt"
  printf '\r\n\r\n[Strings]\r\n'
  for ((i = 0; i < ${#MESSAGES_EN[@]}; i += 2)); do
    n="${MESSAGES_EN[i]}"; text="${MESSAGES_EN[i + 1]}"
    if [ "$german" = 1 ]; then
      case "$n" in
        20) text='<product> Installation' ;;
        49) text='Abbrechen' ;;
        34) text='<product> wurde entfernt.\r\nAuf Wiedersehen.' ;;
      esac
    fi
    text="${text//<product>/Flow Test}"
    printf '~%s\r\n%b\r\n' "$n" "$text"
  done
}

# The Uninstall key as "name|type|data" lines, sorted.
uninstall_values() {
  wine reg query "$UNINSTALL_KEY\\Flow Test" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \([^ ].*\)    \(REG_[A-Z_]*\)    \(.*\)$/\1|\2|\3/p; s/^    \([^ ].*\)    \(REG_[A-Z_]*\)$/\1|\2|/p' | sort
}

# Install.LOG with the date lines made constant.
# "d-M-yy h:ii:ssap": 2-Jul-2008 3:05:09p.
log_text() { sed -E 's/^Install date: [0-9]{1,2}-[A-Z][a-z]{2}-[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2}[ap]\r$/Install date: DATE\r/' "$1"; }

log_block() {  # log_block TYPE DIR VERSION [COMPLETION-CAPTION]
  printf '\r\nInstallation log for: Flow Test\r\nInstall date: DATE\r\nInstall type: %s\r\nInstall location: %s\r\nInstaller version: 17.2\r\nProduct version: %s\r\n\r\n%s\r\n\r\n' "$1" "$2" "$3" "${4:-Installation Complete}"
}

check_uninstaller() {  # check_uninstaller NAME DIR
  if cmp -s "$STUB" "$2/uninst/Uninstall Flow Test.exe"; then e2e_pass "$1"; else
    e2e_fail "$1" "the uninstaller differs from the stub (or is missing)"; fi
}

# ------------------------------------------------- a whole installation by hand

project full "2.10" 'choose_directory = true
compare_versions = true' '[product.x]' 
sed -i '/^\[product.x\]$/d' "$W/full.toml"
sed -i 's/^install_dir = "Flow Test"$/install_dir = "Flow Test"\npassword = "Sesame"/' "$W/full.toml"
sed -i 's/^\[uninstall\]$/[dialogs]\nlicense_files = ["license.txt"]\nreadme_files = ["readme1.txt", "readme2.txt"]\n\n[languages]\nfiles = ["deutsch.toml"]\n\n[uninstall]/' "$W/full.toml"
build full
WINDIR='C:\\windows'  # escaped as the robot prints it
e2e_robot "by hand: language, start question, password, licence, readme pages, directory, final message" 0 \
"Flow Test Setup
This will install Flow Test on your computer.\\r\\n\\r\\nDo you want to continue?
Licence of Flow Test.\\r\\nSecond line.
First readme.
Second readme on $WINDIR.
Installation abgeschlossen
Flow Test has been installed successfully.
" "" \
  start "$W/full.exe" wait-window "Choose Your Language" --exact select 1017 =Deutsch expect-text 1003 Abbrechen \
  click 1001 wait-gone \
  wait-box print-caption print-text --escaped answer 6 \
  wait-window "Password" --exact expect-enabled 1001 no set-text 1019 sesame expect-enabled 1001 no \
  set-text 1019 Sesame expect-enabled 1001 yes set-text 1019 Sesame1 expect-enabled 1001 no \
  set-text 1019 Sesame click 1001 wait-gone \
  wait-window "Licence Agreement" --exact print-text 1005 --escaped click 1001 wait-gone \
  wait-window "Read Me" --exact print-text 1005 --escaped click 1001 wait-gone \
  wait-window "Read Me" --exact print-text 1005 --escaped click 1001 wait-gone \
  wait-window "Installation Directory" --exact set-text 1015 '  C:\\Flow Test  ' click 1001 wait-gone \
  wait-box --timeout 60 print-caption print-text --escaped answer 1 wait-exit --expect 1

D='C:\Flow Test'
e2e_check "by hand: the files" "$(e2e_esc "$(printf 'the application\r\n|chapter one\r\n|x')")" \
  "$(e2e_esc "$(cat "$C/Flow Test/app.txt" 2>&1; printf '|'; cat "$C/Flow Test/docs/one.txt" 2>&1; printf '|x')")"
e2e_check "by hand: Uninstall.DAT byte for byte (German messages)" "$(e2e_esc "$(expected_dat "$D" 1; echo x)")" \
  "$(e2e_esc "$(cat "$C/Flow Test/uninst/Uninstall.DAT" 2>&1; echo x)")"
check_uninstaller "by hand: the uninstaller is the stub byte for byte" "$C/Flow Test"
e2e_check "by hand: Install.LOG holds one block" "$(e2e_esc "$(log_block New "$D" 2.10 "Installation abgeschlossen"; echo x)")" \
  "$(e2e_esc "$(log_text "$C/Flow Test/uninst/Install.LOG" 2>&1; echo x)")"

INSTALLER="$(winpath "$W/full.exe")"
values="$(uninstall_values)"
flags=$(printf '%s\n' "$values" | sed -n 's/^ProductFlags|REG_SZ|//p')
dat_hash=$(sha256sum "$C/Flow Test/uninst/Uninstall.DAT" | cut -d' ' -f1)
date=$(printf '%s\n' "$values" | sed -n 's/^InstallDate|REG_SZ|//p')
e2e_check "by hand: every Uninstall value with its kind" "$(sort <<EOF
DisplayName|REG_SZ|Flow Test
DisplayTitle|REG_SZ|Flow Test
DisplayVersion|REG_SZ|2.10
EstimatedSize|REG_DWORD|0x2a
HelpLink|REG_EXPAND_SZ|$D\\help.txt
InstallDate|REG_SZ|$date
InstallLocation|REG_SZ|$D
InstallSource|REG_SZ|$INSTALLER
MonoColor|REG_DWORD|0x1
ProductFlags|REG_SZ|$flags
ProductStartMenu|REG_SZ|Trux Tests\\Flow Test
Publisher|REG_SZ|Trux Tests
QuietUninstallString|REG_SZ|"$D\\uninst\\Uninstall Flow Test.exe" /a /u:"Flow Test"
SharedPath|REG_SZ|C:\\Program Files\\Common Files\\Trux Tests
TaskbarText|REG_SZ|
TitleColor|REG_DWORD|0x0
TitleFont|REG_SZ|Arial Bold
TitlePosition|REG_DWORD|0x0
TitleShadow|REG_DWORD|0x1
TopColor|REG_DWORD|0x0
UninstallDataSHA256|REG_SZ|$dat_hash
UninstallString|REG_SZ|"$D\\uninst\\Uninstall Flow Test.exe" /u:"Flow Test"
UninstallSubdir|REG_SZ|uninst
VersionMajor|REG_DWORD|0x2
VersionMinor|REG_DWORD|0xa
EOF
)" "$values"
[[ "$date" =~ ^[0-9]{1,2}/[0-9]{1,2}/[0-9]{2}\ [0-9]{1,2}:[0-9]{2}:[0-9]{2}[ap]$ ]] &&
  e2e_pass "by hand: InstallDate in m/d/y h:ii:ssap" || e2e_fail "by hand: InstallDate in m/d/y h:ii:ssap" "got $date"
if [ -n "$flags" ] && (( (flags >> 2 & 1) && (flags >> 6 & 1) && (flags >> 7 & 1) && (flags >> 36 & 1) )); then
  e2e_pass "by hand: ProductFlags carries the archive's flag bits"
else e2e_fail "by hand: ProductFlags carries the archive's flag bits" "got $flags"; fi

# ------------------------------------------------------------- automatic mode

# A machine without the product: the key of the first installation goes.
wine reg delete "$UNINSTALL_KEY\\Flow Test" /f >/dev/null 2>&1
project auto "1.5" 'compare_versions = true'
build auto
project newer "1.7" 'compare_versions = true'
build newer
A='C:\Auto Dir'
e2e_robot "automatic: /a /d: installs without a dialog or box" 0 "" "" \
  start "$W/auto.exe" --args "/a /d:\"$A\"" until-exit --timeout 60 --expect 1
e2e_check "automatic: the files and Uninstall.DAT (English messages)" \
  "the application|$(e2e_esc "$(expected_dat "$A" 0; echo x)")" \
  "$(tr -d '\r\n' <"$C/Auto Dir/app.txt" 2>&1)|$(e2e_esc "$(cat "$C/Auto Dir/uninst/Uninstall.DAT" 2>&1; echo x)")"
check_uninstaller "automatic: the uninstaller is the stub" "$C/Auto Dir"

# Over the first installation: the previous directory is reused without a
# directory dialog; the question names the same, then the older version.
e2e_robot "reinstall: the question names the same, then the older version; Yes installs again" 0 \
"The same version of Flow Test is already installed in the following directory:\\r\\nC:\\\\Auto Dir\\r\\n\\r\\nDo you want to install Flow Test into this directory again?
An older version of Flow Test is installed in the following directory:\\r\\nC:\\\\Auto Dir\\r\\n\\r\\nDo you want to install Flow Test into this directory again?
Flow Test has been installed successfully.
" "" \
  start "$W/auto.exe" wait-box answer 6 wait-box --caption "Previous Installation Found" print-text --escaped answer 7 \
  wait-exit --expect 1 \
  start "$W/newer.exe" --args "/d:\"C:\\Elsewhere\"" wait-box answer 6 \
  wait-box --caption "Previous Installation Found" print-text --escaped answer 6 \
  wait-box --timeout 60 --caption "Installation Complete" print-text --escaped answer 1 wait-exit --expect 1
e2e_check "reinstall: two blocks in Install.LOG, the second a reinstall" \
  "$(e2e_esc "$(log_block New "$A" 1.5; log_block Reinstall "$A" 1.7; echo x)")" \
  "$(e2e_esc "$(log_text "$C/Auto Dir/uninst/Install.LOG" 2>&1; echo x)")"
e2e_check "reinstall: the Uninstall key names the new version" "DisplayVersion|REG_SZ|1.7" \
  "$(uninstall_values | grep '^DisplayVersion|')"
[ ! -e "$C/Elsewhere" ] && e2e_pass "reinstall: /d: does not move a previous installation" ||
  e2e_fail "reinstall: /d: does not move a previous installation" "C:\\Elsewhere was created"

e2e_end

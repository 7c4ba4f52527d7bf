#!/usr/bin/env bash
# End to end: installers built by truxpack, run under Wine. The runtime finds
# its archive, checks the header, reads the settings and shows the language
# dialog, which the robot answers; damaged installers end with the numbered
# corrupt-archive message. Usage: archive.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin archive "$SRC"
e2e_need_truxpack
W="$E2E_TMP/work"
mkdir -p "$W/files"
printf 'hello\r\n' >"$W/files/hello.txt"

# project NAME [EXTRA-TOML]: a one-file project with two languages unless
# told otherwise; message 13 is overridden so corrupt-archive reports that
# come after the message table can be told from the built-in text.
project() {
  local name="$1" extra="${2:-}"
  cat >"$W/$name.toml" <<EOF
[product]
name = "Archive Test"
publisher = "Trux Tests"
version = "2.5"
install_dir = "Archive Test"

[flags]
uninstaller = true
$extra

[messages]
13 = "Broken installer, code %d."
48 = "Next"
49 = "Stop"

[languages]
files = ["deutsch.toml"]

[[file]]
source = "files/hello.txt"
EOF
  cat >"$W/deutsch.toml" <<'EOF'
name = "Deutsch"
[messages]
48 = "Weiter"
49 = "Abbrechen"
EOF
}

build() { e2e_build "$W/$1.toml" "$W/$1.exe"; }  # build NAME -> $W/NAME.exe

# A one-language project: the same without the language file.
project english
sed -i '/^\[languages\]/,/^files/d' "$W/english.toml"
build english
project two
build two

CORRUPT_TEXT="This installation program is corrupt.  This is usually caused by a faulty download, but it can also be caused by a virus on your computer.  The installation cannot proceed.\\r\\n\\r\\nDelete the corrupted installer (to prevent caching), then re-download it.  If the problem persists, check your system for viruses.\\r\\n\\r\\nError code: "

# ---------------------------------------------------------------- good runs

# After the language the installation asks its start question; No ends it.
START_QUESTION="Archive Test Setup"
e2e_robot "one language: the start question comes first, no language dialog" 0 "" "" \
  start "$W/english.exe" wait-box --caption "$START_QUESTION" answer 7 \
  wait-exit --expect 1

e2e_robot "two languages: the dialog lists them in archive order" 0 $'English\nDeutsch\n' "" \
  start "$W/two.exe" wait-window "Choose Your Language" --exact print-items 1017 click 1003 wait-exit --expect 1

e2e_robot "two languages: buttons in the preselected English, relabelled while browsing" 0 "" "" \
  start "$W/two.exe" wait-window "Choose Your Language" --exact \
  expect-text 1001 "Next" expect-text 1003 "Stop" \
  select 1017 =Deutsch expect-text 1001 "Weiter" expect-text 1003 "Abbrechen" \
  select 1017 =English expect-text 1003 "Stop" \
  click 1001 wait-box --caption "$START_QUESTION" answer 7 wait-exit --expect 1

e2e_robot "two languages: a double click chooses" 0 "" "" \
  start "$W/two.exe" wait-window "Choose Your Language" --exact dblclick 1017 =Deutsch \
  wait-box --caption "$START_QUESTION" answer 7 wait-exit --expect 1

e2e_robot "two languages in automatic mode: no dialog" 0 "" "" \
  start "$W/two.exe" --args "/a" until-exit --expect 1

# The user's own language is preselected by the first word of its name
# (Wine names German "German (Germany)" under a German Unix locale).
project locale
cat >"$W/deutsch.toml" <<'EOF2'
name = "German"
[messages]
48 = "Weiter"
49 = "Abbruch"
EOF2
build locale
LC_ALL=de_DE.UTF-8 e2e_robot "the user's language is preselected" 0 $'Abbruch\n' "" \
  start "$W/locale.exe" wait-window "Choose Your Language" --exact print-text 1003 click 1001 \
  wait-box --caption "$START_QUESTION" answer 7 wait-exit --expect 1

# ------------------------------------------------------------ damaged files

# The file offset of the .trux section's raw data.
section_offset() {
  local hex
  hex=$(i686-w64-mingw32-objdump -h "$1" | awk '$2 == ".trux" { print $6 }')
  echo $((16#$hex))
}

# poke FILE OFFSET HEX-BYTES: overwrites bytes in place.
poke() {
  local file="$1" offset="$2" bytes="$3" esc="" b
  for b in $bytes; do esc+="\\x$b"; done
  printf "$esc" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

le32() {  # le32 VALUE -> four hex bytes, little-endian
  local v=$(($1 & 0xFFFFFFFF))
  printf '%02x %02x %02x %02x' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) $(((v >> 24) & 255))
}

TRUX_AT=$(section_offset "$W/english.exe")
PE_AT=$(od -An -tu2 -j 60 -N 2 "$W/english.exe" | tr -d ' ')

# The runtime and the installers made from it are large-address-aware (file
# header Characteristics bit 0x20): a product of 1 GiB needs the address
# space above 2 GiB for its region and the unpacked copy.
for exe in "$STUB" "$W/english.exe"; do
  at=$(od -An -tu2 -j 60 -N 2 "$exe" | tr -d ' ')
  characteristics=$(od -An -tu2 -j $((at + 22)) -N 2 "$exe" | tr -d ' ')
  e2e_check "large-address-aware: $(basename "$exe")" 32 $((characteristics & 32))
done

# The file offset of the .trux section header in the section table.
section_header() {
  local optional index
  optional=$(od -An -tu2 -j $((PE_AT + 20)) -N 2 "$1" | tr -d ' ')
  index=$(i686-w64-mingw32-objdump -h "$1" | awk '$2 == ".trux" { print $1 }')
  echo $((PE_AT + 24 + optional + 40 * index))
}

# damaged NAME OFFSET BYTES EXPECTED-BOX-TEXT (escaped form)
damaged() {
  local f="$E2E_TMP/damaged.exe"
  cp "$W/english.exe" "$f"
  poke "$f" "$2" "$3"
  e2e_robot "damaged: $1" 0 "$4"$'\n' "" \
    start "$f" wait-box --caption "FATAL ERROR" print-text --escaped answer 1 wait-exit --expect 1
}

damaged "wrong magic" $((TRUX_AT + 0)) "$(le32 0xA4F23DE6)" "${CORRUPT_TEXT}20"
damaged "format version 17.21" $((TRUX_AT + 4)) "$(le32 1721)" \
  "The installer version (17.2) does not match the version of TRUX (17.2).  Close all applications and reinstall TRUX."
damaged "settings size 0" $((TRUX_AT + 8)) "$(le32 0)" "${CORRUPT_TEXT}22"
damaged "archive size negative" $((TRUX_AT + 20)) "$(le32 0x80000000)" "${CORRUPT_TEXT}45"
damaged "archive size beyond the section" $((TRUX_AT + 20)) "$(le32 0x7FFFFFFF)" "${CORRUPT_TEXT}46"
damaged "archive size short of the data region" $((TRUX_AT + 20)) "$(le32 40)" "${CORRUPT_TEXT}46"
damaged "entry count negative" $((TRUX_AT + 24)) "$(le32 -1)" "${CORRUPT_TEXT}27"
damaged "entry count beyond the section" $((TRUX_AT + 24)) "$(le32 0x10000000)" "${CORRUPT_TEXT}46"
damaged "region size negative" $((TRUX_AT + 28)) "$(le32 -5)" "${CORRUPT_TEXT}29"
damaged "entry size above 1 GB" $((TRUX_AT + 36)) "$(le32 0x40000001)" "${CORRUPT_TEXT}28"
damaged "settings scrambled with another key" $((TRUX_AT + 12)) "$(le32 0x0BADF00D)" "${CORRUPT_TEXT}47"
# The PE headers of a file the loader would refuse: the runtime reads the
# file its command line names, so a good installer is started with a
# command line naming the damaged copy (without its extension: ".EXE" is
# added when the first token has none).
damaged_file() {
  local f="$E2E_TMP/damaged.exe"
  cp "$W/english.exe" "$f"
  poke "$f" "$2" "$3"
  [ -n "${5:-}" ] && poke "$f" "$5" "$6"
  e2e_robot "damaged file: $1" 0 "$4"$'\n' "" \
    start "$W/english.exe" --command-line "\"$(winpath "${f%.exe}")\" /a" \
    wait-box --caption "FATAL ERROR" print-text --escaped answer 1 wait-exit --expect 1
}
damaged_file "PE header offset 0x1001" 60 "01 10" "${CORRUPT_TEXT}43"
damaged_file "PE header offset 0x3F" 60 "3f 00" "${CORRUPT_TEXT}43"
damaged_file "PE header offset 0x1000 passes that test" 60 "00 10" "${CORRUPT_TEXT}44" $((0x1006)) "03 00"
damaged_file "section count 3" $((PE_AT + 6)) "03 00" "${CORRUPT_TEXT}44"
damaged_file "section count 100" $((PE_AT + 6)) "64 00" "${CORRUPT_TEXT}44"
e2e_robot "a command line naming a missing file falls back to the module" 0 "" "" \
  start "$W/english.exe" --command-line "\"$(winpath "$W/nowhere.exe")\" /a" until-exit --expect 1
damaged "section name in capitals" "$(section_header "$W/english.exe")" "2e 54 52 55 58" \
  "This program performs installations and uninstallations.\\r\\nThere is no installation archive present.\\r\\nNo Uninstallation parameters were specified.\\r\\n\\r\\nYou should not delete this program or execute it directly."

# Found after the message table is read: the archive's own message 13.
project checked "check_stub = true"
sed -i '/^\[languages\]/,/^files/d' "$W/checked.toml"
build checked
e2e_robot "checked stub: an intact installer passes" 0 "" "" \
  start "$W/checked.exe" wait-box --caption "$START_QUESTION" answer 7 wait-exit --expect 1
cp "$W/checked.exe" "$E2E_TMP/damaged.exe"
poke "$E2E_TMP/damaged.exe" $(($(section_offset "$W/checked.exe") + 16)) "$(le32 0x12345678)"
e2e_robot "checked stub: a wrong stub checksum is error 40 in the archive's words" 0 "Broken installer, code 40."$'\n' "" \
  start "$E2E_TMP/damaged.exe" wait-box --caption "FATAL ERROR" print-text --escaped answer 1 wait-exit --expect 1

e2e_end

#!/usr/bin/env bash
# End to end: the runtime's command line under Wine. The stub runs as a real
# process; the robot waits for its FATAL ERROR box, reads the text, presses
# OK, and the stub's exit code is checked.
# Usage: cmdline.sh STUB ROBOT SRCROOT
#
# Quoting through Wine: `wine prog.exe ARG...` builds the Windows command line
# from the Unix arguments by wrapping any argument that holds a blank, tab or
# double quote in double quotes, writing its quotes as \" (and doubling the
# backslashes before them), and writing an empty argument as "". Plain
# arguments pass unchanged; anything with a quote reaches the program altered.
# So the cases below are started by the robot (`start STUB --args TEXT`),
# which hands TEXT to CreateProcessA exactly as written. The robot's own
# arguments survive the trip, because its C runtime undoes Wine's quoting.
# Two cases run the stub straight through `wine` to pin that behaviour down.
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin cmdline "$SRC"
e2e_need_truxpack  # the prefix snapshots below
PROG="$(basename "$STUB")"

# The box text of a usage error: the message, then the usage in which the
# program's own file name appears.
usage_text() {
  # shellcheck disable=SC2059
  printf "%s\r\n\r\nUsage:\r\n%s [/a] [/s] [/b1:\"commands\"] [/b2:\"commands\"] [/b3:\"commands\"] [/d:\"dir\"] [/n:\"name\"] [/u:\"name\"] [/r:\"program\"] [/l:\"file\"]\r\n\r\n/a                  \tAutomatic mode.\r\n/s                  \tSilent mode: automatic, no windows, the outcome as exit code.\r\n/d:\"dir\"        \tOverride installation directory.\r\n/b1:\"commands\"\tAdd commands to the end of the Pre-Installation Batch.\r\n/b2:\"commands\"\tAdd commands to the end of the Post-Installation Batch.\r\n/b3:\"commands\"\tAdd commands to the end of the Installation-Exit Batch.\r\n/n:\"name\"\tOverride product name.\r\n/u:\"name\"\tUninstall product by name.\r\n/r:\"program\"\tRun the specified program after a successful installation.\r\n/l:\"file\"       \tAppend a log of the run to the file." "$1" "$PROG"
}
ILLEGAL=$'Illegal command line atom:\n'
UNEXPECTED=$'Unexpected command line parameter:\n'
NONAME="Product name required"
# What marks a box as the usage box, whatever its message.
USAGE_MARK="\\r\\n\\r\\nUsage:\\r\\n$PROG ["

# usage CASE-NAME ARGTEXT MESSAGE: exactly one FATAL ERROR box with the usage
# text for MESSAGE; after OK the stub ends with exit code 1.
usage() {
  e2e_robot "usage box: $1" 0 "$(usage_text "$3")" "" \
    start "$STUB" --args "$2" wait-box --caption "FATAL ERROR" print-text --raw answer 1 wait-exit --expect 1
}

# valid CASE-NAME ARGTEXT: the command line is accepted. Whatever boxes the
# run shows later are answered with OK and must not be the usage box; the
# stub ends with exit code 1.
valid() {
  robot start "$STUB" --args "$2" until-exit --reject "$USAGE_MARK" --answer 1 --expect 1 --timeout 20 \
    >"$E2E_TMP/valid.out" 2>"$E2E_TMP/valid.err"
  local rc=$?
  if [ "$rc" = 0 ]; then
    e2e_pass "accepted: $1"
  else
    e2e_fail "accepted: $1" "robot exit code $rc" "$(cat "$E2E_TMP/valid.err")" "boxes: $(cat "$E2E_TMP/valid.out")"
  fi
}

repeat() { local i s=""; for ((i = 0; i < $2; i++)); do s+="$1 "; done; printf '%s' "$s"; }

# Everything a run could have written: every file and folder under drive_c
# with its contents, size and time (folder times catch files made and removed
# again), and the registry values of the machine and the user. Wine's own
# writes are left out: the prefix's root, where wineserver saves the registry
# at its own pace, and the registry housekeeping prefix_diff knows.
source "$SRC/tests/e2e/lib/snapshot.bash"
snapshot() {  # snapshot OUT: OUT (files, shortcuts, registry) and OUT.times
  prefix_snapshot "$1"
  (cd "$WINEPREFIX/drive_c" && find . -printf '%y %p %s %T@\n' | LC_ALL=C sort) >"$1.times"
}
snapshot "$E2E_TMP/before"

# ---- usage errors ----------------------------------------------------------
usage "/auto is not /a"                     '/auto'                        "${ILLEGAL}auto"
usage "-auto likewise"                      '-auto'                        "${ILLEGAL}auto"
usage "the atom keeps its letter case"      '/AUTO'                        "${ILLEGAL}AUTO"
usage "/r: needs its opening quote"         '/r:notepad.exe'               "${ILLEGAL}r:notepad.exe"
usage "/b1: needs its opening quote"        '/b1:echo'                     "${ILLEGAL}b1:echo"
usage "there is no /b4:"                    '/b4:"x"'                      "${ILLEGAL}b4:\"x\""
usage "/silent is not /s"                   '/silent'                      "${ILLEGAL}silent"
usage "/l needs its colon"                  '/l'                           "${ILLEGAL}l"
usage "/l: without a file name"             '/l:'                          "Log file name required"
usage "/l: with an empty quoted name"       '/l:""'                        "Log file name required"
usage "/u alone"                            '/u'                           "$NONAME"
usage "/uninstall"                          '/uninstall'                   "$NONAME"
usage "-U"                                  '-U'                           "$NONAME"
usage "/u: with nothing after it"           '/u:'                          "$NONAME"
usage "/u: with an empty quoted name"       '/u:""'                        "$NONAME"
usage "/a before /u"                        '/a /u'                        "$NONAME"
usage "a non-switch atom"                   'setup.exe'                    "${UNEXPECTED}setup.exe"
usage "a non-switch atom after a valid one" '/a C:\x'                      "${UNEXPECTED}C:\\x"
usage "a quoted non-switch atom keeps its quotes" '"my setup"'             "${UNEXPECTED}\"my setup\""
usage "a lone quote"                        '"'                            "${UNEXPECTED}\"\""
usage "the first bad atom is reported"      '/auto /uninstall setup'      "${ILLEGAL}auto"
usage "the whole line is checked before /u" '/uninstall /auto'             "${ILLEGAL}auto"
usage "a valid /u:name does not hide a bad atom" '/u:"Product" /x'         "${ILLEGAL}x"
# Quoted sections: one atom across blanks, "" inside stands for one quote,
# an unterminated section runs to the end and is closed.
usage "a quoted /d: with a blank is one atom" '/d:"C:\Program Files\App" /x' "${ILLEGAL}x"
usage "an unquoted /d: is accepted"         '/d:C:\Apps\Tool /x'           "${ILLEGAL}x"
usage "a doubled quote is accepted"         '/d:"a""b" /x'                 "${ILLEGAL}x"
usage "a doubled quote stands for one quote" '/x:"a""b"'                   "${ILLEGAL}x:\"a\"b\""
usage "quoted and plain text make one atom" '/q:"a b"c'                    "${ILLEGAL}q:\"a b\"c"
usage "an unterminated quote runs to the end" '/z:"open end'               "${ILLEGAL}z:\"open end\""
usage "a /b1: value with ~~ and backquotes is accepted" '/b1:"echo one~~echo `w`" /x' "${ILLEGAL}x"
usage "a quoted /r: is accepted"            '/r:"notepad.exe" /x'          "${ILLEGAL}x"
usage "tab, CR and LF separate atoms"       $'/a\t/n:N\r\n/x'              "${ILLEGAL}x"
# A lone switch character is ignored, and parsing goes on after it.
usage "a lone / is ignored"                 '/ /x'                         "${ILLEGAL}x"
usage "a lone - is ignored"                 '/a - /u'                      "$NONAME"
# Only the first 19 atoms are examined.
usage "a bad 19th atom is seen"             "$(repeat /a 18)/x"            "${ILLEGAL}x"
usage "/u as 19th atom is seen"             "$(repeat /a 18)/u"            "$NONAME"
usage "lone slashes count as atoms"         "$(repeat / 18)/x"             "${ILLEGAL}x"

# The box itself: a message box captioned FATAL ERROR with one button, OK.
robot start "$STUB" --args '/auto' wait-box print answer 1 wait-exit --expect 1 >"$E2E_TMP/print.out" 2>&1
print_rc=$?
e2e_check "usage box: FATAL ERROR caption, one button OK, exit code 1" \
  $'window class=#32770 caption="FATAL ERROR" messagebox=1\ncontrol id=1 class=Button enabled=1 visible=1 text="OK"\nrc=0' \
  "$(grep -e '^window' -e 'class=Button' "$E2E_TMP/print.out")"$'\n'"rc=$print_rc"

# Started straight through wine: a plain argument arrives unchanged ...
( wine "$STUB" /auto; echo $? >"$E2E_TMP/direct.rc" ) &
e2e_robot "through wine: a plain argument arrives unchanged" 0 "$(usage_text "${ILLEGAL}auto")" "" \
  wait-box --caption "FATAL ERROR" print-text --raw answer 1
wait
e2e_check "through wine: exit code 1" "1" "$(cat "$E2E_TMP/direct.rc")"
# ... and one with quotes and a blank arrives re-quoted by Wine as
# "/d:\"C:\Program Files\"", which splits into other atoms.
( wine "$STUB" '/d:"C:\Program Files"'; echo $? >"$E2E_TMP/direct.rc" ) &
e2e_robot "through wine: quotes are rewritten" 0 "$(usage_text "${UNEXPECTED}\"/d:\\\"C:\\Program")" "" \
  wait-box --caption "FATAL ERROR" print-text --raw answer 1
wait
e2e_check "through wine: exit code 1 after the rewritten line" "1" "$(cat "$E2E_TMP/direct.rc")"

# Nothing a usage error does reaches the disk.
snapshot "$E2E_TMP/after"
{ prefix_diff "$E2E_TMP/before" "$E2E_TMP/after"
  diff "$E2E_TMP/before.times" "$E2E_TMP/after.times" | grep -E '^[<>]'
  # A snapshot without the registry would compare nothing of it.
  for f in before after; do grep -q '^value' "$E2E_TMP/$f" || echo "the snapshot $f the runs has no registry values"; done
} >"$E2E_TMP/diff"
if [ ! -s "$E2E_TMP/diff" ]; then
  e2e_pass "usage errors wrote nothing in the prefix"
else
  e2e_fail "usage errors wrote nothing in the prefix" "$(head -20 "$E2E_TMP/diff")"
fi

# ---- accepted command lines -------------------------------------------------
valid "-a"                                  '-a'
valid "/A"                                  '/A'
valid "an empty command line"               ''
valid "trailing blanks"                     '/a   '
valid "/d: unquoted"                        '/d:C:\Apps\Tool'
valid "/d: quoted"                          '/d:"C:\Apps\Tool"'
valid "/d: quoted with a blank"             '/d:"C:\Program Files\Tool"'
valid "/n: quoted and unquoted"             '/n:Name /N:"My Product"'
valid "/b1: with ~~ and backquotes"         '/b1:"echo one~~echo `w`"'
valid "/b2: and /b3:"                       '/b2:"echo two" /B3:"echo three"'
valid "a doubled quote in a quoted section" '/d:"C:\a""b"'
valid "/r: quoted"                          '/r:"notepad.exe"'
valid "/u: with a quoted name"              '/u:"Some Product"'
valid "lone switch characters"              '/ /a - /'
valid "an unterminated quote"               '/d:"C:\open end'
# Atoms after the 19th are not even looked at.
valid "a bad 20th atom is ignored"          "$(repeat /a 19)/x"
valid "/u as 20th atom is ignored"          "$(repeat /a 19)/u"
valid "a non-switch 20th atom is ignored"   "$(repeat /a 19)setup.exe"
valid "25 valid atoms"                      "$(repeat '/a /d:C:\x /n:"N" /b1:"echo" /' 5)"

e2e_end

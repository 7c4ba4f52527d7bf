#!/usr/bin/env bash
# End to end: truxpack try on real installers under Wine. The installer
# and the uninstaller run silently (/s) with a run log (/l:) each.
#  - the demo product: the report names exactly its files, shortcuts (with
#    their targets), file association, product keys and Uninstall entry, the
#    removal leaves nothing, both runs end with exit code 0 ("completed"),
#    the exit code is 0, and --json conforms to docs/try-report.schema.json;
#  - a product whose uninstaller cannot remove one file (the robot holds it
#    open, started by the product's first uninstall batch): the file is
#    reported as left behind, the uninstaller's exit code 3010 says a restart
#    is needed to finish, and the exit code is 1;
#  - a corrupt installer: its FATAL ERROR box, answered by the silent run
#    itself, is read from the run log and reported with its text, the
#    installer's exit code 1603 as "failed", and the exit code is 1 (with
#    --keep, whose prefix stays, and --no-uninstall, which tries no removal).
# Each try copies the suite's base prefix (--base), so no cache is made in
# the home directory. Needs python3 for the JSON checks.
# Usage: try.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin try "$SRC"
e2e_need_truxpack
command -v python3 >/dev/null || { echo "try.sh: python3 is missing (scripts/install-deps installs it)"; exit 1; }
W="$E2E_TMP/work"
mkdir -p "$W"
# The try's own prefixes go where the suite keeps its prefixes.
export TMPDIR="$TRUX_WINE_DIR/try-tmp"
mkdir -p "$TMPDIR"
ROBOT_ABS="$(e2e_abspath "$ROBOT")"
try() { "$TRUXPACK" try -q --base "$TRUX_WINE_BASE" --robot "$ROBOT_ABS" --timeout 300 "$@"; }

# items FILE [GROUP...]: one line per reported item of the JSON report's
# "changes" (or, with LEFT=1, "left_behind"), Wine's housekeeping left out:
# group, change, kind, path, value name, and for shortcuts their target,
# arguments and working directory. The user's name becomes USER.
items() {
  python3 - "$1" "${LEFT:-0}" <<'EOF'
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
changes = report["left_behind" if sys.argv[2] == "1" else "changes"] or {}
lines = []
for group, items in changes.items():
    if group == "wine_housekeeping":
        continue
    for i in items:
        line = f"{group} {i['change']} {i['kind']} {i['path']}"
        if i["kind"] == "value":
            line += f" [{i['name']}]"
        if "target" in i:
            line += f" -> {i['target']} | args={i['arguments']} | dir={i['working_dir']}"
        lines.append(line)
user = None
for line in lines:
    if "C:\\users\\" in line:
        user = line.split("C:\\users\\")[1].split("\\")[0]
        break
for line in sorted(lines):
    print(line.replace(f"C:\\users\\{user}\\", "C:\\users\\USER\\") if user else line)
EOF
}
field() { python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"; }

# ---- the demo product ------------------------------------------------------------
e2e_build "$SRC/examples/demo/demo.toml" "$W/setup.exe"
try --json "$W/setup.exe" >"$W/demo.json" 2>"$W/demo.err"
rc=$?
e2e_check "demo: exit code 0 (installed, nothing left behind)" 0 "$rc"
[ -s "$W/demo.err" ] && e2e_fail "demo: nothing on stderr" "$(head -5 "$W/demo.err")" || e2e_pass "demo: nothing on stderr"
if python3 "$SRC/tests/e2e/lib/schema_check.py" "$SRC/docs/try-report.schema.json" "$W/demo.json" >"$E2E_TMP/schema.out"; then
  e2e_pass "demo: --json conforms to docs/try-report.schema.json"
else
  e2e_fail "demo: --json conforms to docs/try-report.schema.json" "$(head -10 "$E2E_TMP/schema.out")"
fi
U='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Trux Demo'
D='C:\Program Files\Trux Demo'
M='C:\users\USER\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Trux Demo Team'
expected="$(LC_ALL=C sort <<EOF
files added directory C:\Program Files\Common Files\Trux Demo Team
files added file C:\Program Files\Common Files\Trux Demo Team\trux-demo-common.dat
files added directory $D
files added file $D\Uninstall Trux Demo.exe
files added file $D\Uninstall.DAT
files added directory $D\docs
files added directory $D\docs\guide
files added file $D\docs\guide\chapter1.txt
files added file $D\docs\guide\chapter2.txt
files added file $D\docs\intro.txt
files added file $D\readme.txt
files added file $D\settings.ini
files added directory $M
files added directory $M\Trux Demo
shortcuts added file $M\Trux Demo\Trux Demo Readme.LNK -> $D\readme.txt | args= | dir=$D
shortcuts added file $M\Trux Demo\Trux Demo.LNK -> $D\readme.txt | args= | dir=$D
shortcuts added file $M\Trux Demo\Uninstall Trux Demo.LNK -> $D\Uninstall Trux Demo.exe | args=/u:"Trux Demo" | dir=
shortcuts added file C:\users\USER\Desktop\Trux Demo.LNK -> $D\readme.txt | args= | dir=$D
associations added key HKEY_CLASSES_ROOT\.trxdemo
associations added value HKEY_CLASSES_ROOT\.trxdemo []
associations added key HKEY_CLASSES_ROOT\TruxDemo.Document
associations added value HKEY_CLASSES_ROOT\TruxDemo.Document []
associations added key HKEY_CLASSES_ROOT\TruxDemo.Document\DefaultIcon
associations added value HKEY_CLASSES_ROOT\TruxDemo.Document\DefaultIcon []
associations added key HKEY_CLASSES_ROOT\TruxDemo.Document\shell
associations added value HKEY_CLASSES_ROOT\TruxDemo.Document\shell []
associations added key HKEY_CLASSES_ROOT\TruxDemo.Document\shell\open
associations added value HKEY_CLASSES_ROOT\TruxDemo.Document\shell\open []
associations added key HKEY_CLASSES_ROOT\TruxDemo.Document\shell\open\command
associations added value HKEY_CLASSES_ROOT\TruxDemo.Document\shell\open\command []
shared_counts added value HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\SharedDLLs [C:\Program Files\Common Files\Trux Demo Team\trux-demo-common.dat]
registry added key HKEY_CURRENT_USER\Software\Trux Demo Team
registry added key HKEY_CURRENT_USER\Software\Trux Demo Team\Trux Demo
registry added key HKEY_LOCAL_MACHINE\Software\Trux Demo Team
registry added key HKEY_LOCAL_MACHINE\Software\Trux Demo Team\Trux Demo
uninstall_entry added key $U
EOF
)"
for v in BottomColor DisplayName DisplayTitle DisplayVersion InstallDate InstallLocation InstallSource MonoColor \
         ProductFlags ProductRegistry ProductStartMenu Publisher QuietUninstallString SharedFiles SharedPath TaskbarText \
         TitleColor TitleFont TitlePosition TitleShadow TopColor UninstallDataSHA256 UninstallString VersionMajor \
         VersionMinor; do
  expected+=$'\n'"uninstall_entry added value $U [$v]"
done
expected="$(LC_ALL=C sort <<<"$expected")"
e2e_check "demo: exactly its files, shortcuts, association, keys and Uninstall entry" "$expected" \
  "$(items "$W/demo.json" | LC_ALL=C sort)"
e2e_check "demo: nothing left behind" "" "$(LEFT=1 items "$W/demo.json")"
e2e_check "demo: installed without a box, removed through its Uninstall entry without a box, no problem" \
  "installed=True boxes=0 entries=$U removals=1 boxes=0 problems=0" \
  "$(field "$W/demo.json" '"installed=%s boxes=%d entries=%s removals=%d boxes=%d problems=%d" % (d["installed"],
     len(d["install"]["windows"]), "|".join(d["uninstall_entries"]), len(d["uninstall"]),
     sum(len(u["windows"]) for u in d["uninstall"]), len(d["problems"]))')"
e2e_check "demo: both runs silent, exit code 0, completed, their run logs read" \
  "True 0 completed None [] | True 0 completed None []" \
  "$(field "$W/demo.json" '" | ".join("%s %s %s %s %s" % (r["silent"], r["exit_code"], r["outcome"], r["log_problem"],
     r["errors"]) for r in [d["install"]] + d["uninstall"])')"
# The run logs lie in the try's own directory (under TMPDIR), outside the prefix.
trydir_re="$(winpath "$TMPDIR" | sed 's/[][\\.^$*+?(){}|]/\\&/g')\\\\truxpack-try-[A-Za-z0-9]+"
matches() { grep -Eq -- "$2" <<<"$3" && e2e_pass "$1" || e2e_fail "$1" "$3 (expected to match $2)"; }
matches "demo: the installer ran silently with its run log in the try's directory" \
  "^\"$trydir_re\\\\media\\\\setup\\.exe\" /s /l:\"$trydir_re\\\\logs\\\\install\\.log\"\$" \
  "$(field "$W/demo.json" 'd["install"]["command_line"]')"
matches "demo: the uninstaller ran silently as its UninstallString says, with a run log of its own" \
  "^\"C:\\\\Program Files\\\\Trux Demo\\\\Uninstall Trux Demo\\.exe\" /u:\"Trux Demo\" /s /l:\"$trydir_re\\\\logs\\\\uninstall-1\\.log\"\$" \
  "$(field "$W/demo.json" 'd["uninstall"][0]["command_line"]')"

# ---- an uninstaller that cannot remove a held file --------------------------------
mkdir -p "$W/held"
printf 'the application\r\n' >"$W/held/app.txt"
printf 'held open during the removal\r\n' >"$W/held/held.txt"
SIGNAL="$E2E_TMP/held.signal"
cat >"$W/held/held.toml" <<EOF
[product]
name = "Held Product"
install_dir = "Held Product"

[flags]
uninstaller = true

# A robot of its own holds held.txt open while the uninstaller runs; the
# batch goes on once the robot says it holds it.
[batches]
uninstall_first = '''
start "" "$(winpath "$ROBOT_ABS")" hold-file "%InstallDir%\\held.txt" make-file "$(winpath "$SIGNAL")" sleep 600000
"$(winpath "$ROBOT_ABS")" wait-file "$(winpath "$SIGNAL")" --timeout 120
'''

[[file]]
source = "app.txt"

[[file]]
source = "held.txt"
EOF
e2e_build "$W/held/held.toml" "$W/held.exe"
try --json "$W/held.exe" >"$W/held.json" 2>"$W/held.err"
rc=$?
e2e_check "held file: exit code 1" 1 "$rc"
[ -f "$SIGNAL" ] && e2e_pass "held file: the robot held the file during the removal" ||
  e2e_fail "held file: the robot held the file during the removal" "no signal file"
left="$(LEFT=1 items "$W/held.json")"
[[ "$left" == *"files added file C:\\Program Files\\Held Product\\held.txt"* ]] &&
  e2e_pass "held file: reported as left behind" || e2e_fail "held file: reported as left behind" "$left"
e2e_check "held file: app.txt was removed" "" "$(grep -F 'app.txt' <<<"$left")"
problems="$(field "$W/held.json" 'd["problems"]')"
[[ "$problems" == *"left behind"* ]] && e2e_pass "held file: the problem says what was left" ||
  e2e_fail "held file: the problem says what was left" "$problems"
# A silent uninstaller deletes a file in use at the next restart and says so.
e2e_check "held file: the uninstaller ended with 3010, a restart needed to finish" \
  "3010 completed; a restart is needed to finish" \
  "$(field "$W/held.json" '"%s %s" % (d["uninstall"][0]["exit_code"], d["uninstall"][0]["outcome"])')"

# ---- a corrupt installer: the FATAL ERROR box -------------------------------------
cp "$W/setup.exe" "$W/corrupt.exe"
python3 - "$W/corrupt.exe" "$STUB" "$TRUXPACK" <<'EOF'
import json, os, subprocess, sys
# The data region ends the archive in the section that follows the stub:
# one byte in its middle is flipped.
path, stub, truxpack = sys.argv[1:4]
header = json.loads(subprocess.run([truxpack, "list", "--json", path], capture_output=True, check=True,
                                   text=True).stdout)["header"]
data = bytearray(open(path, "rb").read())
data[os.path.getsize(stub) + header["section_archive_size"] - header["data_region_size"] // 2] ^= 0xFF
open(path, "wb").write(data)
EOF
code="$("$TRUXPACK" verify "$W/corrupt.exe" 2>&1 | sed -n 's/.*error code \([0-9]*\).*/\1/p')"
[ -n "$code" ] || { echo "try.sh: the corrupted installer passes truxpack verify"; exit 1; }
try --keep --no-uninstall "$W/corrupt.exe" >"$W/corrupt.txt" 2>"$W/corrupt.err"
rc=$?
e2e_check "fatal box: exit code 1" 1 "$rc"
kept="$(sed -n 's/^The prefix is kept: //p' "$W/corrupt.txt")"
[ -n "$kept" ] && [ -f "$kept/system.reg" ] && [ -d "$kept/drive_c" ] && e2e_pass "--keep: the prefix is kept and named" ||
  e2e_fail "--keep: the prefix is kept and named" "kept: '$kept'" "$(tail -5 "$W/corrupt.txt")"
case "$kept" in "$TMPDIR"/truxpack-try-*/prefix) rm -rf "${kept%/prefix}" ;; esac
grep -q '^Removal: not tried (--no-uninstall)$' "$W/corrupt.txt" && e2e_pass "--no-uninstall: no removal is tried" ||
  e2e_fail "--no-uninstall: no removal is tried" "$(grep -A3 '^Removal' "$W/corrupt.txt")"
# The silent run answered the box itself; its run log holds it.
grep -q '^  a message box "FATAL ERROR", not shown (the silent run answered it itself):$' "$W/corrupt.txt" &&
  grep -q "^    | Error code: $code\$" "$W/corrupt.txt" &&
  grep -q '^    | This installation program is corrupt.' "$W/corrupt.txt" && grep -q '^    answered: OK$' "$W/corrupt.txt" &&
  grep -q "^  - the installer would have shown a message box \"FATAL ERROR\" (the silent run answered OK): This installation program is corrupt.*Error code: $code\$" \
    "$W/corrupt.txt" &&
  e2e_pass "fatal box: its caption and text are reported from the run log" ||
  e2e_fail "fatal box: its caption and text are reported from the run log" "$(head -30 "$W/corrupt.txt")"
grep -q '^  ended after [0-9.]* s with exit code 1603 (failed)' "$W/corrupt.txt" &&
  grep -q '^  - the installer ended with exit code 1603: failed$' "$W/corrupt.txt" &&
  e2e_pass "fatal box: the exit code 1603 is reported as failed" ||
  e2e_fail "fatal box: the exit code 1603 is reported as failed" "$(head -30 "$W/corrupt.txt")"

e2e_end

#!/usr/bin/env bash
# End to end, in pixels: truxpack try --screens on the demo product under
# Wine. The installation runs as a person would, on truxpack's own Xvfb
# screen; every window gets a picture and an entry in index.md, and the
# pictures show the windows: the window's face colour fills exactly the
# window's place (less its frame) as index.md gives it, and the demo's
# background gradient shows around it. A second run chooses the second
# language (Deutsch) and answers the start question with No.
# Usage: try_screens.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin try-screens "$SRC"
e2e_need_truxpack
for tool in python3 Xvfb import convert; do
  command -v "$tool" >/dev/null || { echo "try_screens.sh: $tool is missing (scripts/install-deps installs it)"; exit 1; }
done
PIXELS=(python3 "$SRC/tests/e2e/lib/pixels.py")
W="$E2E_TMP/work"
mkdir -p "$W"
export TMPDIR="$TRUX_WINE_DIR/try-tmp"
mkdir -p "$TMPDIR"
ROBOT_ABS="$(e2e_abspath "$ROBOT")"
try() { "$TRUXPACK" try -q --base "$TRUX_WINE_BASE" --robot "$ROBOT_ABS" --timeout 300 "$@"; }
e2e_build "$SRC/examples/demo/demo.toml" "$W/setup.exe"

# ---- every window, each answered with its default ------------------------------
try --screens "$W/screens" "$W/setup.exe" >"$W/report.txt" 2>"$W/report.err"
rc=$?
e2e_check "default answers: installed and removed, exit code 0" 0 "$rc"
e2e_check "default answers: one heading per window in index.md" \
  $'## 1. Choose Your Language\n## 2. Trux Demo Setup\n## 3. Licence Agreement\n## 4. Installation Complete' \
  "$(grep '^## ' "$W/screens/index.md")"
e2e_check "default answers: one picture per window" \
  $'screen-01.png\nscreen-02.png\nscreen-03.png\nscreen-04.png' "$(cd "$W/screens" && ls screen-*.png)"
e2e_check "default answers: the answers given" \
  $'Buttons: OK (default), Cancel. Answered: OK.\nButtons: Yes, No. Answered: Yes.\nButtons: I accept the agreement (default), I do not accept the agreement. Answered: I accept the agreement.\nButtons: OK (default). Answered: OK.' \
  "$(grep '^Buttons: ' "$W/screens/index.md")"
grep -q "^  Pictures of its windows: $W/screens/index.md\$" "$W/report.txt" &&
  e2e_pass "default answers: the report names index.md" ||
  e2e_fail "default answers: the report names index.md" "$(grep -i picture "$W/report.txt")"

# The pictures: 1024 x 768, the demo's gradient at the top right and bottom
# left corners (#1F3A68 to #000010), and the window where index.md says: its
# face colour (read inside its frame) covers exactly its place less a frame
# of 2 pixels, and nowhere else.
k=0
while read -r l t r b; do
  k=$((k + 1))
  shot="$W/shot-$k.ppm"
  name="picture $k (window at $l $t $r $b)"
  if ! convert "$W/screens/screen-0$k.png" "$shot" 2>"$E2E_TMP/convert.err"; then
    e2e_fail "$name" "$(cat "$E2E_TMP/convert.err")"
    continue
  fi
  e2e_check "$name: the gradient around the window" "yes" \
    "$("${PIXELS[@]}" samples "$shot" 1020,5~1F3A68 5,760~000010 1023,767~000010)"
  face="$("${PIXELS[@]}" at "$shot" $((l + 3)) $((b - 3)))"
  e2e_check "$name: its face colour fills its place" "$((l + 2)) $((t + 2)) $((r - 2)) $((b - 2))" \
    "$("${PIXELS[@]}" bbox "$shot" "$face")"
done < <(sed -n 's/^A \(dialog\|message box\), at left \([0-9]*\), top \([0-9]*\), right \([0-9]*\), bottom \([0-9]*\)\.$/\2 \3 \4 \5/p' \
           "$W/screens/index.md")
e2e_check "default answers: every picture was looked at" 4 "$k"

# ---- the second language, and an answer chosen by caption and button -------------
try --screens "$W/screens-de" --language 2 --answer "Trux Demo Setup=No" "$W/setup.exe" >"$W/report-de.txt" 2>"$W/report-de.err"
rc=$?
e2e_check "Deutsch, No: exit code 1 (nothing installed, no Uninstall entry)" 1 "$rc"
e2e_check "Deutsch, No: the windows" $'## 1. Choose Your Language\n## 2. Trux Demo Setup' \
  "$(grep '^## ' "$W/screens-de/index.md")"
e2e_check "Deutsch, No: the language dialog relabelled, the start question in German, answered No" \
  $'Buttons: OK (default), Abbrechen. Answered: OK.\n> Trux Demo wird jetzt auf diesem Computer installiert.\nButtons: Yes, No. Answered: No.' \
  "$(grep -E '^Buttons: |^> Trux' "$W/screens-de/index.md")"
grep -q '^  - the installation made no Uninstall entry' "$W/report-de.txt" &&
  e2e_pass "Deutsch, No: the report says nothing was registered" ||
  e2e_fail "Deutsch, No: the report says nothing was registered" "$(tail -5 "$W/report-de.txt")"

e2e_end

#!/usr/bin/env bash
# End to end, in pixels: installers with different background settings run
# under a private Xvfb display (Wine's X11 driver, unmanaged windows); while
# the progress dialog shows its first stage, the whole screen is captured and
# sampled. The background window covers the 1024 x 768 screen, so every
# expected place below is worked out for that size.
# Usage: background_pixels.sh STUB ROBOT SRCROOT (TRUX_KEEP_SHOTS=DIR keeps the screenshots)
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin pixels "$SRC"
e2e_xvfb
e2e_need_truxpack
command -v import >/dev/null || { echo "background_pixels.sh: ImageMagick's import is missing"; exit 1; }
PIXELS=(python3 "$SRC/tests/e2e/lib/pixels.py")
W="$E2E_TMP/work"
mkdir -p "$W/files"
printf 'hello\r\n' >"$W/files/hello.txt"
CAPTION="Pixel Test Progress"

# Pictures with four one-colour quadrants: red, green, blue, white (top left,
# top right, bottom left, bottom right).
QUADRANTS="FF0000,00FF00,0000FF,FFFFFF"
"${PIXELS[@]}" bmp "$W/p8x6.bmp" 8 6 24 "$QUADRANTS"
"${PIXELS[@]}" bmp "$W/p8x4.bmp" 8 4 24 "$QUADRANTS"
"${PIXELS[@]}" bmp "$W/p128x64.bmp" 128 64 8 "$QUADRANTS"

# shot_signal NAME: the Windows path of $E2E_TMP/NAME, a file the script
# creates to let the robot go on.
shot_signal() { printf 'Z:%s' "${E2E_TMP//\//\\}\\$1"; }

# until_output FILE LINES PID: waits until FILE holds LINES lines, as long as
# process PID (the robot, whose own waits end it) runs; fails if it never does.
# FILE must exist beforehand.
until_output() {
  local n
  while n=$(wc -l <"$1") && [ "$n" -lt "$2" ]; do kill -0 "$3" 2>/dev/null || return 1; sleep 0.05; done
  [ "$n" -ge "$2" ]
}

# screenshot OUT: the whole screen, once it has settled: a window shown or
# changed a moment ago may not have painted yet, so shots are taken until
# three in a row are the same (or twelve have been taken).
screenshot() {
  local i same=0
  sleep 0.3
  import -display "$DISPLAY" -window root -depth 8 "$1" || return 1
  for i in $(seq 12); do
    [ "$same" -ge 2 ] && break
    sleep 0.2
    import -display "$DISPLAY" -window root -depth 8 "$1.next" || return 1
    if cmp -s "$1" "$1.next"; then same=$((same + 1)); else same=0; mv "$1.next" "$1"; fi
  done
  rm -f "$1.next"
}

# shoot NAME TITLE DIALOG-POSITION BACKGROUND-TOML: builds the installer,
# runs it until the progress dialog is up, captures the screen into
# $W/NAME.ppm, then cancels the run. Fails the case NAME when any of it fails.
shoot() {
  local name="$1" title="$2" position="$3" background="$4"
  cat >"$W/$name.toml" <<EOF
[product]
name = "Pixel Test"

[dialogs]
stage_pause = 9999
position = "$position"

[flags]
no_start_question = true

[background]
$background

[messages]
0 = "$title"
54 = "$CAPTION"

[[file]]
source = "files/hello.txt"
EOF
  if ! "$TRUXPACK" build "$W/$name.toml" -o "$W/$name.exe" --stub "$STUB" >"$E2E_TMP/build.log" 2>&1; then
    e2e_fail "$name: truxpack build" "$(cat "$E2E_TMP/build.log")"
    return 1
  fi
  rm -f "$W/$name.ppm" "$E2E_TMP/shot.done"
  : >"$E2E_TMP/shoot.out"
  # The robot holds the dialog on screen until the screenshot is taken.
  robot start "$W/$name.exe" wait-window "$CAPTION" --exact --timeout 60 print-rect \
    wait-file "$(shot_signal shot.done)" --timeout 60 \
    click 1003 wait-box --timeout 60 answer 6 wait-exit --timeout 60 --expect 1 >"$E2E_TMP/shoot.out" 2>"$E2E_TMP/shoot.err" &
  local pid=$!
  until_output "$E2E_TMP/shoot.out" 1 "$pid" && screenshot "$W/$name.ppm" 2>>"$E2E_TMP/shoot.err"
  : >"$E2E_TMP/shot.done"
  wait "$pid"
  local rc=$?
  if [ "$rc" != 0 ] || [ ! -s "$W/$name.ppm" ]; then
    e2e_fail "$name: the run" "robot exit code $rc, screenshot $([ -s "$W/$name.ppm" ] && echo taken || echo missing)" \
      "$(cat "$E2E_TMP/shoot.out" "$E2E_TMP/shoot.err")"
    return 1
  fi
  # TRUX_KEEP_SHOTS=DIR keeps every screenshot as DIR/NAME-N.png for a look.
  if [ -n "${TRUX_KEEP_SHOTS:-}" ]; then
    SHOT_NUMBER=$((${SHOT_NUMBER:-0} + 1))
    convert "$W/$name.ppm" "$TRUX_KEEP_SHOTS/$name-$SHOT_NUMBER.png"
  fi
  read -r DX0 DY0 DX1 DY1 <"$E2E_TMP/shoot.out"  # the progress dialog's place, skipped by the checks
  return 0
}

# ---------------------------------------------------------------- background and picture
# name | background settings | samples (X,Y=exact, X,Y~within 3, X,Y<between two colours)
# The progress dialog sits in the top left corner, where nothing is sampled.
BG_CASES=(
"gradient from top to bottom colour|top_color = \"#FF0000\"
bottom_color = \"#0000FF\"|600,0~FF0000 600,767~0000FF 600,384<FF0000/0000FF 1023,200<FF0000/0000FF 600,384<7A0085/85007A"
"equal colours paint one flat colour|top_color = \"#336699\"
bottom_color = \"#336699\"|600,0=336699 600,767=336699 1023,384=336699 5,700=336699"
"stretch, BitmapSize 50: the central half of width and height|top_color = \"#404040\"
bottom_color = \"#404040\"
bitmap = \"p8x6.bmp\"
bitmap_size = 50
stretch_mode = \"stretch\"|384,288=FF0000 640,288=00FF00 384,480=0000FF 640,480=FFFFFF 256,288=FF0000 255,288=404040 767,480=FFFFFF 768,480=404040 384,192=FF0000 384,191=404040 640,575=FFFFFF 640,576=404040"
"fit, BitmapSize 100: full width, centred vertically|top_color = \"#404040\"
bottom_color = \"#404040\"
bitmap = \"p8x4.bmp\"
bitmap_size = 100
stretch_mode = \"fit\"|256,200=FF0000 768,200=00FF00 256,500=0000FF 768,500=FFFFFF 512,127=404040 512,128=00FF00 512,639=FFFFFF 512,640=404040 0,300=FF0000 1023,300=00FF00"
"whole factor, BitmapSize 50: 64 times, centred|top_color = \"#404040\"
bottom_color = \"#404040\"
bitmap = \"p8x4.bmp\"
bitmap_size = 50
stretch_mode = \"whole_factor\"|300,300=FF0000 700,300=00FF00 300,480=0000FF 700,480=FFFFFF 256,256=FF0000 255,300=404040 767,511=FFFFFF 768,480=404040 300,255=404040 300,512=404040"
"whole factor, picture larger than its area: fitted, proportions kept|top_color = \"#404040\"
bottom_color = \"#404040\"
bitmap = \"p128x64.bmp\"
bitmap_size = 10
stretch_mode = \"whole_factor\"|475,365=FF0000 550,365=00FF00 475,400=0000FF 550,400=FFFFFF 475,350=404040 475,415=404040 455,380=404040 570,380=404040"
"tile: natural size from the top left corner|top_color = \"#404040\"
bottom_color = \"#404040\"
bitmap = \"p8x4.bmp\"
bitmap_size = 100
stretch_mode = \"tile\"|1000,700=FF0000 1005,700=00FF00 1000,702=0000FF 1007,703=FFFFFF 600,500=FF0000 804,603=FFFFFF 1023,767=FFFFFF"
"tile with BitmapSize 0: no picture|top_color = \"#404040\"
bottom_color = \"#404040\"
bitmap = \"p8x4.bmp\"
bitmap_size = 0
stretch_mode = \"tile\"|1000,700=404040 1005,700=404040 1000,702=404040 1007,703=404040 600,500=404040"
)
for row in "${BG_CASES[@]}"; do
  IFS='|' read -r -d '' name settings samples <<<"$row"
  samples="${samples%$'\n'}"
  shoot bg "" top_left "$settings" || continue
  # shellcheck disable=SC2086
  e2e_check "$name" yes "$("${PIXELS[@]}" samples "$W/bg.ppm" $samples)"
done

shoot flat "" top_left $'top_color = "#336699"\nbottom_color = "#336699"' &&
  e2e_check "one colour: every 7th pixel outside the dialog is TopColor" yes \
    "$("${PIXELS[@]}" only "$W/flat.ppm" 336699 "$DX0" "$DY0" "$DX1" "$DY1" 7)"

# ---------------------------------------------------------------- title
# Yellow title with a 3-pixel shadow on navy. For each TitlePosition: the
# region the title must lie in (X0 Y0 X1 Y1, ends exclusive) and which edge
# it must hug; every yellow pixel of the screen lies in that region, and
# the black shadow is the title moved 3 pixels right and down.
# Available width A = 1024 - 2 x 3 - 4 = 1014, drawn from x = 2: centred
# titles centre on 2 + 1014 / 2 = 509. Top titles start at y = 1; bottom
# titles end at 768 - 3 - 1 = 764.
TITLE_BG=$'top_color = "#000080"\nbottom_color = "#000080"\ntitle_color = "#FFFF00"\ntitle_shadow = 3'
TITLE_CASES=(
"top_left|bottom_center|0 0 400 42|left top"
"top_center|bottom_center|312 0 712 42|centre top"
"top_right|bottom_center|624 0 1017 42|right top"
"bottom_left|top_center|0 724 400 765|left bottom"
"bottom_center|top_center|312 724 712 765|centre bottom"
"bottom_right|top_center|624 724 1017 765|right bottom"
)
hugs() {  # hugs EDGES X0 Y0 X1 Y1 -> "yes" or what is wrong
  local edges="$1" x0="$2" y0="$3" x1="$4" y1="$5" e
  for e in $edges; do
    case "$e" in
      left) [ "$x0" -ge 2 ] && [ "$x0" -le 14 ] || { echo "left edge at $x0"; return; } ;;
      right) [ "$x1" -le 1016 ] && [ "$x1" -ge 1002 ] || { echo "right edge at $x1"; return; } ;;
      centre) local m=$(((x0 + x1) / 2)); [ "$m" -ge 501 ] && [ "$m" -le 517 ] || { echo "centre at $m"; return; } ;;
      top) [ "$y0" -ge 1 ] && [ "$y0" -le 14 ] || { echo "top edge at $y0"; return; } ;;
      bottom) [ "$y1" -le 764 ] && [ "$y1" -ge 750 ] || { echo "bottom edge at $y1"; return; } ;;
    esac
  done
  echo yes
}
for row in "${TITLE_CASES[@]}"; do
  IFS='|' read -r position dialog region edges <<<"$row"
  shoot "title" "Pixel Title" "$dialog" "$TITLE_BG"$'\n'"title_position = \"$position\"" || continue
  total=$("${PIXELS[@]}" count "$W/title.ppm" FFFF00)
  # shellcheck disable=SC2086
  inside=$("${PIXELS[@]}" count "$W/title.ppm" FFFF00 $region)
  # shellcheck disable=SC2086
  box=$("${PIXELS[@]}" bbox "$W/title.ppm" FFFF00)
  if [ "$total" -lt 200 ]; then
    e2e_fail "title $position: drawn" "only $total title pixels"
    continue
  fi
  e2e_check "title $position: every title pixel inside its region" "$total" "$inside"
  # shellcheck disable=SC2086
  [ "$position" = top_left ] && TITLE_HEIGHT=$(set -- $box; echo $(($4 - $2)))
  # shellcheck disable=SC2086
  e2e_check "title $position: at its edge" yes "$(hugs "$edges" $box)"
  e2e_check "title $position: shadow 3 pixels right and down" "3 3" \
    "$("${PIXELS[@]}" shift "$W/title.ppm" FFFF00 000000 6)"
done

# The progress dialog is at the top (its frame and texts are black): black
# pixels are counted below it.
shoot noshadow "Pixel Title" top_center "${TITLE_BG/title_shadow = 3/title_shadow = 0}"$'\ntitle_position = "bottom_center"' && {
  yellow=$("${PIXELS[@]}" count "$W/noshadow.ppm" FFFF00)
  e2e_check "title without shadow: drawn, and not one black pixel" "yes 0" \
    "$([ "$yellow" -ge 200 ] && echo yes || echo "$yellow") $("${PIXELS[@]}" count "$W/noshadow.ppm" 000000 0 "$DY1" 1024 768)"
}

shoot none "Pixel Title" top_center "$TITLE_BG"$'\ntitle_position = "none"' &&
  e2e_check "TitlePosition none: no title, no shadow" "0 0" \
    "$("${PIXELS[@]}" count "$W/none.ppm" FFFF00) $("${PIXELS[@]}" count "$W/none.ppm" 000000 0 "$DY1" 1024 768)"

# A title far too wide for 26 points shrinks until it fits the width: the
# same words as above, repeated, come out lower than the one-line title.
shoot long "$(printf 'Pixel Title %.0s' 1 2 3 4 5 6 7 8 9 10)" bottom_center "$TITLE_BG"$'\ntitle_position = "top_left"' && {
  read -r lx0 ly0 lx1 ly1 < <("${PIXELS[@]}" bbox "$W/long.ppm" FFFF00)
  e2e_check "long title: inside the width, lower than at 26 points" "yes" \
    "$([ "${lx0:-0}" -ge 2 ] && [ "${lx1:-9999}" -le 1019 ] && [ $((lx1 - lx0)) -gt 800 ] &&
      [ $((ly1 - ly0)) -lt "${TITLE_HEIGHT:-0}" ] && echo yes ||
      echo "box $lx0 $ly0 $lx1 $ly1, one-line title $TITLE_HEIGHT high")"
}

# Two lines at the bottom: the second line's cell ends one pixel plus the
# shadow above the bottom edge; the first line lies above it.
shoot twolines 'First line\nSecond line' top_center "$TITLE_BG"$'\ntitle_position = "bottom_left"' && {
  read -r tx0 ty0 tx1 ty1 < <("${PIXELS[@]}" bbox "$W/twolines.ppm" FFFF00)
  upper=$("${PIXELS[@]}" count "$W/twolines.ppm" FFFF00 0 690 1024 728)
  e2e_check "two-line bottom title: ends above 764, first line above the second" "yes" \
    "$([ "${ty1:-0}" -le 764 ] && [ "${ty1:-0}" -ge 750 ] && [ "${ty0:-999}" -le 725 ] && [ "$upper" -ge 100 ] &&
      echo yes || echo "box $tx0 $ty0 $tx1 $ty1, $upper pixels in the first line")"
}

# Choosing another language in the language dialog repaints the title in
# that language at once (message 0 of each language).
cat >"$W/lang.toml" <<EOF
[product]
name = "Pixel Test"

[background]
$TITLE_BG
title_position = "top_left"

[messages]
0 = "Short"

[languages]
files = ["lang-de.toml"]

[[file]]
source = "files/hello.txt"
EOF
printf 'name = "Deutsch"\n[messages]\n0 = "Ein viel laengerer Titel"\n' >"$W/lang-de.toml"
if "$TRUXPACK" build "$W/lang.toml" -o "$W/lang.exe" --stub "$STUB" >"$E2E_TMP/build.log" 2>&1; then
  : >"$E2E_TMP/lang.out"
  rm -f "$E2E_TMP/lang1.done" "$E2E_TMP/lang2.done"
  robot start "$W/lang.exe" wait-window "Choose Your Language" --exact --timeout 60 print-caption \
    wait-file "$(shot_signal lang1.done)" --timeout 60 select 1017 =Deutsch print-caption \
    wait-file "$(shot_signal lang2.done)" --timeout 60 click 1003 wait-exit --timeout 60 --expect 1 \
    >"$E2E_TMP/lang.out" 2>"$E2E_TMP/lang.err" &
  pid=$!
  for line in 1 2; do
    until_output "$E2E_TMP/lang.out" "$line" "$pid" && screenshot "$W/lang$line.ppm"
    : >"$E2E_TMP/lang$line.done"
  done
  if wait "$pid"; then
    read -r _ _ ax1 _ < <("${PIXELS[@]}" bbox "$W/lang1.ppm" FFFF00)
    read -r _ _ bx1 _ < <("${PIXELS[@]}" bbox "$W/lang2.ppm" FFFF00)
    e2e_check "a language change repaints the title in the new language" yes \
      "$([ "${ax1:-0}" -gt 40 ] && [ "${bx1:-0}" -gt $((${ax1:-0} + 150)) ] && echo yes ||
        echo "title ends at ${ax1:-none} in English, ${bx1:-none} in German")"
  else
    e2e_fail "language repaint: the run" "$(cat "$E2E_TMP/lang.err")"
  fi
else
  e2e_fail "language repaint: truxpack build" "$(cat "$E2E_TMP/build.log")"
fi

e2e_end

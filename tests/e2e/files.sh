#!/usr/bin/env bash
# End to end: the product's files onto the disk. Installers built by truxpack
# run under Wine silently (/s); every installed file is compared byte for
# byte with its source, with its modification time, for a region in the
# image, a compressed region, and data beyond the image in three volumes. A
# missing volume is asked for (message 26 with the drive letter, then message
# 30 in front), the progress bar stands in the volume range meanwhile, and the
# installation goes on once the volume is there. A non-automatic run samples
# the bar: a region wholly in the image goes from 2 straight to 36.
# Usage: files.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin files "$SRC"
e2e_need_truxpack
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
mkdir -p "$W/files/docs/deep" "$C/t"

# A product of nested folders with known times (local time, to the second).
printf 'top file\r\n' >"$W/files/a.txt"
printf 'guide\r\n' >"$W/files/docs/b.txt"
head -c 20000 /dev/urandom >"$W/files/docs/deep/c.bin"
: >"$W/files/empty.dat"
touch -d "2021-03-04 05:06:07" "$W/files/a.txt"
touch -d "2019-12-31 23:59:58" "$W/files/docs/b.txt"
touch -d "2020-07-01 12:00:00" "$W/files/docs/deep/c.bin"
touch -d "2018-01-01 00:00:01" "$W/files/empty.dat"

project() {  # project NAME [TOML LINES...]
  local name="$1"
  shift
  {
    printf '[product]\nname = "Files %s"\ninstall_dir = "C:\\\\inst\\\\%s"\n\n' "$name" "$name"
    printf '[messages]\n26 = "Insert volume %%d in drive %%c:"\n27 = "Insert Volume"\n30 = "Wrong or missing volume."\n'
    printf '54 = "Installing %s"\n\n' "$name"
    printf '%s\n' "$@"
    printf '\n[[file]]\nsource = "files/**/*"\nname = ""\n'
  } >"$W/$name.toml"
}

build() {  # build NAME [truxpack options...]
  local name="$1"
  shift
  e2e_build "$W/$name.toml" "$C/t/$name.exe" "$@"
}

# same_tree NAME: every source file installed under C:\inst\NAME with the same
# bytes and modification time.
same_tree() {
  local name="$1" f rel bad=()
  while IFS= read -r -d '' f; do
    rel="${f#"$W/files/"}"
    local got="$C/inst/$name/$rel"
    if ! cmp -s "$f" "$got"; then bad+=("$rel differs or is missing"); continue; fi
    [ "$(stat -c %Y "$f")" = "$(stat -c %Y "$got")" ] || bad+=("$rel: time $(stat -c %y "$got"), source $(stat -c %y "$f")")
  done < <(find "$W/files" -type f -print0)
  if [ ${#bad[@]} -eq 0 ]; then e2e_pass "$name: every file equals its source, with its time"; else
    e2e_fail "$name: installed tree" "${bad[@]}"; fi
}

# dialog_gone CAPTION: waits until the installer's progress dialog, shown
# all along, has been destroyed, as long as the robot's own generous waits
# (the run may already be over: then there is nothing to wait for). A dialog
# still there after that is a failure of its own.
dialog_gone() {
  robot wait-window "$1" --exact --timeout 0.5 wait-gone --timeout 60 >/dev/null 2>"$E2E_TMP/gone.err"
  case "$(cat "$E2E_TMP/gone.err")" in *"still there"*) e2e_fail "$1: the dialog closes" "$(cat "$E2E_TMP/gone.err")" ;; esac
}

project stored
build stored
project compressed '[flags]' 'compressed = true'
build compressed
project volumes '[data]' 'outside_image = true' 'volume_identifier = 77'
build volumes --volume-size 6000
n_volumes=$(ls "$C/t" | grep -c '^volumes[0-9]*\.XAV$')
e2e_check "volumes: three volume files beside the installer" "3" "$n_volumes"

# Silent (/s): no window may appear, and the exit code says the run
# completed without a single error.
for name in stored compressed volumes; do
  e2e_robot "$name: silent installation, no window, exit code 0" 0 "" "" \
    start "C:\\t\\$name.exe" --args "/s" until-exit --no-window --timeout 60 --expect 0
  same_tree "$name"
done

# A missing volume: asked for with its number and the drive letter; OK while
# it is still missing brings message 30 in front; then it appears.
rm -rf "$C/inst/volumes"
mv "$C/t/volumes3.XAV" "$W/volumes3.XAV"
robot start 'C:\t\volumes.exe' --args "/a" wait-box --caption "Insert Volume" --timeout 60 print-text --escaped \
  >"$E2E_TMP/prompt1" 2>"$E2E_TMP/prompt1.err"
e2e_check "missing volume: first prompt" 'Insert volume 3 in drive C:' "$(cat "$E2E_TMP/prompt1")"
bar=$(robot wait-window "Installing volumes" --exact --timeout 60 print-progress 2>&1)
[ "$bar" -ge 5 ] 2>/dev/null && [ "$bar" -le 35 ] && e2e_pass "missing volume: the bar stands in the volume range ($bar)" ||
  e2e_fail "missing volume: bar position" "got $bar, expected 5 to 35"
e2e_robot "missing volume: OK while still missing asks again with message 30 in front" 0 \
  'Wrong or missing volume.\r\n\r\nInsert volume 3 in drive C:'$'\n' "" \
  wait-box --caption "Insert Volume" --timeout 60 answer 1 --timeout 60 \
  wait-box --caption "Insert Volume" --timeout 60 print-text --escaped
mv "$W/volumes3.XAV" "$C/t/volumes3.XAV"
e2e_robot "missing volume: OK once it is there goes on" 0 "" "" \
  wait-box --caption "Insert Volume" --timeout 60 answer 1 --timeout 60
dialog_gone "Installing volumes"
same_tree volumes

# The bar of a region in the image, sampled during a run with stage pauses:
# 2 at the start, then 36 with nothing between.
project paced '[flags]' 'no_start_question = true' 'no_final_message = true' '[dialogs]' 'stage_pause = 800'
build paced
robot start 'C:\t\paced.exe' wait-window "Installing paced" --exact --timeout 60 >/dev/null 2>&1
positions=""
for _ in $(seq 200); do
  p=$(robot wait-window "Installing paced" --exact --timeout 1 print-progress 2>/dev/null) || break
  [ "$p" = 0 ] && continue  # the bar before its first position
  case " $positions " in *" $p "*) ;; *) positions="$positions $p" ;; esac
done
first_two=$(echo $positions | awk '{print $1, $2}')
e2e_check "in the image: the bar goes from 2 straight to 36" "2 36" "$first_two"
dialog_gone "Installing paced"
same_tree paced

e2e_end

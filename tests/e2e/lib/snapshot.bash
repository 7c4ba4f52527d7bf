# The state of a Wine prefix, for comparing the machine before an
# installation with the machine after its removal (sourced, not run). The
# snapshot and the comparison are truxpack's own (truxpack snapshot and
# truxpack diff), the same that truxpack try reports with.
#
#   prefix_snapshot OUT   writes OUT: every directory and file under drive_c
#                         with its size, SHA-256 and attributes, every
#                         shortcut's target, every registry key and value of
#                         the machine and the user
#   prefix_diff A B       one line per difference (+ added, - removed,
#                         ~ changed), without Wine's own housekeeping; the
#                         list of that housekeeping, each item with its
#                         reason, is WineHousekeepingRules in
#                         tools/truxpack/snapshot_diff.cpp (truxpack diff
#                         --all shows those items too)
# Needs WINEPREFIX and TRUXPACK.

# The registry is read from the files the wineserver saves, which it does
# when it ends: the prefix's programs are ended (after the uninstaller's
# self-deleting batch has finished, if one runs) and a persistent server is
# started again for the programs that follow.
prefix_snapshot() {
  local i
  for i in $(seq 600); do
    compgen -G "$WINEPREFIX/drive_c/users/*/Temp/trux-*/delunins.bat" >/dev/null || break
    sleep 0.1
  done
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  "$TRUXPACK" snapshot -q "$WINEPREFIX" -o "$1" || echo "prefix_snapshot: truxpack snapshot failed" >&2
  wineserver -p
}

prefix_diff() {
  "$TRUXPACK" diff "$1" "$2" || echo "prefix_diff: truxpack diff $1 $2 failed"
}

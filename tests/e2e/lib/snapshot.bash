# The state of a Wine prefix, for comparing the machine before an
# installation with the machine after its removal (sourced, not run).
#
#   prefix_snapshot OUT   writes OUT.files (every directory, every file under
#                         drive_c with its size and hash) and OUT.reg (every
#                         registry value of HKLM\Software, HKLM\System and
#                         HKCU as "key|value" lines, keys as "key|"), sorted
#   prefix_diff A B       the lines that differ, "<" for A and ">" for B,
#                         without Wine's own housekeeping (below)
# Needs WINEPREFIX and a scratch directory in SNAPSHOT_TMP.

prefix_snapshot() {
  local out="$1" c="$WINEPREFIX/drive_c" hive reg="$SNAPSHOT_TMP/snapshot.reg"
  (cd "$c" && find . -type d -printf 'dir %p\n' && find . -type f -printf '%p\0' | xargs -0 md5sum |
    awk '{ h = $1; $1 = ""; print "file" $0 " " h }') | LC_ALL=C sort >"$out.files"
  for hive in 'HKLM\Software' 'HKLM\System' 'HKCU'; do
    wine reg export "$hive" "$(winepath -w "$reg")" /y >/dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$reg" | tr -d '\r' |
      awk '/^\[/ { key = $0; print key "|"; next } /^[@"]/ { print key "|" $0 }'
  done | LC_ALL=C sort -u >"$out.reg"
}

# Left out of the comparison, each for its reason:
#  - Wine's own housekeeping, never a product's: the first program that opens
#    a console makes Wine's console host store its defaults (HKCU\Console);
#    the first window makes the display driver register the display adapter,
#    monitor and video devices (Control\Class, DeviceClasses, Video, Hardware
#    Profiles) and keep temporary system parameters; every start of Wine's
#    service host counts up Control\ServiceCurrent.
#  - The self-deleting batch's directory, which stays empty under Wine only:
#    its interpreter holds the batch file open until it ends (on Windows the
#    batch removes it).
#  - The SharedDLLs key itself, empty: a key of the system's that every
#    Windows has and other programs count their files in. A fresh Wine prefix
#    lacks it, the first shared file creates it, and it stays; its values,
#    the counts, are compared like everything else.
prefix_diff() {
  { diff "$1.files" "$2.files"; diff "$1.reg" "$2.reg"; } | grep -E '^[<>]' | grep -v -E \
    -e '^[<>] \[HKEY_CURRENT_USER\\Console\]' \
    -e '^[<>] \[HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters' \
    -e '^[<>] \[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\(Class|DeviceClasses|Video)[]\\]' \
    -e '^[<>] \[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles[]\\]' \
    -e '^[<>] \[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent\]' \
    -e '^> \[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\]\|$' \
    -e '^[<>] dir \./users/[^/]+/Temp/trux-[0-9a-f]+$'
}

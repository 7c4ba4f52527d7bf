#!/usr/bin/env bash
# The runtime stub stays movable and hardened however small it gets: its
# relocations are kept (no "relocations stripped" flag, a non-empty base
# relocation directory), and it asks for a dynamic base (ASLR), a
# non-executable data area and the large address space. Checked on the stub
# this build tree carries (TRUX_STUB of its cache).
# Usage: stub_image.sh SRCROOT BUILDDIR
set -uo pipefail
BUILD="$(cd "$2" && pwd)"
stub="$(sed -n 's/^TRUX_STUB:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
if [ -z "$stub" ]; then
  echo "skipped: this tree carries no stub (TRUX_STUB is empty)"; exit 77
fi
[ -f "$stub" ] || { echo "FAIL the stub $stub is missing"; exit 1; }
OBJDUMP="${OBJDUMP:-i686-w64-mingw32-objdump}"
headers="$("$OBJDUMP" -p "$stub")" || { echo "FAIL $OBJDUMP cannot read $stub"; exit 1; }
failures=0
check() {  # name, then a command that succeeds when the property holds
  local name="$1"; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
has() { grep -F -- "$1" <<<"$headers" >/dev/null; }
lacks() { ! has "$1"; }
reloc_entry() {  # the base relocation directory (entry 5) has a non-zero size
  local size
  size="$(awk '$1 == "Entry" && $2 == "5" { print $4 }' <<<"$headers")"
  [ -n "$size" ] && [ $((16#$size)) -gt 0 ]
}
check "a PE32 image" has "(PE32)"
check "relocations not stripped" lacks "relocations stripped"
check "a non-empty base relocation directory" reloc_entry
check "dynamic base (ASLR)" has "DYNAMIC_BASE"
check "non-executable data (NX)" has "NX_COMPAT"
check "large address aware" has "large address aware"
[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }

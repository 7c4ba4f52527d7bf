#!/usr/bin/env bash
# The Wine probe tells apart a machine that runs no 32-bit programs (skip,
# with the reason) from a Wine that is there and broken (a failure), using
# stand-in loaders: an ELF file the kernel refuses, a missing file, and a
# loader that runs and fails. Usage: can_run_wine.sh SRCROOT
set -uo pipefail
SRC="$1"
PROBE="$SRC/scripts/can-run-wine"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0

# An ELF image for a machine type no kernel here runs: execve refuses it with
# ENOEXEC, just as a kernel without IA-32 emulation refuses Wine's loader.
cp /bin/true "$tmp/foreign-elf"
printf '\x34\x12' | dd of="$tmp/foreign-elf" bs=1 seek=18 conv=notrunc status=none
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 1\n' >"$tmp/broken"
chmod +x "$tmp/foreign-elf" "$tmp/broken"

# loader | expected exit | text the reason must contain
cases=(
  "$tmp/foreign-elf|1|kernel runs no 32-bit programs"
  "$tmp/missing|1|is not installed"
  "$tmp/broken|2|could not load kernel32.dll"
)
for c in "${cases[@]}"; do
  IFS='|' read -r loader want text <<<"$c"
  out="$(TRUX_WINE_LOADER="$loader" "$PROBE")"; rc=$?
  if [ "$rc" != "$want" ] || [[ "$out" != *"$text"* ]]; then
    echo "FAIL $(basename "$loader"): exit $rc (want $want), said: $out"; failures=$((failures + 1))
  else
    echo "ok   $(basename "$loader"): $out"
  fi
done
exit $((failures > 0))

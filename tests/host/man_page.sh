#!/usr/bin/env bash
# truxpack(1) renders without a warning (man --warnings), names the tool's
# version and every command and option that truxpack's own help lists, its
# exit codes and environment; and the guide's command reference
# (docs/truxpack.md) is the one truxpack's tables give today.
# Usage: man_page.sh SRCROOT BUILDDIR
set -uo pipefail
SRC="$1"
BUILT="$2/tools/truxpack"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

command -v man >/dev/null || { echo "FAIL man is not installed (man-db: scripts/install-deps installs it)"; exit 1; }
[ -f "$BUILT/truxpack.1" ] || { echo "FAIL $BUILT/truxpack.1 was not generated"; exit 1; }

# man --warnings prints groff's warnings on standard error.
MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$BUILT/truxpack.1" >"$tmp/page.txt" 2>"$tmp/warnings.txt" ||
  fail "man could not render the page: $(cat "$tmp/warnings.txt")"
if [ -s "$tmp/warnings.txt" ]; then fail "man --warnings: $(cat "$tmp/warnings.txt")"; else echo "ok   man --warnings: none"; fi
# The page as one line of words, hyphenation undone, for the look-ups below.
page="$(sed -e 's/‐$//' -e 's/-$//' "$tmp/page.txt" | tr -s ' \n' ' ')"
words="$(sed -e ':a' -e '/‐$/{N;s/‐\n *//;ba' -e '}' "$tmp/page.txt" | tr -s ' \n' ' ')"

version="$(head -n 1 "$SRC/VERSION")"
expect=("truxpack $version" "NAME" "SYNOPSIS" "DESCRIPTION" "COMMANDS" "EXIT STATUS" "ENVIRONMENT"
        "SOURCE_DATE_EPOCH" "EXAMPLES" "SEE ALSO" "truxpack init myproduct" "--version")
# Every command and every option truxpack's help lists.
mapfile -t commands < <("$BUILT/truxpack" --help | sed -n '/^commands:/,/^$/p' | awk 'NF && !/commands:/ {print $1}')
[ "${#commands[@]}" -ge 9 ] || fail "truxpack --help lists only ${#commands[@]} commands"
for c in "${commands[@]}"; do
  expect+=("truxpack $c")
  while read -r option; do expect+=("$option"); done < <("$BUILT/truxpack" help "$c" | grep -o -- '--[a-z-]*' | sort -u)
done
for code in 0 1 2; do expect+=("$code "); done
missing=0
for e in "${expect[@]}"; do
  if [[ "$words" != *"$e"* && "$page" != *"$e"* ]]; then fail "the man page does not name \"$e\""; missing=1; fi
done
[ "$missing" = 0 ] && echo "ok   the man page names every command and option (${#expect[@]} texts)"

"$SRC/scripts/update-docs" --check "$2" && echo "ok   docs/truxpack.md's command reference matches truxpack's tables" ||
  fail "docs/truxpack.md's command reference is out of date (make docs)"

[ "$failures" = 0 ] && echo "man page: all checks pass" || echo "man page: $failures failure(s)"
exit $((failures > 0))

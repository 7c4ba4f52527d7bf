#!/usr/bin/env bash
# make install DESTDIR=... PREFIX=... puts exactly truxpack's files in place
# (the program, the UI robot, its man page, three completions and the
# guide), with their modes and bytes; the installed truxpack runs the
# README's quick start from another folder and finds its robot for try;
# make uninstall removes exactly those files and leaves anything else under
# the prefix alone.
# Usage: install.sh SRCROOT BUILDDIR (the Win32 tree: TRUX_WIN32, default SRCROOT/build/win32)
set -uo pipefail
SRC="$1"
BUILD="$2"
BUILT="$BUILD/tools/truxpack"
WIN32_BUILD="${TRUX_WIN32:-$SRC/build/win32}"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
stage="$tmp/stage"
prefix=/opt/truxpack-test
root="$stage$prefix"

run_make() { make -s -C "$SRC" "$1" DESTDIR="$stage" PREFIX="$prefix" NATIVE="$BUILD" WIN32="$WIN32_BUILD" >"$tmp/make.log" 2>&1; }

mkdir -p "$root/bin" && echo "someone else's" >"$root/bin/other-tool"
run_make install || { echo "FAIL make install: $(cat "$tmp/make.log")"; exit 1; }
# file | its source | mode
expected=(
  "bin/truxpack|$BUILT/truxpack|755"
  "lib/truxpack/trux-robot.exe|$WIN32_BUILD/tests/robot/trux-robot.exe|644"
  "share/man/man1/truxpack.1|$BUILT/truxpack.1|644"
  "share/bash-completion/completions/truxpack|$BUILT/completions/truxpack.bash|644"
  "share/zsh/site-functions/_truxpack|$BUILT/completions/_truxpack|644"
  "share/fish/vendor_completions.d/truxpack.fish|$BUILT/completions/truxpack.fish|644"
  "share/doc/truxpack/truxpack.md|$SRC/docs/truxpack.md|644"
)
want="$( (for e in "${expected[@]}"; do echo "${e%%|*}"; done; echo bin/other-tool) | sort)"
got="$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)"
[ "$got" = "$want" ] && echo "ok   make install wrote exactly the ${#expected[@]} files" ||
  fail "make install wrote: $(tr '\n' ' ' <<<"$got") (expected: $(tr '\n' ' ' <<<"$want"))"
[ -z "$(find "$stage" -mindepth 1 -maxdepth 1 ! -name "${prefix#/}" ! -name opt)" ] || fail "make install wrote outside the prefix"
for e in "${expected[@]}"; do
  IFS='|' read -r file source mode <<<"$e"
  cmp -s "$source" "$root/$file" || fail "$file differs from $source"
  [ "$(stat -c %a "$root/$file")" = "$mode" ] || fail "$file has mode $(stat -c %a "$root/$file"), not $mode"
done

# The README's quick start with the installed truxpack, from another folder.
mkdir -p "$tmp/elsewhere"
truxpack="$root/bin/truxpack"
if (cd "$tmp/elsewhere" && "$truxpack" --version) | grep -q 'runtime stub: none built in'; then
  echo "ok   (this tree's truxpack carries no runtime stub: the quick start needs --stub here)"
else
  (cd "$tmp/elsewhere" && "$truxpack" init myproduct >/dev/null && "$truxpack" build -q myproduct/project.toml -o setup.exe &&
    "$truxpack" verify -q setup.exe) >"$tmp/quick.log" 2>&1 &&
    echo "ok   the installed truxpack runs the quick start from another folder" ||
    fail "the quick start from another folder: $(cat "$tmp/quick.log")"
fi
[ -s "$tmp/elsewhere/setup.exe" ] || grep -q 'none built in' <("$truxpack" --version) || fail "no installer was written"

# try finds the installed robot in lib/truxpack/ (it names it before it
# checks Wine; a base prefix that is none stops it before anything runs),
# and a truxpack with no robot beside it or there says so.
printf 'MZ' >"$tmp/setup.exe"
robot_named() { (cd "$tmp/elsewhere" && "$1" try --base "$tmp/no-base" "$tmp/setup.exe" 2>&1 >/dev/null); }
robot="$(realpath "$root/lib/truxpack/trux-robot.exe")"
said="$(robot_named "$truxpack")"
grep -qxF "truxpack try: the UI robot: $robot" <<<"$said" && echo "ok   the installed truxpack's try finds the installed robot" ||
  fail "the installed truxpack's try: $said"
mkdir -p "$tmp/lonely" && cp "$truxpack" "$tmp/lonely/truxpack"
said="$(robot_named "$tmp/lonely/truxpack")"
grep -qF "the UI robot $tmp/lonely/trux-robot.exe cannot be read" <<<"$said" &&
  echo "ok   a truxpack without a robot says where it looked" || fail "a truxpack without a robot: $said"

run_make uninstall || fail "make uninstall: $(cat "$tmp/make.log")"
got="$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)"
[ "$got" = "bin/other-tool" ] && echo "ok   make uninstall removed exactly those files" ||
  fail "after make uninstall: $(tr '\n' ' ' <<<"$got")"
[ -d "$root/share/doc/truxpack" ] && fail "make uninstall left share/doc/truxpack"
[ -d "$root/lib/truxpack" ] && fail "make uninstall left lib/truxpack"
run_make uninstall || fail "a second make uninstall fails: $(cat "$tmp/make.log")"

# Without a built tree, make install writes nothing.
make -s -C "$SRC" install DESTDIR="$tmp/none" PREFIX="$prefix" NATIVE="$tmp/no-build" >"$tmp/make.log" 2>&1 &&
  fail "make install without a build succeeded"
[ -e "$tmp/none" ] && fail "make install without a build wrote $(find "$tmp/none" -type f | head -n 1)"
grep -q 'run make build first' "$tmp/make.log" || fail "make install without a build says: $(cat "$tmp/make.log")"

[ "$failures" = 0 ] && echo "install: all checks pass" || echo "install: $failures failure(s)"
exit $((failures > 0))

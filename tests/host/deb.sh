#!/usr/bin/env bash
# The Debian package (make deb runs scripts/make-deb): named and versioned
# from the project, its dependencies computed, lintian without errors or
# warnings (its info-level remarks are explained in docs/design-notes.md),
# installed with dpkg into a fresh root whose package database holds only
# this machine's versions of the libraries it depends on, so dpkg checks the
# dependencies for real; there truxpack init and build run from another
# folder, the man page renders, and dpkg removes every file again.
# Usage: deb.sh SRCROOT BUILDDIR
set -uo pipefail
SRC="$1"
BUILD="$2"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
version="$(head -n 1 "$SRC/VERSION")"
arch="$(dpkg --print-architecture)"
# dpkg --root needs the superuser; fakeroot stands in for it otherwise.
as_root=()
[ "$(id -u)" = 0 ] || as_root=(fakeroot)

TRUX_NATIVE="$BUILD" "$SRC/scripts/make-deb" "$tmp/out" >"$tmp/make.log" 2>&1 ||
  { echo "FAIL make-deb: $(cat "$tmp/make.log")"; exit 1; }
deb="$tmp/out/truxpack_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "FAIL no $deb ($(cat "$tmp/make.log"))"; exit 1; }
echo "ok   $(basename "$deb"): $(stat -c %s "$deb") bytes"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = truxpack ] && [ "$(field Version)" = "$version" ] && [ "$(field Architecture)" = "$arch" ] ||
  fail "control: $(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')"
depends="$(field Depends)"
[[ "$depends" == *"libc6 (>="* && "$depends" == *"libstdc++6 (>="* ]] && echo "ok   Depends: $depends" ||
  fail "Depends was not computed: \"$depends\""

# lintian: no error, no warning.
if command -v lintian >/dev/null; then
  lintian --info "$deb" >"$tmp/lintian.txt" 2>&1
  if grep -E '^(E|W): ' "$tmp/lintian.txt" >"$tmp/bad.txt"; then
    fail "lintian: $(tr '\n' ';' <"$tmp/bad.txt")"
  else
    echo "ok   lintian: no error or warning"
  fi
else
  fail "lintian is not installed (scripts/install-deps installs it)"
fi

# A fresh root. Its package database lists the machine's own entries for
# the packages truxpack depends on (their files are not copied: the
# program runs with the machine's libraries).
root="$tmp/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/available"
for dep in $(tr ',' '\n' <<<"$depends" | tr '|' '\n' | awk '{print $1}' | sort -u); do
  dpkg-query -s "$dep:$arch" 2>/dev/null || dpkg-query -s "$dep" 2>/dev/null || fail "$dep is not installed here"
  echo
done >"$root/var/lib/dpkg/status"
dpkg_root() { "${as_root[@]}" dpkg --root="$root" --log=/dev/null --force-script-chrootless "$@"; }
if dpkg_root -i "$deb" >"$tmp/dpkg.log" 2>&1; then
  echo "ok   dpkg installed the package into a fresh root, its dependencies met"
else
  fail "dpkg -i: $(cat "$tmp/dpkg.log")"
fi
listed="$(dpkg_root -L truxpack 2>/dev/null | while read -r f; do [ -d "$root$f" ] || echo "$f"; done | sort)"
want="/usr/bin/truxpack
/usr/lib/truxpack/trux-robot.exe
/usr/share/bash-completion/completions/truxpack
/usr/share/doc/truxpack/changelog.gz
/usr/share/doc/truxpack/copyright
/usr/share/doc/truxpack/truxpack.md
/usr/share/fish/vendor_completions.d/truxpack.fish
/usr/share/man/man1/truxpack.1.gz
/usr/share/zsh/vendor-completions/_truxpack"
[ "$listed" = "$want" ] && echo "ok   the package holds exactly its $(wc -l <<<"$want") files" ||
  fail "the package holds: $(tr '\n' ' ' <<<"$listed")"

truxpack="$root/usr/bin/truxpack"
mkdir -p "$tmp/elsewhere"
(cd "$tmp/elsewhere" && "$truxpack" --version) | grep -q "^truxpack $version " || fail "the installed truxpack's version"
if (cd "$tmp/elsewhere" && "$truxpack" --version) | grep -q 'none built in'; then
  echo "ok   (this tree's truxpack carries no runtime stub: build needs --stub here)"
elif (cd "$tmp/elsewhere" && "$truxpack" init myproduct && "$truxpack" build myproduct/project.toml -o setup.exe &&
      "$truxpack" verify setup.exe) >"$tmp/run.log" 2>&1; then
  echo "ok   the packaged truxpack ran init, build and verify from another folder"
else
  fail "init/build/verify with the packaged truxpack: $(cat "$tmp/run.log")"
fi
# try finds the packaged robot (it names it before it checks Wine; a base
# prefix that is none stops it before anything runs).
printf 'MZ' >"$tmp/setup.exe"
said="$(cd "$tmp/elsewhere" && "$truxpack" try --base "$tmp/no-base" "$tmp/setup.exe" 2>&1 >/dev/null)"
grep -qxF "truxpack try: the UI robot: $(realpath "$root/usr/lib/truxpack/trux-robot.exe")" <<<"$said" &&
  echo "ok   the packaged truxpack's try finds the packaged robot" || fail "the packaged truxpack's try: $said"
MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/truxpack.1.gz" 2>"$tmp/man.err" | grep -q "truxpack $version" &&
  [ ! -s "$tmp/man.err" ] && echo "ok   the packaged man page renders without warnings" ||
  fail "the packaged man page: $(cat "$tmp/man.err")"

dpkg_root -r truxpack >"$tmp/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$tmp/dpkg.log")"
left="$(find "$root/usr" -type f 2>/dev/null)"
[ -z "$left" ] && echo "ok   dpkg -r removed every file" || fail "dpkg -r left: $left"

[ "$failures" = 0 ] && echo "deb: all checks pass" || echo "deb: $failures failure(s)"
exit $((failures > 0))

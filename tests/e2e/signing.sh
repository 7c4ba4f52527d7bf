#!/usr/bin/env bash
# End to end: a signed installer writes a validly signed uninstaller. The
# demo product is built signed with a throwaway certificate, installed in
# automatic mode, and the uninstaller the runtime wrote to disk is checked
# on the host with osslsigncode: its signature holds, and it is byte for
# byte the image truxpack derived and signed. The system's own check,
# WinVerifyTrust, is asked too (the robot's print-trust): Wine's tells a
# good signature from a damaged one and from none, which a damaged copy and
# the unsigned stub show. The uninstaller then removes the product as an
# unsigned one does.
# Usage: signing.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
e2e_begin signing "$SRC"
e2e_need_truxpack
command -v osslsigncode >/dev/null || { echo "signing.sh: osslsigncode is missing (scripts/install-deps installs it)"; exit 1; }
command -v openssl >/dev/null || { echo "signing.sh: openssl is missing (scripts/install-deps installs it)"; exit 1; }

W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Trux Demo'
DIR='C:\Trux Demo Signed'
DIR_UNIX="$C/Trux Demo Signed"
mkdir -p "$W"

# A throwaway code-signing certificate, made for this run.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/key.pem" -out "$W/cert.pem" -days 2 \
  -subj "/CN=Trux E2E Publisher" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 ||
  { echo "openssl could not make a certificate"; exit 1; }

verify() { osslsigncode verify -in "$1" -CAfile "$W/cert.pem" >"$E2E_TMP/verify.out" 2>&1; }

if "$TRUXPACK" build "$SRC/examples/demo/demo.toml" -o "$W/setup.exe" --stub "$STUB" -q \
     --sign-certificate "$W/cert.pem" --sign-key "$W/key.pem" 2>"$E2E_TMP/build.err"; then
  e2e_pass "build: the demo, signed"
else
  e2e_fail "build: the demo, signed" "$(cat "$E2E_TMP/build.err")"
  e2e_end
fi
if verify "$W/setup.exe"; then e2e_pass "osslsigncode verify: the installer"; else
  e2e_fail "osslsigncode verify: the installer" "$(tail -n 5 "$E2E_TMP/verify.out")"; fi
"$TRUXPACK" verify -q "$W/setup.exe" --write-uninstaller "$W/derived.exe" 2>"$E2E_TMP/derive.err" ||
  e2e_fail "truxpack verify: the signed installer" "$(cat "$E2E_TMP/derive.err")"

robot start "$W/setup.exe" --args "/a /d:\"$DIR\"" until-exit --timeout 240 --expect 1 \
  >"$E2E_TMP/install.out" 2>"$E2E_TMP/install.err"
rc=$?
if [ "$rc" = 0 ]; then e2e_pass "install: automatic"; else
  e2e_fail "install: automatic" "robot exit code $rc" "$(cat "$E2E_TMP/install.out" "$E2E_TMP/install.err")"; fi

UNINSTALLER="$DIR_UNIX/Uninstall Trux Demo.exe"
if [ ! -f "$UNINSTALLER" ]; then
  e2e_fail "the uninstaller was written" "no $UNINSTALLER"
  e2e_end
fi
e2e_pass "the uninstaller was written"
if verify "$UNINSTALLER"; then e2e_pass "osslsigncode verify: the uninstaller the runtime wrote"; else
  e2e_fail "osslsigncode verify: the uninstaller the runtime wrote" "$(tail -n 5 "$E2E_TMP/verify.out")"; fi
if cmp -s "$UNINSTALLER" "$W/derived.exe"; then e2e_pass "the uninstaller is the image truxpack signed"; else
  e2e_fail "the uninstaller is the image truxpack signed" \
    "$(stat -c %s "$UNINSTALLER") bytes written, $(stat -c %s "$W/derived.exe") derived"; fi
# WinVerifyTrust: a signature that holds is "ok", or "untrusted-root" where
# the system (unlike Wine) refuses the throwaway certificate's root.
trust() { robot print-trust "$1" 2>&1 | tr -d '\r'; }
for f in "$(winpath "$(realpath "$W/setup.exe")")" "$DIR\Uninstall Trux Demo.exe"; do
  verdict="$(trust "$f")"
  case "$verdict" in
    ok|untrusted-root) e2e_pass "WinVerifyTrust: $verdict for ${f##*\\}" ;;
    *) e2e_fail "WinVerifyTrust: the signature of ${f##*\\} holds" "verdict: $verdict" ;;
  esac
done
cp "$UNINSTALLER" "$W/damaged.exe"
printf 'X' | dd of="$W/damaged.exe" bs=1 seek=80 conv=notrunc 2>/dev/null
e2e_check "WinVerifyTrust: a damaged copy of the uninstaller" "bad-digest" "$(trust "$(winpath "$W/damaged.exe")")"
e2e_check "WinVerifyTrust: the unsigned stub" "no-signature" "$(trust "$(winpath "$(realpath "$STUB")")")"

stub_size=$(stat -c %s "$STUB")
if cmp -s -n "$stub_size" "$UNINSTALLER" "$STUB"; then
  e2e_fail "the uninstaller carries its signature" "its first $stub_size bytes equal the unsigned stub"
else
  e2e_pass "the uninstaller carries its signature"
fi

# The uninstaller removes the product, started as the Uninstall entry says.
entry="$(wine reg query "$KEY" /v UninstallString 2>/dev/null | tr -d '\r' | sed -n 's/^ *UninstallString *REG_SZ *//p')"
if [ -z "$entry" ]; then
  e2e_fail "the Uninstall entry names the uninstaller" "no UninstallString under $KEY"
  e2e_end
fi
robot start - --command-line "$entry" wait-box --timeout 60 answer 6 \
  until-exit --answer 1 --expect 1 --timeout 240 >"$E2E_TMP/uninstall.out" 2>"$E2E_TMP/uninstall.err"
rc=$?
if [ "$rc" = 0 ]; then e2e_pass "uninstall: confirmed and run"; else
  e2e_fail "uninstall: confirmed and run" "robot exit code $rc" "$(cat "$E2E_TMP/uninstall.out" "$E2E_TMP/uninstall.err")"; fi
# The uninstaller deletes itself and the directory through a batch once it ends.
for _ in $(seq 300); do [ -e "$DIR_UNIX" ] || break; sleep 0.2; done
if [ -e "$DIR_UNIX" ]; then e2e_fail "uninstall: the directory is gone" "$(cd "$DIR_UNIX" && find . | head)"; else
  e2e_pass "uninstall: the directory is gone"; fi
if wine reg query "$KEY" >/dev/null 2>&1; then e2e_fail "uninstall: the Uninstall entry is gone" "$KEY remains"; else
  e2e_pass "uninstall: the Uninstall entry is gone"; fi

e2e_end

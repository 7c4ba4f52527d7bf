# Shared by the end-to-end scripts (sourced, not run: the test list picks up
# only tests/e2e/*.sh). Gives a script one fresh Wine prefix with a wineserver
# kept alive for the group, the robot, and case bookkeeping.
#
#   e2e_begin GROUP SRCROOT    fresh prefix copy, persistent wineserver, cleanup trap
#   e2e_need_truxpack          sets TRUXPACK (default: the native tree's tool); ends the
#                              script when it is not there
#   e2e_need_fixtures STUB FILE...
#                              sets FIXTURES to the Win32 tests' build directory beside
#                              STUB's tree; ends the script when a FILE is not there
#   e2e_build TOML OUT [OPTION...]
#                              truxpack build TOML -o OUT --stub "$STUB" (the script's
#                              stub) with the options; ends the script with truxpack's
#                              output when the build fails
#   e2e_abspath PATH           PATH made absolute (its folder must exist)
#   winpath PATH               a host path as Wine names it (on drive Z:)
#   unix PATH                  the host path of a C: path of the group's prefix
#   reg_has_key KEY            whether KEY exists in the group's registry
#   reg_value KEY NAME         the data of a value, "" when missing
#   reg_default KEY            the text of KEY's default value, "" when missing
#   robot STEP...              runs the UI robot in the group's prefix
#   e2e_pass NAME / e2e_fail NAME WHY
#   e2e_check NAME EXPECTED ACTUAL   compares two texts exactly
#   e2e_esc TEXT               TEXT in the robot's escaped one-line form
#   e2e_robot NAME RC STDOUT ERRTEXT STEP...
#                              runs the robot and checks its exit code, its whole
#                              stdout (exactly, trailing newlines included) and
#                              that stderr contains ERRTEXT (is empty when ERRTEXT is "")
#   e2e_xvfb                   switch the group to a private Xvfb display and Wine's
#                              X11 driver (unmanaged windows), for screenshots
#   e2e_end                    summary line; exit status 1 when a case failed

e2e_passed=0
e2e_failed=0
e2e_failures=()

e2e_begin() {
  local group="$1" src="$2"
  # shellcheck source=/dev/null
  source "$src/scripts/wine-env"
  WINEPREFIX="$("$src/scripts/wine-prefix" "$group-$$")" || { echo "cannot make a Wine prefix" >&2; exit 1; }
  export WINEPREFIX
  E2E_SRC="$src"
  E2E_TMP="$(mktemp -d)"
  trap e2e_cleanup EXIT
  # One wineserver for the whole group: each program start costs ~20 ms instead of ~0.4 s.
  wineserver -p
}

e2e_need_truxpack() {
  TRUXPACK="${TRUXPACK:-$E2E_SRC/build/native/tools/truxpack/truxpack}"
  [ -x "$TRUXPACK" ] || { echo "$(basename "$0"): $TRUXPACK is missing (build the native tree first)"; exit 1; }
}

e2e_need_fixtures() {
  local stub="$1" f
  shift
  FIXTURES="$(cd "$(dirname "$stub")/../tests/win32" 2>/dev/null && pwd)"
  for f in "$@"; do
    [ -n "$FIXTURES" ] && [ -f "$FIXTURES/$f" ] ||
      { echo "$(basename "$0"): $f is missing from $(dirname "$stub")/../tests/win32 (build the win32 tree first)"; exit 1; }
  done
}

e2e_build() {
  local toml="$1" out="$2"
  shift 2
  "$TRUXPACK" build "$toml" -o "$out" --stub "$STUB" "$@" >"$E2E_TMP/build.log" 2>&1 ||
    { echo "truxpack build $(basename "$toml") failed:"; cat "$E2E_TMP/build.log"; exit 1; }
}

e2e_abspath() { printf '%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }
unix() { local p="${1#[Cc]:}"; printf '%s' "$WINEPREFIX/drive_c${p//\\//}"; }

reg_has_key() { wine reg query "$1" >/dev/null 2>&1; }
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}
reg_default() {
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ { sub(/^.*REG_SZ */, ""); print }'
}

e2e_xvfb() {
  local disp
  for disp in $(seq $((100 + $$ % 300)) 499); do
    [ -e "/tmp/.X$disp-lock" ] && continue
    Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    E2E_XVFB_PID=$!
    local i
    for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.1; done
    if kill -0 "$E2E_XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$disp" ]; then
      export DISPLAY=":$disp"
      # Without a window manager Wine would wait on every hide and destroy.
      wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      return 0
    fi
    E2E_XVFB_PID=""
  done
  echo "cannot start Xvfb" >&2
  exit 1
}

e2e_cleanup() {
  # Ends every process left in this prefix (only this group's prefix) and removes it.
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null
    case "$WINEPREFIX" in */prefixes/*) rm -rf "$WINEPREFIX" ;; esac
  fi
  if [ -n "${E2E_XVFB_PID:-}" ]; then kill "$E2E_XVFB_PID" 2>/dev/null; wait "$E2E_XVFB_PID" 2>/dev/null; fi
  [ -n "${E2E_TMP:-}" ] && rm -rf "$E2E_TMP"
}

robot() { wine "$ROBOT" "$@"; }

e2e_pass() { e2e_passed=$((e2e_passed + 1)); echo "ok    $1"; }

e2e_fail() {
  e2e_failed=$((e2e_failed + 1))
  e2e_failures+=("$1")
  echo "FAIL  $1"
  shift
  local line
  for line in "$@"; do echo "      $line"; done
}

e2e_esc() {
  local s="$1"
  s=${s//\\/\\\\}
  s=${s//$'\r'/\\r}
  s=${s//$'\n'/\\n}
  s=${s//$'\t'/\\t}
  printf '%s' "$s"
}

# Where two texts part, with a little context: long box texts differ far right.
e2e_diffpos() {
  local a="$1" b="$2" i=0
  while [ "$i" -lt "${#a}" ] && [ "${a:i:1}" == "${b:i:1}" ]; do i=$((i + 1)); done
  local from=$((i > 20 ? i - 20 : 0))
  printf 'first difference at character %d: expected ...%s... got ...%s...' "$i" \
    "$(e2e_esc "${a:from:40}")" "$(e2e_esc "${b:from:40}")"
}

e2e_check() {
  if [ "$2" == "$3" ]; then
    e2e_pass "$1"
  else
    e2e_fail "$1" "expected: $(e2e_esc "$2")" "actual:   $(e2e_esc "$3")" "$(e2e_diffpos "$2" "$3")"
  fi
}

e2e_robot() {
  local name="$1" want_rc="$2" want_out="$3" want_err="$4"
  shift 4
  robot "$@" >"$E2E_TMP/robot.out" 2>"$E2E_TMP/robot.err"
  local rc=$? out err
  # The x keeps the trailing newlines that command substitution would strip.
  out="$(cat "$E2E_TMP/robot.out"; echo x)"; out="${out%x}"
  err="$(cat "$E2E_TMP/robot.err"; echo x)"; err="${err%x}"
  local why=()
  [ "$rc" = "$want_rc" ] || why+=("robot exit code $rc, expected $want_rc")
  [ "$out" == "$want_out" ] ||
    why+=("stdout:   $(e2e_esc "$out")" "expected: $(e2e_esc "$want_out")" "$(e2e_diffpos "$want_out" "$out")")
  if [ -z "$want_err" ]; then
    [ -z "$err" ] || why+=("unexpected stderr: $(e2e_esc "$err")")
  else
    [[ "$err" == *"$want_err"* ]] || why+=("stderr lacks \"$want_err\": $(e2e_esc "$err")")
  fi
  if [ ${#why[@]} -eq 0 ]; then e2e_pass "$name"; else e2e_fail "$name" "${why[@]}"; fi
}

e2e_end() {
  echo "$(basename "$0" .sh): $e2e_passed passed, $e2e_failed failed"
  if [ "$e2e_failed" -ne 0 ]; then
    printf '  failed: %s\n' "${e2e_failures[@]}"
    exit 1
  fi
  exit 0
}

#!/usr/bin/env bash
# End to end: a DLL planted where the program might look for a system
# library by name is never loaded. A stand-in that writes a marker file when
# it is loaded is planted as version.dll, comctl32.dll and msimg32.dll beside
# the installer (a download folder, also the current directory) and in the
# install directory, which holds the uninstaller and a COM server. The
# product is installed, its COM server registered, and uninstalled again;
# no marker may appear.
#
# Wine takes its own built-in copy of a system library before any DLL of
# that name; Windows looks in the program's folder first. The runs here ask
# Wine to prefer a native comctl32.dll and msimg32.dll, as Windows does, so
# that a program that looks them up by name really loads the planted one.
# version.dll keeps Wine's order: Wine's own gdi32 imports it by name, so
# with a native-first order it would load the one beside any program before
# the program's first instruction. Windows never does that (gdi32 is one of
# its known DLLs, whose imports come from the system directory only); that
# the stub itself does not import version.dll is checked when it is linked.
# Usage: planted_dll.sh STUB ROBOT SRCROOT
set -uo pipefail
STUB="$1"; ROBOT="$2"; SRC="$3"
source "$SRC/tests/e2e/lib/e2e.bash"
# The runs below start from other directories: the robot's path must hold.
ROBOT="$(e2e_abspath "$ROBOT")"
e2e_begin planted_dll "$SRC"
e2e_need_truxpack
e2e_need_fixtures "$STUB" planted_dll_fixture.dll planted_probe_fixture.exe com_server_fixture.dll child_fixture.exe
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;comctl32,msimg32=n,b"
W="$E2E_TMP/work"
C="$WINEPREFIX/drive_c"
MARKER="$C/trux-planted.txt"
PLANTED=(version.dll comctl32.dll msimg32.dll)
mkdir -p "$W/files"
printf 'the application\r\n' >"$W/files/app.txt"
cp "$FIXTURES/com_server_fixture.dll" "$W/files/"

cat >"$W/planted.toml" <<'EOF'
[product]
name = "Planted"
version = "1.0"
install_dir = "Planted App"

[flags]
uninstaller = true

[[file]]
source = "files/app.txt"

[[file]]
source = "files/com_server_fixture.dll"
kind = "com_server"
destination = "%InstallDir%\\com_server_fixture.dll"
EOF
e2e_build "$W/planted.toml" "$W/setup.exe"

plant() {  # plant DIR: the stand-in under each library's name in DIR
  local name
  mkdir -p "$1"
  for name in "${PLANTED[@]}"; do cp "$FIXTURES/planted_dll_fixture.dll" "$1/$name"; done
}
check_no_marker() {  # check_no_marker CASE
  if [ -e "$MARKER" ]; then e2e_fail "$1" "loaded: $(tr -d '\r' <"$MARKER" | paste -sd '|')"; else e2e_pass "$1"; fi
}

# The control: a program that imports comctl32.dll by name loads the
# stand-in beside it, so the way of planting works and a missing marker
# below means something.
mkdir -p "$C/probe"
cp "$FIXTURES/planted_probe_fixture.exe" "$C/probe/probe.exe"
cp "$FIXTURES/planted_dll_fixture.dll" "$C/probe/comctl32.dll"
rm -f "$MARKER"
robot start 'C:\probe\probe.exe' until-exit --timeout 60 --expect 0 >"$E2E_TMP/probe.out" 2>&1
if grep -qi 'probe\\comctl32.dll loaded by' "$MARKER" 2>/dev/null; then
  e2e_pass "control: a program importing comctl32.dll by name loads the stand-in beside it"
else
  e2e_fail "control: a program importing comctl32.dll by name loads the stand-in beside it" \
    "marker: $(cat "$MARKER" 2>&1 | tr -d '\r')" "robot: $(cat "$E2E_TMP/probe.out")"
fi
rm -rf "$MARKER" "$C/probe"

# ---- install from a download folder with the stand-ins beside the installer --
# Also beside it: a program under a system program's name. The /r: program
# names it bare; the system's own search would take the one in the
# installer's folder. child_fixture.exe writes its "os" file when it runs.
DL="$C/Downloads"
plant "$DL"
cp "$FIXTURES/child_fixture.exe" "$DL/hostname.exe"
rm -f "$C/trux-r-planted.txt"
cp "$W/setup.exe" "$DL/setup.exe"
D='C:\Planted App'
plant "$C/Planted App"
rm -f "$MARKER"
wine reg delete 'HKCU\Software\TruxComFixture' /f >/dev/null 2>&1
# Started the way a browser or Explorer starts it: from its own folder.
cd "$DL" || exit 1
e2e_robot "install from the download folder" 0 "" "" \
  start 'C:\Downloads\setup.exe' --args "/a /d:\"$D\" /r:\"hostname.exe os C:\\trux-r-planted.txt\"" \
  until-exit --timeout 120 --expect 1
cd "$E2E_TMP" || exit 1
e2e_check "the COM server was registered" "yes" "$(reg_value 'HKCU\Software\TruxComFixture' Registered)"
[ -e "$C/Planted App/Uninstall.exe" ] && e2e_pass "the uninstaller was written" ||
  e2e_fail "the uninstaller was written" "no $D\\Uninstall.exe"
check_no_marker "install: no planted DLL was loaded (beside the installer, beside the COM server)"
sleep 3
if [ -e "$C/trux-r-planted.txt" ]; then
  e2e_fail "/r: with a bare name: the program beside the installer did not run" "C:\\trux-r-planted.txt was written"
else
  e2e_pass "/r: with a bare name: the program beside the installer did not run"
fi

# ---- uninstall: the stand-ins beside the uninstaller and the COM server --------
rm -f "$MARKER"
quiet="$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Planted' QuietUninstallString)"
cd "$C/Planted App" || exit 1
e2e_robot "uninstall through QuietUninstallString" 0 "" "" \
  start 'C:\Planted App\Uninstall.exe' --command-line "$quiet" until-exit --timeout 120 --expect 1
cd "$E2E_TMP" || exit 1
if wine reg query 'HKCU\Software\TruxComFixture' >/dev/null 2>&1; then
  e2e_fail "the COM server was unregistered" "HKCU\\Software\\TruxComFixture is still there"
else
  e2e_pass "the COM server was unregistered"
fi
check_no_marker "uninstall: no planted DLL was loaded (beside the uninstaller, beside the COM server)"

# ---- /r: with a full path still runs its program ---------------------------------
mkdir -p "$C/Report Tool"
cp "$FIXTURES/child_fixture.exe" "$C/Report Tool/report.exe"
rm -f "$C/trux-r-ran.txt"
cd "$DL" || exit 1
e2e_robot "install again with /r: naming a program by its full path" 0 "" "" \
  start 'C:\Downloads\setup.exe' --args "/a /d:\"$D\" /r:\"\`C:\\Report Tool\\report.exe\` os C:\\trux-r-ran.txt\"" \
  until-exit --timeout 120 --expect 1
cd "$E2E_TMP" || exit 1
for i in $(seq 1 100); do [ -e "$C/trux-r-ran.txt" ] && break; sleep 0.1; done
if [ -e "$C/trux-r-ran.txt" ]; then e2e_pass "/r: with a full path: the program ran"; else
  e2e_fail "/r: with a full path: the program ran" "no C:\\trux-r-ran.txt"; fi
check_no_marker "reinstall: no planted DLL was loaded"

e2e_end

#!/usr/bin/env bash
# The build keeps the layers: every source of a floor's folder is compiled
# with its floor's include root and no other, and with that root a header of
# a floor above is not found while the floors below and its own are. Checked
# on the tree's real compile commands (compile_commands.json): for each floor
# the tree compiles, the command of one of its sources preprocesses a probe
# that includes one header of every other floor. Also: no include in a floor
# climbs out of its folder with "..", which the include root cannot stop.
# Usage: layers.sh SRCROOT BUILDDIR
set -uo pipefail
SRC="$(cd "$1" && pwd)"
BUILD="$(cd "$2" && pwd)"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0

# The floors from the bottom up, as docs/design-notes.md lists them.
FLOORS="core core/win32 archive runtime ui install actions uninstall app"

climbing="$(cd "$SRC" && grep -rnE '^\s*#\s*include\s*["<][^">]*\.\.' $FLOORS)"
if [ -n "$climbing" ]; then
  echo "FAIL includes that climb out of their folder:"; echo "$climbing"; failures=$((failures + 1))
else
  echo "ok   no include climbs out of its folder with .."
fi

/usr/bin/python3 - "$SRC" "$BUILD" "$tmp" "$FLOORS" <<'EOF' || failures=$((failures + 1))
import glob, json, os, shlex, subprocess, sys

src, build, tmp, floors = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4].split()
failures = 0

def fail(text):
    global failures
    failures += 1
    print("FAIL " + text)

def floor_of(path):
    rel = os.path.relpath(path, src)
    best = None
    for f in floors:
        if rel.startswith(f + "/") and "/" not in rel[len(f) + 1:]:
            best = f
    return best

def root_of(floor):
    return os.path.join(build, "floors", floor.replace("/", "_"))

def arguments(entry):
    return entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])

def include_dirs(entry):
    # Response files (@file) are read: the cross toolchain passes the include
    # flags in one.
    args, seen = [], []
    for a in arguments(entry):
        if a.startswith("@"):
            with open(os.path.join(entry["directory"], a[1:])) as f:
                args += shlex.split(f.read())
        else:
            args.append(a)
    i = 0
    while i < len(args):
        a = args[i]
        for flag in ("-I", "-iquote", "-isystem", "-idirafter"):
            if a == flag:
                seen.append(os.path.normpath(os.path.join(entry["directory"], args[i + 1])))
                i += 1
                break
            if a.startswith(flag) and flag == "-I":
                seen.append(os.path.normpath(os.path.join(entry["directory"], a[2:])))
                break
        i += 1
    return seen

def preprocess(entry, probe):
    # The compile command as it is, preprocessing the probe instead of the
    # source and writing nothing.
    args, skip = [], False
    for a in arguments(entry):
        if skip:
            skip = False
        elif a in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
        elif a in ("-c", "-MD", "-MMD") or a == entry["file"]:
            pass
        else:
            args.append(a)
    args += ["-E", "-o", os.devnull, probe]
    return subprocess.run(args, cwd=entry["directory"], capture_output=True, text=True)

entries = json.load(open(os.path.join(build, "compile_commands.json")))
by_floor = {}
for e in entries:
    f = floor_of(e["file"])
    if f is None:
        continue
    by_floor.setdefault(f, []).append(e)
    dirs = include_dirs(e)
    if dirs != [root_of(f)]:
        fail("%s: include path %s, not only its floor's %s" % (os.path.relpath(e["file"], src), dirs, root_of(f)))
if not by_floor:
    fail("no source of any floor among the compile commands of " + build)
print("     %d sources of %d floors checked for their include root" % (sum(map(len, by_floor.values())), len(by_floor)))

def header(floor, compiled_here):
    # A header of the floor; for the floors a probe must find, one whose
    # source this tree compiles, so that it preprocesses here.
    for h in sorted(glob.glob(os.path.join(src, floor, "*.h"))):
        stem = h[:-2] + ".cpp"
        if not compiled_here or any(e["file"] == stem for e in by_floor.get(floor, [])):
            return os.path.relpath(h, src)
    return None

probes = 0
for f in floors:
    if f not in by_floor:
        continue
    entry = sorted(by_floor[f], key=lambda e: e["file"])[0]
    for g in floors:
        above = floors.index(g) > floors.index(f)
        h = header(g, compiled_here=not above)
        if h is None:
            continue
        probe = os.path.join(tmp, "probe.cpp")
        with open(probe, "w") as p:
            p.write('#include "%s"\n' % h)
        r = preprocess(entry, probe)
        probes += 1
        where = "%s (floor %s) including %s" % (os.path.relpath(entry["file"], src), f, h)
        if above:
            if r.returncode == 0:
                fail(where + ": found, from a floor above")
            elif (h + ": No such file or directory") not in r.stderr:
                fail(where + ": refused for another reason: " + r.stderr.strip()[:300])
        elif r.returncode != 0:
            fail(where + ": not found: " + r.stderr.strip()[:300])
print("     %d includes probed, %d failures" % (probes, failures))
sys.exit(1 if failures else 0)
EOF
exit $((failures > 0))

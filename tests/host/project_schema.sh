#!/usr/bin/env bash
# The project file's JSON Schema (truxpack schema), checked with Debian's
# validator (python3-jsonschema, draft 2020-12) against a table of
# projects: the demo project and init's are valid, a misspelt key, a value
# of the wrong kind, a name outside a key's list, a number out of range and a
# missing required key are not. For each case truxpack's loader must agree
# with the schema. Then every key the schema names must refuse a value of
# another kind. Usage: project_schema.sh SRCROOT BUILDDIR
set -uo pipefail
SRC="$1"
TRUXPACK="$2/tools/truxpack/truxpack"
PYTHON=/usr/bin/python3  # Debian's, with python3-jsonschema
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

"$PYTHON" -c 'import jsonschema, tomllib' 2>/dev/null ||
  { echo "FAIL python3-jsonschema (Debian's) is not installed: scripts/install-deps installs it"; exit 1; }
"$TRUXPACK" schema >"$tmp/schema.json" || { echo "FAIL truxpack schema"; exit 1; }

# validate FILE.toml: prints "valid" or "invalid: reason", after checking the
# schema itself against the draft's metaschema. TOML dates reach the schema
# as the texts an editor hands it.
cat >"$tmp/validate.py" <<'EOF'
import datetime, json, sys, tomllib
import jsonschema

def plain(v):
    if isinstance(v, dict):
        return {k: plain(x) for k, x in v.items()}
    if isinstance(v, list):
        return [plain(x) for x in v]
    if isinstance(v, (datetime.date, datetime.time, datetime.datetime)):
        return v.isoformat()
    return v

schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
with open(sys.argv[2], "rb") as f:
    doc = plain(tomllib.load(f))
errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.path))
print("valid" if not errors else "invalid: " + errors[0].message)
EOF

# The loader's verdict: valid when truxpack builds the project.
loader() {
  if "$TRUXPACK" build -q "$1" -o "$tmp/out.exe" --stub "$tmp/stub.exe" >/dev/null 2>"$tmp/loader.err"; then
    echo valid
  else
    echo "invalid: $(head -n 1 "$tmp/loader.err")"
  fi
}

# A synthetic stub for the loader's builds (the project is what is checked).
"$TRUXPACK" stub -o "$tmp/stub.exe" >/dev/null 2>&1 || cp "$SRC/dist/trux-stub.exe" "$tmp/stub.exe" 2>/dev/null ||
  { echo "FAIL no runtime stub to build with"; exit 1; }
"$TRUXPACK" init -q "$tmp/init" || { echo "FAIL truxpack init"; exit 1; }
mkdir -p "$tmp/p/files" && echo alpha >"$tmp/p/files/a.txt"

base='[product]
name = "P"
[[file]]
source = "files/a.txt"
'
# name | expected | project text (@demo, @init: those projects)
cases=(
  "demo project|valid|@demo"
  "init's project|valid|@init"
  "every kind of value|valid|text_encoding = \"windows-1252\"
$base
[flags]
uninstaller = true
raw_flags = \"0x8000000000000000\"
[background]
top_color = \"#00FF80\"
bottom_color = 255
title_position = \"top_left\"
stretch_mode = 3
[uninstall]
file_time = 2024-05-01
[data]
time_zone = \"+01:00\"
reserved_date = \"00112233445566778899aabbccddeeff00112233\"
[messages]
42 = \"Done.\""
  "dates as TOML and as text|valid|$base
[uninstall]
file_time = \"2024-05-01 12:30\"
[[file]]
source = \"files/a.txt\"
name = \"b.txt\"
date = 2024-05-01T12:30:00
attributes = [\"readonly\", \"hidden\"]"
  "misspelt key|invalid|[product]
name = \"P\"
publsher = \"x\""
  "misspelt table|invalid|$base
[flag]
uninstaller = true"
  "text where a number goes|invalid|$base
[dialogs]
stage_pause = \"10\""
  "number where a text goes|invalid|[product]
name = 7"
  "text where true or false goes|invalid|$base
[flags]
uninstaller = \"yes\""
  "number out of range|invalid|$base
[dialogs]
stage_pause = 10000"
  "name outside the list|invalid|$base
kind = \"driver\""
  "missing product name|invalid|[product]
publisher = \"x\""
  "file without source|invalid|[product]
name = \"P\"
[[file]]
name = \"x\""
  "colour that is no colour|invalid|$base
[background]
top_color = \"#00FF8\""
  "negative flag word|invalid|$base
[flags]
raw_flags = -1"
  "zone beyond 14 hours|invalid|$base
[data]
time_zone = \"+15:00\""
  "message key that is no number|invalid|$base
[messages]
done = \"Done.\""
  "table given as a value|invalid|flags = 5
$base"
  "unknown text encoding|invalid|text_encoding = \"utf-8\"
$base"
  "signing digest outside the list|invalid|$base
[signing]
command = \"sign {file}\"
hash = \"md5\""
  "signing password variable that is no name|invalid|$base
[signing]
command = \"sign {file}\"
password_env = \"MY PASSWORD\""
  "signing command without its file|invalid|$base
[signing]
command = \"sign setup.exe\""
  "timestamp server that is no web address|invalid|$base
[signing]
command = \"sign {file}\"
timestamp_url = \"ftp://ts.example\""
)
for c in "${cases[@]}"; do
  IFS='|' read -r name want text <<<"$c"
  text="${c#*|*|}"
  case "$text" in
    @demo) project="$SRC/examples/demo/demo.toml" ;;
    @init) project="$tmp/init/project.toml" ;;
    *) project="$tmp/p/case.toml"; printf '%s\n' "$text" >"$project" ;;
  esac
  got="$("$PYTHON" "$tmp/validate.py" "$tmp/schema.json" "$project" 2>&1)"
  if [ "${got%%:*}" != "$want" ]; then
    fail "$name: the schema says \"$got\", expected $want"
  else
    echo "ok   $name: the schema says $got"
  fi
  byloader="$(loader "$project")"
  [ "${byloader%%:*}" = "$want" ] || fail "$name: the loader says \"$byloader\", expected $want"
done

# Every key the schema names refuses a value of another kind: true where
# anything but true or false goes, "yes" where only they go.
cat >"$tmp/every_key.py" <<'EOF'
import json, sys
import jsonschema

schema = json.load(open(sys.argv[1]))
validator = jsonschema.Draft202012Validator(schema)
base = {"product": {"name": "P"}}

def wrong(s):
    return "yes" if s.get("type") == "boolean" else True

def keys(table, path):
    for name, s in table["properties"].items():
        yield path + [name], s
        inner = s if s.get("type") == "object" else s.get("items") if s.get("type") == "array" else None
        if inner and "properties" in inner:
            yield from keys(inner, path + [name, "[]"] if s.get("type") == "array" else path + [name])

def place(path, value):
    doc = json.loads(json.dumps(base))
    at = doc
    for i, step in enumerate(path[:-1]):
        if step == "[]":
            continue
        if i + 1 < len(path) - 1 and path[i + 1] == "[]":
            at[step] = [{}]
            at = at[step][0]
        else:
            at = at.setdefault(step, {})
    at[path[-1]] = value
    return doc

count = 0
for path, s in keys(schema, []):
    count += 1
    if validator.is_valid(place(path, wrong(s))):
        print("FAIL the schema accepts a value of another kind for " + ".".join(p for p in path if p != "[]"))
print(f"{count} keys")
EOF
every="$("$PYTHON" "$tmp/every_key.py" "$tmp/schema.json" 2>&1)"
grep -q '^FAIL' <<<"$every" && fail "$(grep '^FAIL' <<<"$every")"
grep -q '^[0-9][0-9]* keys$' <<<"$every" || fail "every key: $every"
echo "ok   every key refuses a value of another kind ($(tail -n 1 <<<"$every"))"

[ "$failures" = 0 ] && echo "project schema: all cases pass" || echo "project schema: $failures failure(s)"
exit $((failures > 0))

#!/usr/bin/env python3
"""schema_check.py SCHEMA DOCUMENT: checks a JSON document against a JSON
Schema, with the keywords the project's schemas use: type, enum, properties,
required, additionalProperties (true or false), items, minimum, oneOf and
local $ref ("#/$defs/NAME"). A keyword it does not know is an error, so a
schema can never pass by being misread. Prints each problem with the path in
the document and exits 1 when there is one; exits 0, silent, when the
document conforms."""
import json
import sys

KNOWN = {"$schema", "$id", "$defs", "title", "description", "type", "enum", "properties", "required",
         "additionalProperties", "items", "minimum", "oneOf", "$ref"}
TYPES = {
    "object": lambda v: isinstance(v, dict),
    "array": lambda v: isinstance(v, list),
    "string": lambda v: isinstance(v, str),
    "boolean": lambda v: isinstance(v, bool),
    "null": lambda v: v is None,
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
}


def check(schema, value, root, path, problems):
    unknown = set(schema) - KNOWN
    if unknown:
        problems.append(f"{path}: the schema uses keywords this checker does not know: {sorted(unknown)}")
        return
    if "$ref" in schema:
        ref = schema["$ref"]
        if not ref.startswith("#/$defs/") or ref[8:] not in root.get("$defs", {}):
            problems.append(f"{path}: unknown reference {ref}")
            return
        check(root["$defs"][ref[8:]], value, root, path, problems)
    if "type" in schema:
        types = schema["type"] if isinstance(schema["type"], list) else [schema["type"]]
        if not any(TYPES[t](value) for t in types):
            problems.append(f"{path}: {json.dumps(value)[:80]} is not of type {' or '.join(types)}")
            return
    if "enum" in schema and value not in schema["enum"]:
        problems.append(f"{path}: {json.dumps(value)[:80]} is not one of {schema['enum']}")
    if "minimum" in schema and TYPES["number"](value) and value < schema["minimum"]:
        problems.append(f"{path}: {value} is below {schema['minimum']}")
    if "oneOf" in schema:
        matches = 0
        for option in schema["oneOf"]:
            sub = []
            check(option, value, root, path, sub)
            matches += not sub
        if matches != 1:
            problems.append(f"{path}: matches {matches} of the oneOf alternatives, not exactly one")
    if isinstance(value, dict):
        props = schema.get("properties", {})
        for name in schema.get("required", []):
            if name not in value:
                problems.append(f"{path}: the field {name} is missing")
        for name, item in value.items():
            if name in props:
                check(props[name], item, root, f"{path}.{name}", problems)
            elif schema.get("additionalProperties", True) is False:
                problems.append(f"{path}: the field {name} is not in the schema")
    if isinstance(value, list) and "items" in schema:
        for i, item in enumerate(value):
            check(schema["items"], item, root, f"{path}[{i}]", problems)


def main():
    if len(sys.argv) != 3:
        print("usage: schema_check.py SCHEMA DOCUMENT", file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    try:
        with open(sys.argv[2], encoding="utf-8") as f:
            document = json.load(f)
    except ValueError as e:
        print(f"{sys.argv[2]}: not JSON: {e}")
        return 1
    problems = []
    check(schema, document, schema, "$", problems)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

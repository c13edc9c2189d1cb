#!/usr/bin/env python3
"""Checks a setuppack --json document (standard input) against
docs/setuppack-report.schema.json, with the part of JSON Schema that file uses
(type, const, enum, required, properties, items, $ref, minimum, pattern).
Prints each departure and exits 1, or prints nothing and exits 0."""
import json
import re
import sys

TYPES = {"object": dict, "array": list, "string": str, "boolean": bool, "null": type(None)}


def of_type(value, name):
    if name == "integer":
        return isinstance(value, int) and not isinstance(value, bool)
    return isinstance(value, TYPES[name])


def check(value, schema, root, where, problems):
    if "$ref" in schema:
        schema = root["$defs"][schema["$ref"].split("/")[-1]]
    types = schema.get("type")
    if types is not None:
        names = types if isinstance(types, list) else [types]
        if not any(of_type(value, name) for name in names):
            problems.append(f"{where}: {value!r} is not of type {types}")
            return
    if "const" in schema and value != schema["const"]:
        problems.append(f"{where}: {value!r} is not {schema['const']!r}")
    if "enum" in schema and value not in schema["enum"]:
        problems.append(f"{where}: {value!r} is not one of {schema['enum']}")
    if isinstance(value, int) and not isinstance(value, bool) and value < schema.get("minimum", value):
        problems.append(f"{where}: {value} is below {schema['minimum']}")
    if isinstance(value, str) and "pattern" in schema and not re.search(schema["pattern"], value):
        problems.append(f"{where}: {value!r} does not match {schema['pattern']}")
    if isinstance(value, dict):
        for key in schema.get("required", []):
            if key not in value:
                problems.append(f"{where}: no {key}")
        for key, item in value.items():
            if key in schema.get("properties", {}):
                check(item, schema["properties"][key], root, f"{where}.{key}", problems)
            elif "properties" in schema:
                problems.append(f"{where}: {key} is not in the schema")
    if isinstance(value, list) and "items" in schema:
        for i, item in enumerate(value):
            check(item, schema["items"], root, f"{where}[{i}]", problems)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    try:
        document = json.load(sys.stdin)
    except ValueError as e:
        print(f"not one JSON document: {e}")
        return 1
    problems = []
    check(document, schema, schema, "$", problems)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Checks every JSON document the test suite kept against the published schemas.

Usage: validate-json.py SCHEMAS_DIR SAMPLES_DIR

Each sample is one document or JSON Lines; each document's "kind" names its
schema. What a program printed must be JSON; a file at a manifest's or record's
name may be something a test planted there, and is skipped when it is not. Every kind must have been seen at least once, so that a suite that kept
nothing cannot pass. The samples are removed once checked.
"""
import json
import pathlib
import shutil
import sys

import jsonschema


def documents(path, checked):
    """The documents in path not checked before: a record file is kept after
    every run that appends to it."""
    text = path.read_text(encoding="utf-8", errors="replace")
    printed = path.name.startswith("printed-")
    try:
        document = json.loads(text)
        if text not in checked:
            checked.add(text)
            yield document
        return
    except json.JSONDecodeError:
        if printed:
            raise
    for line in text.splitlines():
        if line in checked:
            continue
        checked.add(line)
        try:
            yield json.loads(line)
        except json.JSONDecodeError:
            pass


def main():
    schemas_dir, samples_dir = map(pathlib.Path, sys.argv[1:3])
    schemas = {}
    store = {}
    for path in sorted(schemas_dir.glob("*.schema.json")):
        schema = json.loads(path.read_text())
        jsonschema.Draft202012Validator.check_schema(schema)
        store[schema["$id"]] = schema
        schemas[path.name.removesuffix(".schema.json")] = schema
    kinds = {name for name in schemas if name != "common"}
    seen = {}
    validators = {}
    checked = set()
    failures = 0
    for path in sorted(samples_dir.glob("*.json")) if samples_dir.is_dir() else []:
        for document in documents(path, checked):
            kind = document.get("kind") if isinstance(document, dict) else None
            if kind is None and not path.name.startswith("printed-"):
                continue  # planted by a test, not written by a program
            if kind not in kinds:
                print(f"{path.name}: no schema for kind {kind!r}")
                failures += 1
                continue
            if kind not in validators:
                resolver = jsonschema.RefResolver.from_schema(schemas[kind], store=store)
                validators[kind] = jsonschema.Draft202012Validator(schemas[kind],
                                                                   resolver=resolver)
            errors = list(validators[kind].iter_errors(document))
            seen[kind] = seen.get(kind, 0) + 1
            for error in errors[:3]:
                print(f"{path.name} ({kind}): {error.message} at {list(error.absolute_path)}")
            failures += bool(errors)
    for kind in sorted(kinds - seen.keys()):
        print(f"no document of kind {kind} was kept: the suite does not reach it")
        failures += 1
    print(", ".join(f"{kind} {count}" for kind, count in sorted(seen.items())))
    shutil.rmtree(samples_dir, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

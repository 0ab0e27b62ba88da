#!/usr/bin/env python3
"""Checks every JSON document the command line's tests kept against the published schema.

usage: validate_json_documents.py SCHEMA FOLDER

Fails when the schema is not a valid JSON Schema, when a document does not validate, and when
the folder lacks a document of any kind (list, status, update, usage error): a harness that
stopped keeping documents must not pass unnoticed.
"""
import json
import pathlib
import sys

import jsonschema


def main() -> int:
    schema_file, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    schema = json.loads(schema_file.read_text())
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)

    documents = sorted(folder.glob("*.json"))
    kinds = set()
    failures = 0
    for document_file in documents:
        try:
            document = json.loads(document_file.read_text(encoding="ascii"))
        except (UnicodeDecodeError, ValueError) as error:
            print(f"{document_file.name}: not one ASCII JSON document: {error}")
            failures += 1
            continue
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.path))
        for error in errors:
            print(f"{document_file.name}: {'/'.join(map(str, error.path))}: {error.message}")
        failures += 1 if errors else 0
        if isinstance(document, dict):
            kinds.add("usage_error" if document.get("outcome") == "usage_error"
                      else document.get("command"))

    missing = {"list", "status", "update", "usage_error"} - kinds
    if missing:
        print(f"no document of: {', '.join(sorted(missing))} (in {len(documents)} documents)")
        return 1
    print(f"{len(documents)} documents checked, {failures} invalid")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

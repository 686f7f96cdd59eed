#!/usr/bin/python3
"""usage: validate_schema.py SCHEMA_DIR AGENT FILE...

Checks settings files against the agent's own schema (AGENT: claude, codex,
gemini or cursor). Claude Code accepts our "_origin" marker although its schema
forbids unknown handler keys, so the marker is taken out first. Exit status 0
when every file is valid; 1 when one is not, or when the schema is missing.
"""
import json
import pathlib
import sys

import jsonschema

SCHEMAS = {"claude": "claude-code-settings", "codex": "codex-hooks", "gemini": "gemini-cli-settings",
           "cursor": "cursor-hooks"}


def main(schema_dir, agent, *files):
    schema = json.loads((pathlib.Path(schema_dir) / f"{SCHEMAS[agent]}.schema.json").read_text(encoding="utf-8"))
    validator = jsonschema.validators.validator_for(schema)(schema)
    valid = True
    for name in files:
        settings = json.loads(pathlib.Path(name).read_text(encoding="utf-8"))
        for groups in settings.get("hooks", {}).values() if agent == "claude" else []:
            for handler in (h for group in groups for h in group.get("hooks", [])):
                handler.pop("_origin", None)
        for error in validator.iter_errors(settings):
            valid = False
            print(f"{name}: {error.json_path}: {error.message}", file=sys.stderr)
    return 0 if valid else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

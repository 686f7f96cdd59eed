#!/usr/bin/env python3
"""usage: validate.py AGENT FILE...

Checks settings files against our schema of what the agent (claude, codex,
gemini or cursor) accepts where tarnelctl writes. Exit status 0 when every
file is valid, 1 when one is not.
"""
import json
import pathlib
import sys

import jsonschema


def main(agent, *files):
    schemas = json.loads((pathlib.Path(__file__).parent / "agents.schema.json").read_text(encoding="utf-8"))
    schema = dict(schemas[agent], **{"$defs": schemas["$defs"]})
    validator = jsonschema.Draft202012Validator(schema)
    errors = [f"{name}: {error.json_path}: {error.message}" for name in files
              for error in validator.iter_errors(json.loads(pathlib.Path(name).read_text(encoding="utf-8")))]
    print(*errors, sep="\n", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

#!/usr/bin/env python3
"""usage: validate.py AGENT FILE: checks FILE against our schema of what AGENT
(claude, codex, gemini, cursor, qwen, copilot, droid or windsurf) accepts where tarnelctl writes."""
import json
import pathlib
import sys

import jsonschema

schemas = json.loads((pathlib.Path(__file__).parent / "agents.schema.json").read_text(encoding="utf-8"))
schema = dict(schemas[sys.argv[1]], **{"$defs": schemas["$defs"]})
errors = list(jsonschema.Draft202012Validator(schema).iter_errors(json.loads(pathlib.Path(sys.argv[2]).read_bytes())))
print(*(f"{e.json_path}: {e.message}" for e in errors), sep="\n", file=sys.stderr)
sys.exit(1 if errors else 0)

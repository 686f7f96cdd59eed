#!/usr/bin/env python3
"""Writes a large, realistic agent settings file of about SIZE bytes.

The file mixes what real settings hold: many permission rules, an "env"
object with thousands of members (the case that makes member lookups
quadratic if parsing is careless), nested objects, long strings in several
scripts, integers at the 64-bit limits, floats, nulls and booleans, and
hook groups of other tools under the events that tarnelctl edits.

usage: gen_settings.py SIZE_BYTES OUT_FILE
"""
import json
import random
import sys


def build(target):
    rnd = random.Random(20261205)
    settings = {
        "$schema": "https://json.schemastore.org/claude-code-settings.json",
        "model": "opus",
        "permissions": {"allow": [], "deny": ["Read(./.env)"]},
        "env": {},
        "hooks": {
            "PreToolUse": [{"matcher": "Bash", "hooks": [{"type": "command", "command": "/usr/bin/true"}]}],
            "PostToolUse": [{"hooks": [{"type": "command", "command": "echo done"}]}],
        },
        "limits": {"max": 9223372036854775807, "min": -9223372036854775808, "umax": 18446744073709551615},
        "projects": [],
    }
    words = ["build", "test", "giữ máy thức", "緑の", "données", "ünïcödé", "✓", "path/to/file"]
    size = 0
    i = 0
    while size < target:
        rule = f"Bash(npm run {rnd.choice(words)} {i}:*)"
        value = f"{rnd.choice(words)}-{rnd.randrange(10**9)}"
        project = {
            "path": f"/home/me/src/project-{i}",
            "history": [rnd.choice(words) * rnd.randrange(1, 4) for _ in range(3)],
            "stats": {"runs": rnd.randrange(2**40), "ratio": rnd.random(), "last": None, "ok": i % 2 == 0},
        }
        settings["permissions"]["allow"].append(rule)
        settings["env"][f"VAR_{i}"] = value
        settings["projects"].append(project)
        # Pretty-printed size of what was added (measured: 0.8 of this estimate).
        size += 0.8 * len(json.dumps([rule, value, project], ensure_ascii=False, indent=6).encode())
        i += 1
    return settings


def main():
    target, out = int(sys.argv[1]), sys.argv[2]
    with open(out, "w", encoding="utf-8") as f:
        json.dump(build(target), f, ensure_ascii=False, indent=2)


if __name__ == "__main__":
    main()

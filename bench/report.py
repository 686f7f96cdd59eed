#!/usr/bin/env python3
"""Turns the raw results of scripts/bench.sh into a Markdown report.

usage: report.py WORK_DIR             print the report for the results in WORK_DIR
       report.py --readme README REPORT  put REPORT between the bench markers of README
"""
import glob
import json
import os
import platform
import statistics
import sys
import time

BEGIN, END = "<!-- bench:begin -->", "<!-- bench:end -->"


def medians(work, name):
    """The runs of every round of one comparison, pooled per command."""
    pooled = {}
    for path in sorted(glob.glob(os.path.join(work, f"{name}.*.json"))):
        with open(path) as f:
            for r in json.load(f)["results"]:
                pooled.setdefault(r["command"], []).extend(r["times"])
    return {command: summary(command, times) for command, times in pooled.items()}


def summary(command, times):
    times = sorted(times)
    return {"command": command, "times": times, "median": statistics.median(times),
            "mean": statistics.fmean(times), "stddev": statistics.stdev(times) if len(times) > 1 else 0,
            "min": times[0]}


def ms(seconds):
    return f"{seconds * 1000:.2f} ms" if seconds < 1 else f"{seconds:.3f} s"


def cpu():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def report(work):
    rows, detail = [], []

    def compare(what, results, ours, base, target, limit=None, below=False):
        a, b = results[ours]["median"], results[base]["median"]
        ratio = a / b
        ok = "—" if limit is None else "✓" if (ratio < limit if below else ratio <= limit) else "✗"
        rows.append(f"| {what} | {ms(a)} | {base}: {ms(b)} | {ratio:.2f}× | {target} | {ok} |")

    hb = medians(work, "heartbeat")
    rq = medians(work, "request")
    compare("heartbeat `tarnelctl busy`", hb, "tarnelctl busy", "C sd-bus emit", "≤ 1.0×", 1.0)
    compare("heartbeat `tarnelctl busy`", hb, "tarnelctl busy", "dbus-send", "< 1.0×", 1.0, below=True)
    compare("request `tarnelctl status`", rq, "tarnelctl status", "C sd-bus round trip", "≤ 1.1×", 1.1)
    if glob.glob(os.path.join(work, "foundation.*.json")):  # what GNUstep Base costs at start-up, for the record
        fd = medians(work, "foundation")
        compare("heartbeat over Foundation (GNUstep on Linux; tests only)", fd, "tarnelctl busy (Foundation, GNUstep)",
                "tarnelctl busy", "none: D-Bus is Linux's back end")
        detail += fd.values()
    files = {}
    for op in ("install", "uninstall"):
        for size in (1, 10):
            r = medians(work, f"{op}-{size}")
            ours = f"tarnelctl {op}-claude-hooks ({size} MB)"
            files[op, size] = r[ours]["median"]
            compare(f"`{op}-claude-hooks`, {size} MB file", r, ours, f"jq ({size} MB)", "≤ 0.15×", 0.15)
            detail += r.values()
        growth = files[op, 10] / files[op, 1]
        rows.append(f"| `{op}-claude-hooks`, 10 MB vs 1 MB | {ms(files[op, 10])} | 1 MB: {ms(files[op, 1])} "
                    f"| {growth:.1f}× | ≤ 11× (linear) | {'✓' if growth <= 11 else '✗'} |")
    with open(os.path.join(work, "rss.txt")) as f:
        ours, base = ([int(kib) for kib in line.split()] for line in f.read().splitlines()[:2])
    med, top, base_med = statistics.median(ours), max(ours), statistics.median(base)
    rows.append(f"| heartbeat peak RSS (median of {len(ours)} runs; largest {top / 1024:.2f} MiB) | {med / 1024:.2f} MiB "
                f"| C sd-bus emit: {base_med / 1024:.2f} MiB | {med / base_med:.2f}× | < 3 MiB | "
                f"{'✓' if med < 3 * 1024 else '✗'} |")
    with open(os.path.join(work, "rss-files.txt")) as f:
        for op, size, *kib in (line.split() for line in f.read().splitlines()):
            peak, limit = max(map(int, kib)) / 1024, 3 * int(size) / 2**20 + 3
            rows.append(f"| `{op}-claude-hooks` peak RSS, {int(size) / 1e6:.0f} MB file (largest of {len(kib)}) "
                        f"| {peak:.1f} MiB | file: {int(size) / 2**20:.1f} MiB | {peak / (int(size) / 2**20):.2f}× "
                        f"| ≤ 3× file + 3 MiB ({limit:.1f} MiB) | {'✓' if peak <= limit else '✗'} |")
    detail = list(hb.values()) + list(rq.values()) + detail

    out = [
        f"Measured by `make bench` on {time.strftime('%Y-%m-%d')}, {cpu()}, {os.cpu_count()} cores, "
        "on a private `dbus-daemon` with the stand-in application replying; medians of hyperfine runs taken in "
        "alternating rounds. Peak RSS is measured by a tiny static launcher (`bench/peak_rss.c`).",
        "",
        "| What | tarnelctl | baseline | ratio | target | met |",
        "|---|---|---|---|---|---|",
        *rows,
        "",
        "<details><summary>All runs</summary>",
        "",
        "| command | median | mean ± σ | min | runs |",
        "|---|---|---|---|---|",
    ]
    for r in detail:
        out.append(f"| {r['command']} | {ms(r['median'])} | {ms(r['mean'])} ± {ms(r['stddev'] or 0)} "
                   f"| {ms(r['min'])} | {len(r['times'])} |")
    out += ["", "</details>"]
    return "\n".join(out) + "\n"


def update_readme(readme, report_path):
    with open(readme) as f:
        text = f.read()
    with open(report_path) as f:
        body = f.read()
    start, end = text.index(BEGIN) + len(BEGIN), text.index(END)
    with open(readme, "w") as f:
        f.write(text[:start] + "\n" + body + text[end:])


if __name__ == "__main__":
    if sys.argv[1] == "--readme":
        update_readme(sys.argv[2], sys.argv[3])
    else:
        sys.stdout.write(report(sys.argv[1]))

#!/usr/bin/env python3
"""table.py WORK N IMAGE DOC ALL NONE FLOOR NTFSLS FIND FLS

Prints bench/run.sh's table from the hyperfine exports and memory figures
in WORK. The arguments after IMAGE are the command names as run.sh gave
them to hyperfine: the three Morla runs, then the four anchors.
"""
import json
import os
import re
import sys


def medians(work, names):
    found = {}
    for name in names:
        path = os.path.join(work, name)
        if os.path.exists(path):
            with open(path) as f:
                for result in json.load(f)["results"]:
                    found[result["command"]] = result["median"]
    return found


def seconds(value):
    return "-" if value is None else f"{value:.3f}"


def ratio(a, b):
    return "-" if a is None or not b else f"{a / b:.2f}"


def main():
    if len(sys.argv) != 11:
        sys.exit(__doc__)
    work, n, image = sys.argv[1:4]
    morla_runs = sys.argv[4:7]
    anchors = sys.argv[7:11]
    groups = ["fast", "fls", "find"]
    warm = medians(work, [f"warm-{g}.json" for g in groups])
    cold = medians(work, [f"cold-{g}.json" for g in groups])
    memory = {}
    memory_file = os.path.join(work, "memory.tsv")
    if os.path.exists(memory_file):
        with open(memory_file) as f:
            for line in f:
                pattern, rss, anon = line.rstrip("\n").split("\t")
                memory[pattern] = (int(rss), int(anon))
    patterns = {morla_runs[0]: "*.doc", morla_runs[1]: "*", morla_runs[2]: "no-such-name"}
    short = {anchors[0]: "floor", anchors[1]: "ntfsls", anchors[2]: "find", anchors[3]: "fls"}

    commands = os.path.join(work, "commands.txt")
    if os.path.exists(commands):
        with open(commands) as f:
            print("\n" + f.read().rstrip())
    print(f"\nReference volume: N = {int(n):,} ({image}). Medians in seconds;")
    print("ratios are Morla's median over the anchor's, warm / cold.\n")
    head = ["command", "warm s", "cold s"]
    head += [f"/ {short[a]} (w / c)" for a in anchors]
    head += ["max RSS MiB", "anon MiB"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for command in morla_runs + anchors:
        row = [f"`{command}`", seconds(warm.get(command)), seconds(cold.get(command))]
        for anchor in anchors:
            if command in morla_runs:
                row.append(f"{ratio(warm.get(command), warm.get(anchor))} / "
                           f"{ratio(cold.get(command), cold.get(anchor))}")
            else:
                row.append("")
        rss, anon = memory.get(patterns.get(command), (None, None))
        row.append("-" if rss is None else f"{rss / 1024:.1f}")
        row.append("-" if anon is None else f"{anon / 1024:.1f}")
        print("| " + " | ".join(row) + " |")
    print("\nmax RSS: /usr/bin/time -v's maximum resident set size; anon: peak")
    print("anonymous (private) memory from /proc/PID/smaps_rollup.")
    print_targets(work, morla_runs, anchors, warm, cold, memory, patterns)


def instructions_per_record(work):
    path = os.path.join(work, "callgrind.txt")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        text = f.read()
    match = re.search(r"([\d,]+) instructions per in-use record", text)
    return int(match.group(1).replace(",", "")) if match else None


def print_targets(work, morla_runs, anchors, warm, cold, memory, patterns):
    """Every speed and memory target, its measured figure and whether it holds."""
    doc, everything, none = morla_runs
    floor, ntfsls = anchors[0], anchors[1]
    rows = []

    def ratio_row(what, a, b, limit):
        value = a / b if a is not None and b else None
        rows.append((what, f"at most {limit:g}", "-" if value is None else f"{value:.2f}",
                     value is not None and value <= limit))

    ratio_row(f"`{none}` / floor, warm", warm.get(none), warm.get(floor), 1.3)
    ratio_row(f"`{doc}` / floor, warm", warm.get(doc), warm.get(floor), 1.5)
    ratio_row(f"`{everything}` / ntfsls, warm", warm.get(everything), warm.get(ntfsls), 1.0)
    for command in morla_runs:
        ratio_row(f"`{command}` / floor, cold", cold.get(command), cold.get(floor), 1.0)
    for command in morla_runs:
        rss, anon = memory.get(patterns[command], (None, None))
        for what, kib, limit in (("max RSS", rss, 64), ("private memory", anon, 1)):
            mib = None if kib is None else kib / 1024
            rows.append((f"{what} of `{command}`, MiB", f"at most {limit}",
                         "-" if mib is None else f"{mib:.1f}", mib is not None and mib <= limit))
    per_record = instructions_per_record(work)
    rows.append(("instructions per in-use record (callgrind, no match)", "at most 600",
                 "-" if per_record is None else f"{per_record:,}",
                 per_record is not None and per_record <= 600))

    print("\nTargets:\n")
    print("| target | limit | measured | holds |")
    print("|---|---|---|---|")
    for what, limit, measured, holds in rows:
        print(f"| {what} | {limit} | {measured} | {'yes' if holds else 'NO'} |")


if __name__ == "__main__":
    main()

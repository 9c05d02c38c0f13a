#!/usr/bin/env python3
"""table.py WORK N IMAGE DOC ALL NONE ONE FLOOR DD NTFSLS FIND FLS ONE_FLOOR

Prints bench/run.sh's table from the timing exports (interleave.py's and
hyperfine's, one layout) and memory figures in WORK. The arguments after
IMAGE are the command names as run.sh gave them: the four Morla runs (the
last on one processor), then the five anchors, then the floor on one
processor.
"""
import json
import os
import re
import sys


def medians(work, names, key="median"):
    found = {}
    for name in names:
        path = os.path.join(work, name)
        if os.path.exists(path):
            with open(path) as f:
                for result in json.load(f)["results"]:
                    if key in result:
                        found[result["command"]] = result[key]
    return found


def seconds(value):
    return "-" if value is None else f"{value:.3f}"


def ratio(a, b):
    return "-" if a is None or not b else f"{a / b:.2f}"


def main():
    if len(sys.argv) != 14:
        sys.exit(__doc__)
    work, n, image = sys.argv[1:4]
    morla_runs = sys.argv[4:8]
    anchors = sys.argv[8:13]
    one_floor = sys.argv[13]
    groups = ["fast", "fls", "find"]
    warm = medians(work, [f"warm-{g}.json" for g in groups])
    cold = medians(work, [f"cold-{g}.json" for g in groups])
    cpu = medians(work, ["warm-fast.json"], "cpu_median")
    memory = {}
    memory_file = os.path.join(work, "memory.tsv")
    if os.path.exists(memory_file):
        with open(memory_file) as f:
            for line in f:
                pattern, rss, anon = line.rstrip("\n").split("\t")
                memory[pattern] = (int(rss), int(anon))
    patterns = {morla_runs[0]: "*.doc", morla_runs[1]: "*", morla_runs[2]: "no-such-name"}
    short = {anchors[0]: "floor-read", anchors[1]: "dd", anchors[2]: "ntfsls",
             anchors[3]: "find", anchors[4]: "fls"}

    commands = os.path.join(work, "commands.txt")
    if os.path.exists(commands):
        with open(commands) as f:
            print("\n" + f.read().rstrip())
    print(f"\nReference volume: N = {int(n):,} ({image}). Medians in seconds, of")
    print("interleaved rounds for the fast commands; ratios are Morla's median over")
    print("the anchor's, warm / cold; processor: user + system, warm median. The")
    print("last two rows run on one processor (taskset -c 0); their ratio is to")
    print("the floor on one processor.\n")
    head = ["command", "warm s", "cold s", "processor s"]
    head += [f"/ {short[a]} (w / c)" for a in anchors]
    head += ["max RSS MiB", "anon MiB"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for command in morla_runs + anchors + [one_floor]:
        row = [f"`{command}`", seconds(warm.get(command)), seconds(cold.get(command)),
               seconds(cpu.get(command))]
        for anchor in anchors:
            if command == morla_runs[3]:
                row.append(f"{ratio(warm.get(command), warm.get(one_floor))} / -"
                           if anchor == anchors[0] else "")
            elif command in morla_runs:
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
    print_targets(work, morla_runs, anchors, warm, cold, cpu, memory, patterns)
    print_containers(work, morla_runs, anchors[0], warm, cold, cpu)


def print_containers(work, morla_runs, floor, warm, cold, cpu):
    """The E01, VHDX and GPT disk forms, each against its own floor; the
    disk's ratios beside the bare volume's; the E01 cold against ewfmount."""
    path = os.path.join(work, "containers.tsv")
    if not os.path.exists(path):
        return
    with open(path) as f:
        forms = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    ewf_way = None
    way_path = os.path.join(work, "ewf-way.txt")
    if os.path.exists(way_path):
        with open(way_path) as f:
            ewf_way = f.read().strip()
    print("\nContainers and the GPT disk, each against its own floor:\n")
    print("| command | warm s | cold s | processor s | / its floor (w / c) |")
    print("|---|---|---|---|---|")
    for label, doc, none, own_floor in forms:
        for command in (doc, none, own_floor):
            ratios = "" if command == own_floor else (
                f"{ratio(warm.get(command), warm.get(own_floor))} / "
                f"{ratio(cold.get(command), cold.get(own_floor))}")
            print(f"| `{command}` | {seconds(warm.get(command))} | {seconds(cold.get(command))} | "
                  f"{seconds(cpu.get(command))} | {ratios} |")
    if ewf_way:
        print(f"| `{ewf_way}` | {seconds(warm.get(ewf_way))} | {seconds(cold.get(ewf_way))} | "
              f"{seconds(cpu.get(ewf_way))} | |")
    rows = []

    def check(what, a, b, limit, within=True):
        value = a / b if a is not None and b else None
        holds = value is not None and (value <= limit if within else value < limit)
        rows.append((what, f"{'at most' if within else 'below'} {limit:g}",
                     "-" if value is None else f"{value:.2f}", holds))

    doc, _, none, _ = morla_runs
    for label, form_doc, form_none, own_floor in forms:
        if label == "GPT disk":
            # The same ratios as the bare volume: within a tenth of them.
            for form, bare in ((form_none, none), (form_doc, doc)):
                for kind, times in (("warm", warm), ("cold", cold)):
                    bare_ratio = (times.get(bare) / times.get(floor)
                                  if times.get(bare) and times.get(floor) else None)
                    if bare_ratio:
                        check(f"`{form}` / its floor, {kind}, against the bare volume's "
                              f"{bare_ratio:.2f}", times.get(form), times.get(own_floor),
                              round(bare_ratio * 1.1, 2))
            continue
        for command in (form_none, form_doc):
            for kind, times in (("warm", warm), ("cold", cold)):
                check(f"`{command}` / its floor, {kind}", times.get(command), times.get(own_floor), 1.5)
        if label == "E01" and ewf_way:
            check(f"`{form_none}` / the ewfmount way, cold", cold.get(form_none), cold.get(ewf_way), 1.0,
                  within=False)
    print("\nContainer targets:\n")
    print("| target | limit | measured | holds |")
    print("|---|---|---|---|")
    for what, limit, measured, holds in rows:
        print(f"| {what} | {limit} | {measured} | {'yes' if holds else 'NO'} |")


def instructions_per_record(work):
    path = os.path.join(work, "callgrind.txt")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        text = f.read()
    match = re.search(r"([\d,]+) instructions per in-use record", text)
    return int(match.group(1).replace(",", "")) if match else None


def print_targets(work, morla_runs, anchors, warm, cold, cpu, memory, patterns):
    """Every speed and memory target, its measured figure and whether it holds."""
    doc, everything, none, _ = morla_runs
    floor, ntfsls = anchors[0], anchors[2]
    rows = []

    def ratio_row(what, a, b, limit):
        value = a / b if a is not None and b else None
        rows.append((what, f"at most {limit:g}", "-" if value is None else f"{value:.2f}",
                     value is not None and value <= limit))

    ratio_row(f"`{none}` / floor-read, warm", warm.get(none), warm.get(floor), 1.5)
    ratio_row(f"`{doc}` / floor-read, warm", warm.get(doc), warm.get(floor), 1.8)
    ratio_row(f"`{none}` / floor-read, processor time", cpu.get(none), cpu.get(floor), 3.0)
    ratio_row(f"`{everything}` / ntfsls, warm", warm.get(everything), warm.get(ntfsls), 1.2)
    for command in (none, doc):
        ratio_row(f"`{command}` / floor-read, cold", cold.get(command), cold.get(floor), 1.2)
    for command in morla_runs[:3]:
        rss, anon = memory.get(patterns[command], (None, None))
        for what, kib, limit in (("max RSS", rss, 64), ("private memory", anon, 1)):
            mib = None if kib is None else kib / 1024
            rows.append((f"{what} of `{command}`, MiB", f"at most {limit}",
                         "-" if mib is None else f"{mib:.1f}", mib is not None and mib <= limit))
    per_record = instructions_per_record(work)
    rows.append(("instructions per in-use record (callgrind, no match)", "at most 300",
                 "-" if per_record is None else f"{per_record:,}",
                 per_record is not None and per_record <= 300))

    print("\nTargets:\n")
    print("| target | limit | measured | holds |")
    print("|---|---|---|---|")
    for what, limit, measured, holds in rows:
        print(f"| {what} | {limit} | {measured} | {'yes' if holds else 'NO'} |")


if __name__ == "__main__":
    main()

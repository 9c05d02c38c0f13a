#!/usr/bin/env python3
"""interleave.py OUT.json ROUNDS WARMUP PREPARE NAME COMMAND [NAME COMMAND...]

Times shell commands in turn, round after round (A B C A B C ...), so that
whatever else the machine does in the meantime touches every command alike:
the floor moves with the state of the system's cache, and a ratio is only
worth something between runs of the same moment. PREPARE (a shell command,
or '' for none) runs before every timed run, untimed: dropping the page
cache for the cold runs. WARMUP rounds run first, untimed.

Each run's wall time and processor time (user and system, of the command and
every thread and child it had) are measured from the parent; standard output
goes to /dev/null unless the command redirects it itself. Writes OUT.json in
hyperfine's layout (results: command, median, mean, user, system, times,
plus cpu_median) and prints one line per command.
"""
import json
import os
import statistics
import subprocess
import sys
import time


def run(command):
    """Wall seconds and processor seconds (user, system) of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(["/bin/sh", "-c", command], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"command failed ({child.returncode}): {command}")
    return wall, usage.ru_utime, usage.ru_stime


def main():
    if len(sys.argv) < 7 or (len(sys.argv) - 5) % 2:
        sys.exit(__doc__)
    out, rounds, warmup, prepare = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    pairs = list(zip(sys.argv[5::2], sys.argv[6::2]))
    times = {name: [] for name, _ in pairs}
    users = {name: [] for name, _ in pairs}
    systems = {name: [] for name, _ in pairs}
    for round_number in range(warmup + rounds):
        for name, command in pairs:
            if prepare:
                subprocess.run(["/bin/sh", "-c", prepare], check=True)
            wall, user, system = run(command)
            if round_number >= warmup:
                times[name].append(wall)
                users[name].append(user)
                systems[name].append(system)
    results = []
    for name, command in pairs:
        cpu = [u + s for u, s in zip(users[name], systems[name])]
        result = {
            "command": name,
            "shell": command,
            "median": statistics.median(times[name]),
            "mean": statistics.fmean(times[name]),
            "min": min(times[name]),
            "max": max(times[name]),
            "user": statistics.fmean(users[name]),
            "system": statistics.fmean(systems[name]),
            "cpu_median": statistics.median(cpu),
            "times": times[name],
        }
        results.append(result)
        print(f"  {name}: median {result['median']:.3f} s "
              f"(min {result['min']:.3f}, max {result['max']:.3f}), "
              f"processor {result['cpu_median']:.3f} s")
    with open(out, "w") as f:
        json.dump({"results": results}, f, indent=1)


if __name__ == "__main__":
    main()

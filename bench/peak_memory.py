#!/usr/bin/env python3
"""peak_memory.py COMMAND [ARG...]

Runs the command (standard output discarded) and prints the peak of its
anonymous memory in KiB: the private memory it allocates (heap, stack,
anonymous maps), without the pages of files it maps, which belong to the
page cache and are shared. Sampled from /proc/PID/smaps_rollup every
millisecond; Morla's memory is flat during a scan, so sampling loses no peak.
"""
import subprocess
import sys
import time


def anonymous_kib(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Anonymous:"):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        pass
    return 0


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
    peak = 0
    while child.poll() is None:
        peak = max(peak, anonymous_kib(child.pid))
        time.sleep(0.001)
    print(peak)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""peak-tree-memory.py COMMAND...: runs COMMAND and prints the peak of its
process tree's memory (the sum of every process's proportional set size,
so that libraries shared between the batch and its workers count once),
sampled every 10 ms or so, and the wall time. Prints "peak_gib seconds exit"."""
import os
import subprocess
import sys
import time


def children_of():
    """Every process's children, from each /proc/PID/stat's parent field."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                # The name in brackets may hold spaces: the parent follows ") S ".
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        found.setdefault(parent, []).append(int(entry))
    return found


def pss_kib(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def tree_kib(root):
    kids = children_of()
    total, pending = 0, [root]
    while pending:
        pid = pending.pop()
        total += pss_kib(pid)
        pending.extend(kids.get(pid, []))
    return total


start = time.monotonic()
process = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
peak = 0
while process.poll() is None:
    peak = max(peak, tree_kib(process.pid))
    time.sleep(0.01)
print(f"{peak / 1024 / 1024:.2f} {time.monotonic() - start:.2f} {process.returncode}")

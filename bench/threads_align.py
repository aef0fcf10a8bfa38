#!/usr/bin/python3
"""Wall time of `audiomeas align` on two long files with one thread and with
more, round by round (so that a load on the machine hits both alike): the
median of each and their ratio, and whether every run wrote the same report.
The files are window_memory.py's (made with sox once and kept).

Usage: bench/threads_align.py BUILD_DIR FOLDER [MINUTES] [--threads N] [--rounds R]
  default: 10 minutes, 2 threads, 3 rounds
"""
import os
import statistics
import subprocess
import sys
import time

from window_memory import pair


def option(name, default):
    for a in sys.argv[1:]:
        if a.startswith(name + "="):
            return int(a.split("=", 1)[1])
    return default


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    build, folder = args[0], args[1]
    minutes = int(args[2]) if len(args) > 2 else 10
    threads, rounds = option("--threads", 2), option("--rounds", 3)
    tool = os.path.join(build, "bin", "audiomeas")
    os.makedirs(folder, exist_ok=True)
    ref, rec = pair(folder, minutes)
    times = {1: [], threads: []}
    reports = set()
    for _ in range(rounds):
        for n in times:
            start = time.monotonic()
            p = subprocess.run([tool, "align", ref, rec, "--json", "--threads", str(n)],
                               stdout=subprocess.PIPE, check=True)
            times[n].append(time.monotonic() - start)
            reports.add(p.stdout)
    one, many = statistics.median(times[1]), statistics.median(times[threads])
    print("| files | 1 thread | %d threads | speed-up | same report |" % threads)
    print("|---|---|---|---|---|")
    print("| 2 x %d min | %.2f s | %.2f s | %.2fx | %s |"
          % (minutes, one, many, one / many, "yes" if len(reports) == 1 else "NO"))


if __name__ == "__main__":
    main()

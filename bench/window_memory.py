#!/usr/bin/python3
"""Peak resident memory of `audiomeas align --window` against the window and
against the files' length: two 48 kHz mono 16-bit files (noise, the second
12.5 ms late), made with sox in FOLDER once and kept.

Usage: bench/window_memory.py BUILD_DIR FOLDER [MINUTES ...] [--windows S,S,...]
  default: 10 and 60 minutes, windows 10 and 60 s (an hour's pair is 690 MB
  of files)
"""
import os
import subprocess
import sys


def pair(folder, minutes):
    ref = os.path.join(folder, "ref_%dmin.wav" % minutes)
    rec = os.path.join(folder, "rec_%dmin.wav" % minutes)
    if not os.path.exists(rec):
        subprocess.run(["sox", "-V1", "-r", "48000", "-n", "-b", "16", ref, "synth", str(60 * minutes),
                        "whitenoise", "vol", "0.3"], check=True)
        subprocess.run(["sox", "-V1", ref, rec, "pad", "600s"], check=True)
    return ref, rec


def peak(tool, *args):
    """(peak resident MiB, seconds, exit code) of one run."""
    p = subprocess.Popen([tool, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    return usage.ru_maxrss / 1024, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--windows")]
    windows = [w for a in sys.argv[1:] if a.startswith("--windows") for w in a.split("=", 1)[1].split(",")]
    build, folder, minutes = args[0], args[1], [int(m) for m in args[2:]] or [10, 60]
    tool = os.path.join(build, "bin", "audiomeas")
    os.makedirs(folder, exist_ok=True)
    print("| files | window | peak resident | CPU time |")
    print("|---|---|---|---|")
    for m in minutes:
        ref, rec = pair(folder, m)
        for w in windows or ["10", "60"]:
            mib, cpu, code = peak(tool, "align", ref, rec, "--window", w, "-o", os.path.join(folder, "out.wav"))
            assert code == 0, (m, w, code)
            print("| 2 x %d min | %s s | %.0f MiB | %.1f s |" % (m, w, mib, cpu))


if __name__ == "__main__":
    main()

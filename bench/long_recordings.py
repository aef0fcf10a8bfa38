#!/usr/bin/python3
"""synkro_2 against SciPy's signal.correlate(x, y, 'full', method='fft') on
two long recordings (default 600 s at 48 kHz): wall time and peak memory
over the inputs, each in a fresh process so that one peak does not hide the
other.

Usage: long_recordings.py BUILD_DIR [SECONDS]
"""
import ctypes
import os
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from host_arrays import column  # noqa: E402

RATE = 48000


def peak_bytes() -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM")


def signals(seconds: float):
    n = int(seconds * RATE)
    rng = np.random.default_rng(7)
    x = rng.uniform(-0.5, 0.5, n)
    y = np.concatenate([np.zeros(1260), x[:-1260]])
    return x, y


def run(which: str, build: str, seconds: float) -> None:
    x, y = signals(seconds)
    before = peak_bytes()
    if which == "synkro":
        lib = ctypes.CDLL(os.path.join(build, "lib", "libsynkro.so"))
        out = np.empty(x.size)
        cols = [column(a, copy=False) for a in (x, y, out)]
        r, s, o = (c[0] for c in cols)
        lag, failed = ctypes.c_double(), ctypes.c_double()
        t0 = time.perf_counter()
        lib.synkro_2(ctypes.byref(r), ctypes.byref(s), ctypes.c_double(RATE), ctypes.byref(o),
                     ctypes.byref(lag), ctypes.byref(failed))
        seconds_taken = time.perf_counter() - t0
        assert failed.value == 0.0, "the match of a delayed copy must hold"
    else:
        from scipy import signal
        t0 = time.perf_counter()
        c = signal.correlate(x, y, "full", method="fft")
        seconds_taken = time.perf_counter() - t0
        del c
    # Past the inputs: synkro_2's output array (its pages are first touched
    # by the call) and temporaries; SciPy's result and temporaries.
    extra = peak_bytes() - before
    print(f"{which} {seconds_taken:.2f} s {extra / 2**30:.2f} GiB")


def main():
    if len(sys.argv) > 3:
        run(sys.argv[3], sys.argv[1], float(sys.argv[2]))
        return
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    seconds = sys.argv[2] if len(sys.argv) > 2 else "600"
    for which in ("synkro", "scipy"):
        subprocess.run([sys.executable, __file__, build, seconds, which], check=True)


if __name__ == "__main__":
    main()

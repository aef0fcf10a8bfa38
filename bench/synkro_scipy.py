#!/usr/bin/python3
"""synkro_2 against SciPy's signal.correlate(x, y, 'full', method='fft') on
two recordings of the same length, in one process, round by round (so that
load from other processes weighs on both alike): median times and their
ratio. SciPy's FFT runs on one thread unless asked for more, as synkro_2
does.

Usage: synkro_scipy.py BUILD_DIR [SECONDS ...]   (default 10)
"""
import ctypes
import os
import statistics
import sys
import time

import numpy as np
from scipy import signal

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from host_arrays import column  # noqa: E402

RATE = 48000
ROUNDS = 7


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    lengths = [float(s) for s in sys.argv[2:]] or [10.0]
    lib = ctypes.CDLL(os.path.join(build, "lib", "libsynkro.so"))
    for seconds in lengths:
        n = int(seconds * RATE)
        rng = np.random.default_rng(7)
        x = rng.uniform(-0.5, 0.5, n)
        y = np.concatenate([np.zeros(1260), x[:-1260]])
        out = np.empty(n)
        cols = [column(a, copy=False) for a in (x, y, out)]
        r, s, o = (c[0] for c in cols)
        lag, failed = ctypes.c_double(), ctypes.c_double()

        def ours():
            lib.synkro_2(ctypes.byref(r), ctypes.byref(s), ctypes.c_double(RATE), ctypes.byref(o),
                         ctypes.byref(lag), ctypes.byref(failed))

        def scipy():
            signal.correlate(x, y, "full", method="fft")

        ours(), scipy()
        assert failed.value == 0.0, "the match of a delayed copy must hold"
        t_ours, t_scipy = [], []
        for _ in range(ROUNDS):
            for f, t in ((ours, t_ours), (scipy, t_scipy)):
                t0 = time.perf_counter()
                f()
                t.append((time.perf_counter() - t0) * 1e3)
        o_ms, s_ms = statistics.median(t_ours), statistics.median(t_scipy)
        print(f"{seconds:g} s: synkro_2 {o_ms:.1f} ms, scipy {s_ms:.1f} ms, ratio {o_ms / s_ms:.2f}")


if __name__ == "__main__":
    main()

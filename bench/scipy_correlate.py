#!/usr/bin/python3
"""Times SciPy's signal.correlate(x, y, 'full', method='fft') on the data of
bench_peers (two 720,000-sample signals) and prints the ratio of our fixed
xcorr to it; also times it on two 10 s signals at 48 kHz, the size of the
synkro_2 goal (its time depends on the lengths only).

Usage: scipy_correlate.py BUILD_DIR   (runs BUILD_DIR/bin/bench_peers)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy import signal


def median_ms(f, rounds=7):
    f()
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        f()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([os.path.join(build, "bin", "bench_peers"), "--dump", tmp],
                             check=True, capture_output=True, text=True).stdout
        x = np.fromfile(os.path.join(tmp, "x.f64"))
        y = np.fromfile(os.path.join(tmp, "y.f64"))
    peers = dict(line.rsplit(" ", 1) for line in out.splitlines() if line.endswith(tuple("0123456789")))
    scipy_ms = median_ms(lambda: signal.correlate(x, y, "full", method="fft"))
    rng = np.random.default_rng(5)
    a, b = rng.uniform(-1, 1, 480000), rng.uniform(-1, 1, 480000)
    scipy_10s_ms = median_ms(lambda: signal.correlate(a, b, "full", method="fft"))
    ours = float(peers["ours_ms"])
    print(out, end="")
    print(f"scipy_ms {scipy_ms:.2f}")
    print(f"ours/scipy {ours / scipy_ms:.2f}")
    print(f"scipy_10s_ms {scipy_10s_ms:.2f}")


if __name__ == "__main__":
    main()

"""Signal and process helpers of the Python tests."""

import os

import numpy as np


def resident_bytes() -> int:
    """Resident set size of this process, from /proc/self/statm."""
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE")


def alternating(n, period=1):
    """+1/-1 in runs of ``period`` samples: +1 x period, -1 x period, ..."""
    return np.where((np.arange(n) // period) % 2 == 0, 1.0, -1.0)


def transient_case(fs, frames=600, burst=(100, 400), background=100.0, component=1000.0):
    """Presence, activity and measured signals whose transient levels are known.

    presence is there throughout; activity is loud from three frames before
    ``burst`` starts (the lead-in frames that do not count as active) to its
    end; measured is a background of mean square background**2 in every frame
    plus, in the burst frames only, an orthogonal component of mean square
    component**2 (with 5 ms frames a multiple of 4 samples long, both sums
    are exact). Expected: active level 20 log10(component / 32767), level
    difference 20 log10(background / component).
    """
    flen = int(0.005 * fs)
    assert flen % 4 == 0
    n = frames * flen
    first, end = burst
    presence = 8000.0 * alternating(n)
    activity = np.zeros(n)
    activity[(first - 3) * flen : end * flen] = 16000.0 * alternating((end - first + 3) * flen)
    measured = background * alternating(n)
    measured[first * flen : end * flen] += component * alternating((end - first) * flen, 2)
    return presence, activity, measured

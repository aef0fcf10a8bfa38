"""Per-frame view of a transient measurement, for plots.

The library returns only its summary; this redoes its frame walk in numpy so
that a figure can show what it classified: 5 ms frames (rounded down to whole
samples), levels in dB re an RMS of 32767 clamped at -120, presence and
activity smoothed with weight 0.9 on the new frame, active from the fourth
consecutive activity frame above -30 dB, noise frames the other frames whose
presence is above -50 dB.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from ._measure import as_rate, as_signal, frame_length

FULL_SCALE = 32767.0
FLOOR_DB = -120.0
ACTIVE_DB = -30.0
PRESENT_DB = -50.0
LEAD_IN_FRAMES = 3


@dataclass(frozen=True)
class TransientFrames:
    """Frame start times (s), frame levels (dB) and the frame classes."""

    times: np.ndarray
    presence_level: np.ndarray  # smoothed
    activity_level: np.ndarray  # smoothed
    measured_level: np.ndarray  # unsmoothed
    active: np.ndarray  # bool
    noise: np.ndarray  # bool


def _frame_rms(x: np.ndarray, frames: int, flen: int) -> np.ndarray:
    blocks = x[: frames * flen].reshape(frames, flen)
    return np.sqrt(np.mean(blocks * blocks, axis=1))


def _clamped_db(rms: np.ndarray) -> np.ndarray:
    with np.errstate(divide="ignore", invalid="ignore"):
        db = 20.0 * np.log10(rms / FULL_SCALE)
    return np.where(np.isnan(db) | (db < FLOOR_DB), FLOOR_DB, db)


def _smooth(levels: np.ndarray) -> np.ndarray:
    out = levels.copy()
    for i in range(1, out.size):
        out[i] = 0.9 * out[i] + 0.09999999999999998 * out[i - 1]
    return out


def transient_frames(presence, activity, measured, sample_rate) -> TransientFrames:
    p = as_signal(presence, "presence")
    a = as_signal(activity, "activity")
    m = as_signal(measured, "measured")
    fs = as_rate(sample_rate)
    flen = frame_length(fs)
    frames = p.size // flen if flen > 0 else 0
    frames = min(frames, a.size // max(flen, 1), m.size // max(flen, 1))
    pres = _smooth(_clamped_db(_frame_rms(p, frames, flen)))
    act = _smooth(_clamped_db(_frame_rms(a, frames, flen)))
    meas = _clamped_db(_frame_rms(m, frames, flen))
    active = np.zeros(frames, dtype=bool)
    run = 0
    for i in range(frames):
        run = run + 1 if act[i] > ACTIVE_DB else 0
        active[i] = run > LEAD_IN_FRAMES
    noise = ~active & (pres > PRESENT_DB)
    times = np.arange(frames) * (flen / fs)
    return TransientFrames(times, pres, act, meas, active, noise)

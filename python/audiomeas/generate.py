"""Test signals to play through a device, from the host layer's generators.

    attack_release(level_db=None, step_db=None, colour="white", seed=1) -> ndarray
    reference_compressor(signal, sample_rate, threshold_db=..., ratio=...,
                         attack_s=..., release_s=...)                 -> ndarray

Samples are at full scale 1.0. The same arguments give the same samples as
``audiomeas generate attack-release`` writes, on every machine.
"""

from __future__ import annotations

import ctypes
import functools
import math

import numpy as np

from . import _host
from ._measure import as_rate, as_signal

_c_double_p = ctypes.POINTER(ctypes.c_double)


@functools.cache
def _library() -> ctypes.CDLL:
    lib = _host.library()
    # restype before argtypes: a caller seeing the signature sees it whole.
    gen = lib.audiomeas_generate_attack_release
    gen.restype = ctypes.c_void_p
    gen.argtypes = [ctypes.c_double, ctypes.c_double, ctypes.c_char_p, ctypes.c_uint64]
    comp = lib.audiomeas_model_compressor
    comp.restype = ctypes.c_void_p
    comp.argtypes = [_c_double_p, ctypes.c_int64] + [ctypes.c_double] * 5
    return lib


def _samples(outcome) -> np.ndarray:
    code, report, samples = outcome
    if code != _host.EXIT_OK:
        raise ValueError(report.get("error", "the signal could not be made"))
    return samples if samples is not None else np.empty(0)


def _number(x, name: str) -> float:
    try:
        return float(x)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{name} must be a number ({exc})") from exc


def attack_release(level_db=None, step_db=None, colour: str = "white", seed: int = 1) -> np.ndarray:
    """The 115.5 s attack/release stimulus at 48 kHz: 5,544,000 samples, full
    scale 1.0, on the 16-bit grid.

    Steady noise at ``level_db`` dBFS RMS, ``level_db + step_db`` from 40 s to
    65 s. ``None`` takes the defaults of ``audiomeas generate attack-release``.
    ``colour`` is "white" or "pink"; ``seed`` a whole number from 0 to
    2**64 - 1. Options out of range, and levels whose peaks would reach full
    scale, raise ValueError with the highest level that fits.
    """
    # NaN asks the host layer for its default: a NaN given here is refused.
    level = math.nan if level_db is None else _number(level_db, "level_db")
    step = math.nan if step_db is None else _number(step_db, "step_db")
    for value, given, name in ((level, level_db, "level_db"), (step, step_db, "step_db")):
        if given is not None and math.isnan(value):
            raise ValueError(f"{name} must be a finite number, not NaN")
    if not isinstance(colour, str):
        raise TypeError(f"colour must be 'white' or 'pink', not {colour!r}")
    if isinstance(seed, bool) or not isinstance(seed, (int, np.integer)) or not 0 <= seed < 2**64:
        raise ValueError(f"seed must be a whole number from 0 to 2**64 - 1, not {seed!r}")
    lib = _library()
    return _samples(_host.collect(lib.audiomeas_generate_attack_release(
        level, step, colour.encode("utf-8"), int(seed))))


def reference_compressor(signal, sample_rate, *, threshold_db, ratio, attack_s,
                         release_s) -> np.ndarray:
    """``signal`` (full scale 1.0) through the documentation's reference
    compressor: a 5 ms RMS detector in dB, smoothed with time constant
    ``attack_s`` while the level rises and ``release_s`` while it falls;
    above ``threshold_db`` dBFS the gain falls by (1 - 1/ratio) dB per dB.
    """
    x = as_signal(signal, "signal")
    rate = as_rate(sample_rate)
    params = [_number(v, n) for v, n in ((threshold_db, "threshold_db"), (ratio, "ratio"),
                                          (attack_s, "attack_s"), (release_s, "release_s"))]
    lib = _library()
    return _samples(_host.collect(lib.audiomeas_model_compressor(
        *_host.signal_args(x), rate, *params)))

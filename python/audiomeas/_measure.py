"""The three measurements: argument checks, the library calls, typed results.

Every argument is checked before a library is loaded or called, so a bad
argument raises ValueError or TypeError naming it, never a crash or a silent
NaN. Signals are converted once to contiguous float64 (no copy when they
already are) and lent to the library for the duration of the call.
"""

from __future__ import annotations

import ctypes
import math
import threading
from dataclasses import dataclass, field

import numpy as np

from . import _loader
from ._emx import INT32_MAX, Column, EmxBufferReal_p

# The attack/release library works at a fixed rate on fixed sample positions.
ENVELO_RATE = 48000.0
ENVELO_REFERENCE_LENGTH = 5_544_000  # 115.5 s: end of the last analysis window
ENVELO_RECORDING_LENGTH = 720_000  # 15 s: the span its alignment correlates

_c_double_p = ctypes.POINTER(ctypes.c_double)

# envelo keeps about 217 MB of static scratch arrays: one call at a time.
_envelo_lock = threading.Lock()


# ---- results -------------------------------------------------------------


@dataclass(frozen=True)
class AlignResult:
    """Outcome of :func:`align`.

    aligned   the recording moved onto the reference's timeline, as long as
              the reference (zeros where no recording sample maps)
    fine_lag  samples the fine stage moved the recording by; positive when
              the recording (after the coarse stage) came later
    failed    True when the match is not to be trusted
    """

    aligned: np.ndarray = field(repr=False, compare=False)
    fine_lag: int
    failed: bool

    def __repr__(self) -> str:
        return (
            f"AlignResult(aligned=<{self.aligned.size} samples>, "
            f"fine_lag={self.fine_lag}, failed={self.failed})"
        )


@dataclass(frozen=True)
class AttackReleaseResult:
    """Outcome of :func:`attack_release`, times in seconds.

    rise_time  settle time after the rising level step; 0.0 when none found
    fall_time  settle time after the falling level step; 0.0 when none found
    failed     True when the recording could not be aligned reliably; the
               times are then computed from silence and mean nothing
    """

    rise_time: float
    fall_time: float
    failed: bool


@dataclass(frozen=True)
class TransientSnrResult:
    """Outcome of :func:`transient_snr`, levels in dB re an RMS of 32767.

    active_level      noise-corrected level of the measured signal over the
                      active frames; never below -120
    level_difference  level of the rest minus active_level
    warning           True when the active part is shorter than 50 ms or
                      longer than 10 s, or a level exceeds 0 dB
    """

    active_level: float
    level_difference: float
    warning: bool


# ---- argument checks -----------------------------------------------------


def as_signal(x, name: str) -> np.ndarray:
    """x as a contiguous 1-D float64 array; the same object when it is one."""
    if isinstance(x, np.ndarray) and np.iscomplexobj(x):
        raise TypeError(f"{name} must hold real samples, not complex ones")
    try:
        # asarray, not ascontiguousarray, which would turn a scalar into 1-D.
        a = np.asarray(x, dtype=np.float64, order="C")
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{name} must be a 1-D array of real numbers ({exc})") from exc
    if a.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got shape {a.shape}")
    if a.size > INT32_MAX:
        raise ValueError(f"{name} holds {a.size} samples, more than the {INT32_MAX} a call takes")
    return a


def as_rate(sample_rate, name: str = "sample_rate") -> float:
    try:
        fs = float(sample_rate)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{name} must be a number of samples per second ({exc})") from exc
    if not math.isfinite(fs) or fs <= 0.0:
        raise ValueError(f"{name} must be finite and positive, got {sample_rate!r}")
    return fs


def _too_short(name: str, have: int, need: int, fs: float, what: str) -> ValueError:
    return ValueError(
        f"{name} holds {have} samples ({have / fs:g} s); {what} needs at least "
        f"{need} samples ({need / fs:g} s at {fs:g} Hz)"
    )


# ---- library set-up ------------------------------------------------------


def _setup_synkro(lib: ctypes.CDLL) -> None:
    # No initialise function: synkro sets its constants up by itself.
    lib.synkro_2.argtypes = [EmxBufferReal_p, EmxBufferReal_p, ctypes.c_double,
                             EmxBufferReal_p, _c_double_p, _c_double_p]
    lib.synkro_2.restype = None


def _setup_envelo(lib: ctypes.CDLL) -> None:
    lib.envelo_estimation.argtypes = [EmxBufferReal_p, EmxBufferReal_p, ctypes.c_double,
                                      ctypes.c_double, _c_double_p, _c_double_p, _c_double_p]
    lib.envelo_estimation.restype = None
    lib.envelo_estimation_initialize.argtypes = []
    lib.envelo_estimation_initialize.restype = None
    lib.envelo_estimation_initialize()


def _setup_burstra(lib: ctypes.CDLL) -> None:
    lib.burstra.argtypes = [EmxBufferReal_p, EmxBufferReal_p, EmxBufferReal_p, ctypes.c_double,
                            _c_double_p, _c_double_p, _c_double_p]
    lib.burstra.restype = None
    lib.burstra_initialize.argtypes = []
    lib.burstra_initialize.restype = None
    lib.burstra_initialize()


# ---- measurements --------------------------------------------------------


def align(reference, recording, sample_rate) -> AlignResult:
    """Match ``recording`` to ``reference`` (any common amplitude scale; the
    activity tests take 0 dB as an RMS of 1.0), both at ``sample_rate`` Hz.

    The recording may be longer or shorter than the reference: it is cut or
    zero-padded to the reference's length, and the result has that length.
    """
    ref = as_signal(reference, "reference")
    rec = as_signal(recording, "recording")
    fs = as_rate(sample_rate)
    if ref.size == 0:
        raise ValueError("reference is empty; matching needs at least 1 sample")
    if rec.size == 0:
        raise ValueError("recording is empty; matching needs at least 1 sample")
    # The library writes straight into this block, which is large enough.
    return _synkro_call(ref, rec, fs, np.empty(ref.size))


def _synkro_call(ref: np.ndarray, rec: np.ndarray, fs: float, block: np.ndarray) -> AlignResult:
    """synkro_2 with ``block`` as the output's initial element block. A block
    shorter than the reference makes the library allocate one of its own,
    which :meth:`Column.take` copies out and frees."""
    lib = _loader.library("synkro", _setup_synkro)
    r, s, out = Column(ref), Column(rec), Column(block)
    lag, failed = ctypes.c_double(), ctypes.c_double()
    lib.synkro_2(r.ref, s.ref, fs, out.ref, ctypes.byref(lag), ctypes.byref(failed))
    aligned = out.take()
    return AlignResult(aligned, int(lag.value), failed.value != 0.0)


def attack_release(reference, recording, *, sample_rate=ENVELO_RATE) -> AttackReleaseResult:
    """Attack and release settle times of a level-dependent device.

    ``reference`` is the 48 kHz test signal (at least 5,544,000 samples,
    115.5 s) and ``recording`` its recording through the device (at least
    720,000 samples, 15 s), both on the 16-bit scale (full scale 32767). The
    recording must lag the reference. ``sample_rate`` only guards against
    signals at another rate: the library works at 48 kHz alone.

    Calls are serialised across threads; each takes a few seconds.
    """
    ref = as_signal(reference, "reference")
    rec = as_signal(recording, "recording")
    fs = as_rate(sample_rate)
    if fs != ENVELO_RATE:
        raise ValueError(f"sample_rate must be 48000 Hz for this measurement, got {sample_rate!r}")
    if ref.size < ENVELO_REFERENCE_LENGTH:
        raise _too_short("reference", ref.size, ENVELO_REFERENCE_LENGTH, fs,
                         "the attack/release measurement")
    if rec.size < ENVELO_RECORDING_LENGTH:
        raise _too_short("recording", rec.size, ENVELO_RECORDING_LENGTH, fs,
                         "the attack/release measurement")
    lib = _loader.library("envelo", _setup_envelo)
    r, s = Column(ref), Column(rec)
    rise, fall, failed = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
    with _envelo_lock:
        lib.envelo_estimation(r.ref, s.ref, 0.0, 0.0, ctypes.byref(rise), ctypes.byref(fall),
                              ctypes.byref(failed))
    return AttackReleaseResult(rise.value, fall.value, failed.value != 0.0)


def frame_length(fs: float) -> int:
    """Samples per 5 ms frame, rounded down, as the library forms it."""
    return int(math.floor(0.005 * fs))


def transient_snr(presence, activity, measured, sample_rate) -> TransientSnrResult:
    """Transient signal-to-noise of ``measured`` over 5 ms frames.

    presence  its length sets the frame count; frames where it is there
              (smoothed level above -50 dB) feed the noise estimate
    activity  frames where it is above -30 dB, from the fourth in a row on,
              are the active part
    measured  the signal whose levels are reported

    All three at ``sample_rate`` Hz on the 16-bit scale (0 dB = RMS 32767).
    ``activity`` and ``measured`` must cover every full frame of
    ``presence``; samples of ``measured`` past the last frame still count
    towards the level of the rest.
    """
    p = as_signal(presence, "presence")
    a = as_signal(activity, "activity")
    m = as_signal(measured, "measured")
    fs = as_rate(sample_rate)
    flen = frame_length(fs)
    if flen < 1:
        raise ValueError(
            f"sample_rate {sample_rate!r} Hz is below 200 Hz: a 5 ms frame would hold no sample"
        )
    frames = p.size // flen
    if frames < 1:
        raise _too_short("presence", p.size, flen, fs, "one 5 ms frame")
    covered = frames * flen
    for name, sig in (("activity", a), ("measured", m)):
        if sig.size < covered:
            raise ValueError(
                f"{name} holds {sig.size} samples, fewer than the {covered} that the "
                f"{frames} frames of presence cover ({covered / fs:g} s at {fs:g} Hz)"
            )
    lib = _loader.library("burstra", _setup_burstra)
    cp, ca, cm = Column(p), Column(a), Column(m)
    diff, active, warn = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
    lib.burstra(cp.ref, ca.ref, cm.ref, fs, ctypes.byref(diff), ctypes.byref(active),
                ctypes.byref(warn))
    return TransientSnrResult(active.value, diff.value, warn.value != 0.0)

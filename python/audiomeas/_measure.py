"""The three measurements over the host layer: typed inputs in, reports out.

Python types are checked here (a signal must be a 1-D array of real numbers,
a rate a number) and raise TypeError or ValueError naming the argument. What
a measurement can take (lengths, finite samples, rates) is checked by the
host layer before any library code runs; its refusals arrive here as
ValueError with its message, or MemoryError when the measurement would need
more memory than the machine has available. Signals are converted once to contiguous
float64 (no copy when they already are) and lent for the duration of the call.
"""

from __future__ import annotations

import numpy as np

from . import _host, _report

# The attack/release library works at this rate only.
ENVELO_RATE = 48000.0


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
    return a


def as_rate(sample_rate, name: str = "sample_rate") -> float:
    try:
        return float(sample_rate)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{name} must be a number of samples per second ({exc})") from exc


def _whole(x, name: str) -> int:
    if isinstance(x, bool) or not float(x).is_integer():
        raise ValueError(f"{name} must be a whole number of samples, got {x!r}")
    return int(x)


def _result(name: str, outcome, samples_field: str | None = None):
    code, report, samples = outcome
    if code not in (_host.EXIT_OK, _host.EXIT_FLAGGED):
        if "needed_bytes" in report:  # refused before any work: too little memory
            raise MemoryError(report["error"])
        raise ValueError(report.get("error", "the measurement failed"))
    extra = {samples_field: samples if samples is not None else np.empty(0)} if samples_field else {}
    return _report.build(name, report, **extra)


def align(reference, recording, sample_rate, *, details: bool = True,
          library_output: bool = False, window_s: float = 0.0):
    """Match ``recording`` to ``reference`` (any common amplitude scale; the
    activity tests take 0 dB as an RMS of 1.0), both at ``sample_rate`` Hz.

    Returns an AlignReport: the total delay (``total_delay_samples``,
    positive when the recording comes later), its coarse and fine parts,
    ``alignment_failed`` with ``failed_test`` and ``reason``, every verdict
    test, and ``aligned``: the recording on the reference's time line after
    the total delay (reference's length). ``library_output=True`` gives
    synkro_2's own array there instead. ``window_s`` > 0 finds the delay on
    the first ``window_s`` seconds of both signals and applies it to the
    whole recording (memory grows with the window; assumes a constant delay).
    """
    ref = as_signal(reference, "reference")
    rec = as_signal(recording, "recording")
    fs = as_rate(sample_rate)
    flags = (_host.DETAILS if details else 0) | (_host.LIBRARY_OUTPUT if library_output else 0)
    return _result("AlignReport",
                   _host.call("align", *_host.signal_args(ref, rec), fs, as_rate(window_s, "window_s"),
                              flags),
                   "aligned")


def attack_release(reference, recording, *, sample_rate=ENVELO_RATE, pad_samples=None,
                   details: bool = True):
    """Attack and release settle times of a level-dependent device.

    ``reference`` is the 48 kHz test signal (at least 5,544,000 samples,
    115.5 s) and ``recording`` its recording through the device, both on the
    16-bit scale (full scale 32767). ``pad_samples`` zeros (default 4800,
    100 ms) are put before the recording so that a device without latency
    can be measured; the delay is reported net of them.

    Returns an AttackReleaseReport: ``attack_settle_time_s`` (after the step
    up, falling segment) and ``release_settle_time_s`` (after the step down,
    rising segment), None when not found; ``alignment_failed`` with
    ``failed_test`` and ``reason``; the delay; both level tracks with their
    steady bands. Calls are serialised; each takes a fraction of a second.
    """
    ref = as_signal(reference, "reference")
    rec = as_signal(recording, "recording")
    fs = as_rate(sample_rate)
    pad = _host.DEFAULT_PAD if pad_samples is None else _whole(pad_samples, "pad_samples")
    return _result("AttackReleaseReport",
                   _host.call("attack_release", *_host.signal_args(ref, rec), fs, pad,
                              _host.DETAILS if details else 0))


def transient_snr(presence, activity, measured, sample_rate, *, details: bool = True):
    """Transient signal-to-noise of ``measured`` over 5 ms frames.

    presence  its length sets the frame count; frames where it is there
              (smoothed level above -50 dB) feed the noise estimate
    activity  frames where it is above -30 dB, from the fourth in a row on,
              are the active part
    measured  the signal whose levels are reported

    All three at ``sample_rate`` Hz on the 16-bit scale (0 dB = RMS 32767).
    Returns a TransientSnrReport: ``active_level_db``,
    ``level_difference_db``, ``warning`` with the checks that fired, the
    frame counts and noise estimate, and (details) the per-frame levels and
    classes.
    """
    p = as_signal(presence, "presence")
    a = as_signal(activity, "activity")
    m = as_signal(measured, "measured")
    fs = as_rate(sample_rate)
    return _result("TransientSnrReport",
                   _host.call("transient_snr", *_host.signal_args(p, a, m), fs,
                              _host.DETAILS if details else 0))

"""Figures of the alignment and transient measurements (needs matplotlib).

Each function returns a ``matplotlib.figure.Figure`` built without pyplot, so
it works on any backend and keeps no global figure list; save it with
``fig.savefig("x.png")`` or show it in a notebook.
"""

from __future__ import annotations

import numpy as np

try:
    from matplotlib.figure import Figure
except ImportError as exc:  # pragma: no cover - depends on the machine
    raise ImportError(
        "audiomeas.plot needs matplotlib (Debian package python3-matplotlib)"
    ) from exc

from ._frames import TransientFrames, transient_frames
from ._measure import AlignResult, TransientSnrResult, align, as_rate, as_signal, transient_snr

__all__ = ["alignment", "transient", "transient_frames", "TransientFrames"]

_MAX_POINTS = 20000


def _trace(ax, x: np.ndarray, fs: float, **style) -> None:
    """Plot x over time; long signals as their min/max envelope."""
    n = x.size
    if n <= _MAX_POINTS:
        ax.plot(np.arange(n) / fs, x, linewidth=0.8, **style)
        return
    step = -(-n // (_MAX_POINTS // 2))
    buckets = -(-n // step)
    padded = np.pad(x, (0, buckets * step - n), mode="edge").reshape(buckets, step)
    t = np.arange(buckets) * (step / fs)
    ax.fill_between(t, padded.min(axis=1), padded.max(axis=1), linewidth=0.0, **style)


def alignment(reference, recording, sample_rate, result: AlignResult | None = None) -> Figure:
    """Reference, recording and aligned recording over time, lag annotated.

    ``result`` is the :func:`audiomeas.align` result of these signals; it is
    computed when not given.
    """
    ref = as_signal(reference, "reference")
    rec = as_signal(recording, "recording")
    fs = as_rate(sample_rate)
    if result is None:
        result = align(ref, rec, fs)
    fig = Figure(figsize=(9, 6), layout="constrained")
    axes = fig.subplots(3, 1, sharex=True)
    for ax, sig, title, colour in (
        (axes[0], ref, "reference", "C0"),
        (axes[1], rec, "recording", "C1"),
        (axes[2], result.aligned, "aligned recording", "C2"),
    ):
        _trace(ax, sig, fs, color=colour)
        ax.set_ylabel("amplitude")
        ax.set_title(title, loc="left", fontsize="medium")
    axes[2].set_xlabel("time (s)")
    verdict = "match rejected" if result.failed else "match accepted"
    axes[2].annotate(
        f"fine lag {result.fine_lag} samples ({1000.0 * result.fine_lag / fs:.3f} ms), {verdict}",
        xy=(0.99, 0.95), xycoords="axes fraction", ha="right", va="top",
        color="C3" if result.failed else "black",
        bbox=dict(boxstyle="round", fc="white", alpha=0.8),
    )
    return fig


def _spans(mask: np.ndarray):
    """(first, last + 1) index pairs of the runs of True in mask."""
    edges = np.diff(np.concatenate(([0], mask.astype(np.int8), [0])))
    return zip(np.flatnonzero(edges == 1), np.flatnonzero(edges == -1))


def transient(presence, activity, measured, sample_rate,
              result: TransientSnrResult | None = None) -> Figure:
    """Frame levels of the three signals, active and noise frames marked.

    ``result`` is the :func:`audiomeas.transient_snr` result of these signals;
    it is computed when not given.
    """
    fs = as_rate(sample_rate)
    if result is None:
        result = transient_snr(presence, activity, measured, fs)
    frames = transient_frames(presence, activity, measured, fs)
    step = frames.times[1] - frames.times[0] if frames.times.size > 1 else 0.005
    fig = Figure(figsize=(9, 4.5), layout="constrained")
    ax = fig.subplots()
    for first, end in _spans(frames.active):
        ax.axvspan(frames.times[first], frames.times[end - 1] + step, color="C2", alpha=0.15,
                   linewidth=0.0)
    for first, end in _spans(frames.noise):
        ax.axvspan(frames.times[first], frames.times[end - 1] + step, color="0.5", alpha=0.12,
                   linewidth=0.0)
    ax.step(frames.times, frames.presence_level, where="post", label="presence (smoothed)")
    ax.step(frames.times, frames.activity_level, where="post", label="activity (smoothed)")
    ax.step(frames.times, frames.measured_level, where="post", label="measured")
    ax.axhline(result.active_level, color="black", linestyle="--", linewidth=1.0,
               label=f"active level {result.active_level:.2f} dB")
    # Proxy entries for the shaded frame classes.
    ax.fill_between([], [], color="C2", alpha=0.15, label="active frames")
    ax.fill_between([], [], color="0.5", alpha=0.12, label="noise frames")
    ax.set_xlabel("time (s)")
    ax.set_ylabel("level (dB re 32767)")
    title = f"level difference {result.level_difference:.2f} dB"
    if result.warning:
        title += "  (warning)"
    ax.set_title(title, loc="left", fontsize="medium")
    ax.legend(loc="lower right", fontsize="small")
    return fig

"""Figures drawn from measurement reports (needs matplotlib).

Each function takes the report of a measurement (made with details, the
default) and returns a ``matplotlib.figure.Figure`` built without pyplot, so
it works on any backend and keeps no global figure list; save it with
``fig.savefig("x.png")``. Nothing here recomputes a measurement: every line
drawn is a number the host layer reported (a transient SNR, the difference
of two).
"""

from __future__ import annotations

import numpy as np

try:
    from matplotlib.figure import Figure
except ImportError as exc:  # pragma: no cover - depends on the machine
    raise ImportError(
        "audiomeas.plot needs matplotlib (Debian package python3-matplotlib)"
    ) from exc

from ._measure import as_rate, as_signal

__all__ = ["alignment", "attack_release", "delay_over_time", "transient"]

_MAX_POINTS = 20000
# Track values of an attack-release segment's steady band: its last ones
# (README, "Reports", attack.steady_band).
_STEADY_VALUES = 51
_MIN_DELAY_SPAN = 1.0  # samples, the least delay_over_time's axis shows


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


def _verdict(report, flag: str) -> tuple[str, str]:
    if getattr(report, flag):
        return f"FLAGGED: {report.reason}", "C3"
    return "accepted", "black"


def _correlation(ax, report, title: str) -> None:
    c = report.correlation
    if c is None:
        ax.text(0.5, 0.5, "no correlation in the report (details=False)", ha="center",
                transform=ax.transAxes)
        return
    # The correlation's lags are the fine stage's, after the coarse move:
    # total delay = fine lag - coarse shift puts them on the delay reported.
    shift = report.coarse_shift_samples
    ax.plot(c.lag_samples - shift, c.magnitude, linewidth=0.8, color="C0",
            label="magnitude (bin maxima)")
    lo, hi = c.window_lag_samples - shift
    ax.axvspan(lo, hi, color="0.5", alpha=0.1, linewidth=0.0, label="distinctness window")
    ax.axvline(report.total_delay_samples, color="C3", linewidth=1.0, linestyle="--",
               label=f"peak: total delay {report.total_delay_samples:.0f} "
                     f"(fine lag {report.fine_lag_samples:.0f}, coarse shift {shift:.0f})")
    ax.set_xlabel("total delay (samples): fine lag - coarse shift")
    ax.set_ylabel("|correlation|")
    ax.set_title(title, loc="left", fontsize="medium")
    ax.ticklabel_format(axis="x", useOffset=False, style="plain")
    ax.legend(loc="upper right", fontsize="small")


def alignment(reference, recording, sample_rate, report) -> Figure:
    """Reference, recording and aligned recording over time, and the
    correlation magnitude around the peak with the distinctness window.
    ``report`` is :func:`audiomeas.align`'s report of these signals."""
    ref = as_signal(reference, "reference")
    rec = as_signal(recording, "recording")
    fs = as_rate(sample_rate)
    fig = Figure(figsize=(9, 8), layout="constrained")
    axes = fig.subplots(4, 1)
    for ax, sig, title, colour in (
        (axes[0], ref, "reference", "C0"),
        (axes[1], rec, "recording", "C1"),
        (axes[2], report.aligned, "aligned recording", "C2"),
    ):
        _trace(ax, sig, fs, color=colour)
        ax.set_ylabel("amplitude")
        ax.set_xlabel("time (s)")
        ax.set_title(title, loc="left", fontsize="medium")
    verdict, colour = _verdict(report, "alignment_failed")
    fig.suptitle(f"total delay {report.total_delay_samples:.0f} samples "
                 f"({report.total_delay_ms:.3f} ms); {verdict}\n{_match(report.match)}",
                 color=colour, fontsize="medium")
    _correlation(axes[3], report, "cross-correlation around the peak")
    return fig


def _match(m) -> str:
    """The host's opinion on a match, in one line."""
    polarity = ", polarity inverted" if m.polarity == "inverted" else ""
    if m.coefficient is None:
        return f"match: {m.opinion}{polarity}"
    return (f"match: {m.opinion}{polarity} (coefficient {m.coefficient:.4f}, "
            f"residual {m.residual_db:.1f} dB)")


def delay_over_time(report) -> Figure:
    """The delay measured in windows across the overlap, with the line of the
    drift through the start and end windows. ``report`` is
    :func:`audiomeas.align`'s report."""
    d = report.drift
    fig = Figure(figsize=(9, 4.5), layout="constrained")
    ax = fig.subplots()
    ax.set_xlabel("window centre on the reference (s)")
    ax.set_ylabel("delay (samples)")
    if d.drift_ppm is None:
        ax.text(0.5, 0.5, f"drift not measured: {d.reason}", ha="center", transform=ax.transAxes,
                wrap=True)
        return fig
    s = d.series
    ax.plot(s.centre_s, s.delay_samples, "o", color="C0",
            label=f"delay per {d.window_s:.1f} s window")
    ends = np.array([d.start.centre_s, d.end.centre_s])
    ax.plot(ends, [d.start.delay_samples, d.end.delay_samples], "-", color="C3", linewidth=1.0,
            label=f"drift {d.drift_ppm:.1f} ppm (start and end windows)")
    # Delays of thousands of samples that differ by hundredths: no offset on
    # the axis, and at least _MIN_DELAY_SPAN shown, so one window a
    # hundredth of a sample off does not look like an outlier.
    ax.ticklabel_format(axis="y", useOffset=False, style="plain")
    if report.sub_sample_delay_samples is not None:
        ax.axhline(report.sub_sample_delay_samples, color="0.5", linestyle="--", linewidth=0.8,
                   label=f"sub-sample delay {report.sub_sample_delay_samples:.3f}")
    flag = f"FLAGGED: above {d.limit_ppm:g} ppm" if d.flagged else f"within {d.limit_ppm:g} ppm"
    ax.set_title(f"delay over time: drift {d.drift_ppm:.1f} ppm, {flag}", loc="left",
                 fontsize="medium", color="C3" if d.flagged else "black")
    low, high = ax.get_ylim()
    if high - low < _MIN_DELAY_SPAN:
        middle = 0.5 * (low + high)
        ax.set_ylim(middle - 0.5 * _MIN_DELAY_SPAN, middle + 0.5 * _MIN_DELAY_SPAN)
    ax.legend(loc="best", fontsize="small")
    return fig


def attack_release(report) -> Figure:
    """Both smoothed level tracks with their steady bands, where the values
    forming each band start, the settle thresholds and points. The legends
    stand beside the axes, off the tracks. ``report`` is
    :func:`audiomeas.attack_release`'s report."""
    fig = Figure(figsize=(11, 6), layout="constrained")
    axes = fig.subplots(2, 1)
    for ax, name in ((axes[0], "attack"), (axes[1], "release")):
        seg = getattr(report, name)
        settle = getattr(report, f"{name}_settle_time_s")
        track = seg.track_db if seg.track_db is not None else np.empty(0)
        t = seg.first_window_s + report.settle_step_s * np.arange(track.size)
        ax.plot(t, track, marker=".", markersize=3, linewidth=0.8, label="smoothed level")
        band = seg.steady_band
        if band.minimum_db is not None and band.maximum_db is not None:
            ax.axhspan(band.minimum_db, band.maximum_db, color="C2", alpha=0.15,
                       label=f"steady band {band.minimum_db:.2f} to {band.maximum_db:.2f} dB")
        if band.threshold_db is not None:
            ax.axhline(band.threshold_db, color="C3", linestyle="--", linewidth=1.0,
                       label=f"threshold {band.threshold_db:.2f} dB")
        if t.size >= _STEADY_VALUES:
            steady_from = t[-_STEADY_VALUES]
            ax.axvline(steady_from, color="0.5", linewidth=0.8,
                       label=f"steady band start {steady_from:.1f} s "
                             f"(last {_STEADY_VALUES} values)")
        if seg.settled_pair is not None and track.size:
            j = int(seg.settled_pair[0])
            ax.plot(t[j:j + 2], track[j:j + 2], "o", color="C3",
                    label=f"settled: {settle:.1f} s")
        ax.set_title(f"{name} ({seg.level_change} segment): settle time "
                     f"{'none found' if settle is None else f'{settle:.1f} s'}",
                     loc="left", fontsize="medium")
        ax.set_xlabel("window start on the test signal (s)")
        ax.set_ylabel("level (dB re 32767)")
        ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), borderaxespad=0.0,
                  fontsize="small")
    verdict, colour = _verdict(report, "alignment_failed")
    fig.suptitle(f"alignment {verdict}", color=colour, fontsize="medium")
    return fig


def _spans(mask: np.ndarray):
    """(first, last + 1) index pairs of the runs of True in mask."""
    edges = np.diff(np.concatenate(([0], mask.astype(np.int8), [0])))
    return zip(np.flatnonzero(edges == 1), np.flatnonzero(edges == -1))


def transient(report) -> Figure:
    """Smoothed frame levels of the presence and activity signals with the
    frames the library classified as active and as noise, the measured
    (noise-corrected active) level, the noise level and the SNR between
    them. ``report`` is :func:`audiomeas.transient_snr`'s report."""
    fr = report.frames
    if fr is None:
        raise ValueError("the report has no frames: measure with details=True")
    step = report.frame_length_samples / report.sample_rate
    times = np.arange(fr.presence_smoothed_db.size) * step
    classes = list(fr.frame_classes)
    fig = Figure(figsize=(11, 4.5), layout="constrained")
    ax = fig.subplots()
    active = fr.frame_class == classes.index("active")
    for name, colour, alpha in (("active", "C2", 0.15), ("noise", "0.5", 0.12)):
        for first, end in _spans(fr.frame_class == classes.index(name)):
            ax.axvspan(times[first], times[end - 1] + step, color=colour, alpha=alpha, linewidth=0.0)
        ax.fill_between([], [], color=colour, alpha=alpha, label=f"{name} frames")
    ax.step(times, fr.presence_smoothed_db, where="post", label="presence (smoothed)")
    ax.step(times, fr.activity_smoothed_db, where="post", label="activity (smoothed)")
    measured, noise = report.active_level_db, report.noise_level_db
    ax.axhline(measured, color="black", linestyle="--", linewidth=1.0,
               label=f"measured: active level {measured:.2f} dB")
    if noise is None:
        ax.annotate("no noise level (no noise frame or zero power): no SNR", xy=(0.5, 0.04),
                    xycoords="axes fraction", ha="center")
    else:
        ax.axhline(noise, color="C3", linestyle=":", linewidth=1.2,
                   label=f"noise level {noise:.2f} dB")
        # The arrow stands in the middle of the active frames, where the
        # measured level was taken.
        at = times[np.flatnonzero(active)].mean() + 0.5 * step if active.any() else times.mean()
        ax.annotate("", xy=(at, measured), xytext=(at, noise),
                    arrowprops={"arrowstyle": "<->", "color": "C3"})
        ax.annotate(f"SNR {measured - noise:.2f} dB", xy=(at, 0.5 * (measured + noise)),
                    xytext=(4, 0), textcoords="offset points", va="center", color="C3")
    ax.set_xlabel("time (s)")
    ax.set_ylabel("level (dB re 32767)")
    title = f"level difference {report.level_difference_db:.2f} dB"
    if report.warning:
        title += f"  (warning: {', '.join(report.warnings_fired)})"
    ax.set_title(title, loc="left", fontsize="medium")
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), borderaxespad=0.0, fontsize="small")
    return fig

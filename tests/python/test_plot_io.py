"""Figures render to PNG from reports alone; audio files load on the scale
and with the channel numbering the measurements and the CLI use.

Fails if a figure cannot be drawn off-screen, loses a panel or an
annotation, measures anything itself, if the frame classes shown disagree
with the ones measured, if a line stands elsewhere than the reported number
it shows (the correlation peak off the total delay, the levels and SNR of a
transient, the steady band's start), if a legend covers the tracks, if the
delay axis hides its values behind an offset, or if file samples come back
on the wrong scale or from the wrong channel.
"""

import dataclasses
import io

import numpy as np
import pytest

import audiomeas
from audiomeas import _host
from helpers import transient_case

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
soundfile = pytest.importorskip("soundfile")

import audiomeas.generate  # noqa: E402
import audiomeas.io  # noqa: E402
import audiomeas.plot  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n"


def png_bytes(fig):
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=50)
    return buf.getvalue()


def texts(fig):
    """Every title, text and legend label of a figure."""
    out = [fig._suptitle.get_text()] if fig._suptitle is not None else []
    for ax in fig.axes:
        out += [ax.get_title(loc="left")] + [t.get_text() for t in ax.texts]
        out += ax.get_legend_handles_labels()[1]
    return out


def drawn(fig, axis, label):
    """The line of an axes whose legend label starts with ``label``."""
    ax = fig.axes[axis]
    found = [line for line in ax.lines if line.get_label().startswith(label)]
    assert len(found) == 1, (label, [line.get_label() for line in ax.lines])
    return found[0]


@pytest.fixture(scope="module")
def reports():
    rng = np.random.default_rng(3)
    ref = 0.03 * rng.standard_normal(48000)  # long enough for the envelope path
    # 45 ms of silence: the coarse stage moves the recording, so the fine lag
    # (45) and the total delay (2205) differ.
    rec = np.concatenate([np.zeros(2205), ref[:-2205]])
    stimulus = 32768.0 * audiomeas.generate.attack_release()
    drift_ref = 0.03 * rng.standard_normal(5 * 48000)  # long enough for the drift windows
    drift_rec = np.concatenate([np.zeros(2205), drift_ref])
    return {
        "alignment": ((ref, rec, 48000), audiomeas.align(ref, rec, 48000)),
        "no details": ((ref[:500], rec[:500], 48000),
                       audiomeas.align(ref[:500], rec[:500], 48000, details=False)),
        # No device: both levels settle at the first pair; the default pad makes it lag.
        "attack_release": ((), audiomeas.attack_release(stimulus, stimulus)),
        "transient": ((), audiomeas.transient_snr(*transient_case(48000.0), 48000.0)),
        "drift": ((), audiomeas.align(drift_ref, drift_rec, 48000, details=False)),
    }


@pytest.mark.parametrize("case, plot, axes, words", [
    ("alignment", "alignment", 4,
     ["total delay 2205 samples", "accepted",
      "peak: total delay 2205 (fine lag 45, coarse shift -2160)", "distinctness window"]),
    # Without details the correlation is None, and the figure says so.
    ("no details", "alignment", 4, ["no correlation in the report"]),
    ("attack_release", "attack_release", 2,
     ["attack (falling segment): settle time 0.2 s", "release (rising segment): settle time 0.2 s",
      "steady band -10.01 to -9.99 dB", "steady band start 52.6 s (last 51 values)",
      "steady band -30.01 to -29.98 dB", "steady band start 103.0 s", "settled: 0.2 s"]),
    ("transient", "transient", 1,
     ["presence (smoothed)", "activity (smoothed)", "active frames", "noise frames",
      "measured: active level -30.31 dB", "noise level -50.31 dB", "SNR 20.00 dB"]),
    ("drift", "delay_over_time", 1,
     ["delay per 1.2 s window", "drift 0.0 ppm", "sub-sample delay 2205.000"]),
])
def test_figures_draw_from_the_report_alone(monkeypatch, reports, case, plot, axes, words):
    def no_measurement(*args, **kwargs):
        raise AssertionError("a figure measured instead of drawing the report")

    monkeypatch.setattr(_host, "call", no_measurement)
    args, report = reports[case]
    fig = getattr(audiomeas.plot, plot)(*args, report)
    assert png_bytes(fig).startswith(PNG)
    assert len(fig.axes) == axes
    shown = texts(fig)
    for word in words:
        assert any(word in t for t in shown), (word, shown)


def _segment_start(report, segment):
    seg = getattr(report, segment)
    return seg.first_window_s + report.settle_step_s * (seg.windows - 51)


# (case, plot, axes index, legend label, "x" or "y", where it must stand)
LINES = [
    # The correlation on the total-delay axis: the peak at the reported delay,
    # every lag moved by the coarse shift.
    ("alignment", "alignment", 3, "peak: total delay", "x", lambda r: [r.total_delay_samples] * 2),
    ("alignment", "alignment", 3, "magnitude", "x",
     lambda r: r.correlation.lag_samples - r.coarse_shift_samples),
    ("transient", "transient", 0, "measured: active level", "y", lambda r: [r.active_level_db] * 2),
    ("transient", "transient", 0, "noise level", "y", lambda r: [r.noise_level_db] * 2),
    ("attack_release", "attack_release", 0, "steady band start", "x",
     lambda r: [_segment_start(r, "attack")] * 2),
    ("attack_release", "attack_release", 1, "steady band start", "x",
     lambda r: [_segment_start(r, "release")] * 2),
    ("attack_release", "attack_release", 1, "threshold", "y",
     lambda r: [r.release.steady_band.threshold_db] * 2),
]


@pytest.mark.parametrize("case, plot, axis, label, coordinate, where", LINES)
def test_lines_stand_at_the_reported_numbers(reports, case, plot, axis, label, coordinate, where):
    args, report = reports[case]
    line = drawn(getattr(audiomeas.plot, plot)(*args, report), axis, label)
    data = line.get_xdata() if coordinate == "x" else line.get_ydata()
    np.testing.assert_allclose(np.asarray(data, dtype=float), where(report), rtol=0, atol=1e-9)


# (plot, axes index, x label, y label)
AXES = [
    ("alignment", 3, "total delay (samples): fine lag - coarse shift", "|correlation|"),
    ("attack_release", 0, "window start on the test signal (s)", "level (dB re 32767)"),
    ("transient", 0, "time (s)", "level (dB re 32767)"),
    ("delay_over_time", 0, "window centre on the reference (s)", "delay (samples)"),
]


@pytest.mark.parametrize("plot, axis, xlabel, ylabel", AXES)
def test_axis_labels(reports, plot, axis, xlabel, ylabel):
    case = {"delay_over_time": "drift"}.get(plot, plot)
    args, report = reports[case]
    ax = getattr(audiomeas.plot, plot)(*args, report).axes[axis]
    assert (ax.get_xlabel(), ax.get_ylabel()) == (xlabel, ylabel)


@pytest.mark.parametrize("plot", ["attack_release", "transient"])
def test_legends_stand_off_the_data(reports, plot):
    fig = getattr(audiomeas.plot, plot)(reports[plot][1])
    fig.canvas.draw()
    for ax in fig.axes:
        legend = ax.get_legend().get_window_extent()
        assert not legend.overlaps(ax.get_window_extent()), ax.get_title(loc="left")


def test_transient_snr_arrow_spans_the_two_levels(reports):
    report = reports["transient"][1]
    ax = audiomeas.plot.transient(report).axes[0]
    arrow = [t for t in ax.texts if t.get_text() == ""]
    assert len(arrow) == 1
    # Drawn in the active frames, from the noise level to the measured level.
    (x0, y0), (x1, y1) = arrow[0].xyann, arrow[0].xy
    assert (y0, y1) == (report.noise_level_db, report.active_level_db)
    assert x0 == x1 and 0.5 < x0 < 2.0  # transient_case: active from frame 100 to 400 of 5 ms


def test_transient_without_a_noise_level_says_so(reports):
    report = dataclasses.replace(reports["transient"][1], noise_level_db=None)
    fig = audiomeas.plot.transient(report)
    shown = texts(fig)
    assert any("no noise level" in t for t in shown), shown
    assert not any("SNR " in t or t.startswith("noise level") for t in shown), shown


def test_delay_axis_shows_plain_samples(reports):
    """One window 0.01 sample off a delay of 2205 keeps the axis in plain
    samples, at least a sample wide: no offset that makes it an outlier."""
    report = reports["drift"][1]
    series = report.drift.series
    delays = np.full(series.delay_samples.size, 2205.0)
    delays[3] = 2204.99
    report = dataclasses.replace(report, drift=dataclasses.replace(
        report.drift, series=dataclasses.replace(series, delay_samples=delays)))
    fig = audiomeas.plot.delay_over_time(report)
    fig.canvas.draw()
    ax = fig.axes[0]
    assert ax.yaxis.get_offset_text().get_text() == ""
    low, high = ax.get_ylim()
    assert high - low >= 1.0 and low < 2204.99 and 2205.0 < high
    ticks = [t.get_text().replace("\N{MINUS SIGN}", "-") for t in ax.get_yticklabels()]
    assert all(t and float(t) > 2204 for t in ticks), ticks
    np.testing.assert_array_equal(drawn(fig, 0, "delay per").get_ydata(), delays)


def test_transient_frames_are_the_measured_classes(reports):
    frames = reports["transient"][1].frames
    classes = np.full(600, list(frames.frame_classes).index("noise"))
    classes[100:400] = list(frames.frame_classes).index("active")
    np.testing.assert_array_equal(frames.frame_class, classes)


def test_load_gives_16_bit_codes_and_full_scale(tmp_path):
    codes = np.array([0, 1, -1, 32767, -32768, 1234], dtype=np.int16)
    soundfile.write(tmp_path / "pcm.wav", codes, 48000, subtype="PCM_16")
    a = audiomeas.io.load(tmp_path / "pcm.wav")
    assert a.sample_rate == 48000 and a.samples.dtype == np.float64
    np.testing.assert_array_equal(a.samples, codes.astype(float))
    unit = audiomeas.io.load(tmp_path / "pcm.wav", scale="unit")
    np.testing.assert_array_equal(unit.samples, codes / 32768.0)

    soundfile.write(tmp_path / "float.wav", np.array([1.0, -0.5]), 44100, subtype="FLOAT")
    f = audiomeas.io.load(tmp_path / "float.wav")
    np.testing.assert_array_equal(f.samples, [32768.0, -16384.0])  # as the CLI scales


def test_load_picks_one_channel(tmp_path):
    stereo = np.array([[100, -200], [300, -400]], dtype=np.int16)
    soundfile.write(tmp_path / "st.wav", stereo, 8000, subtype="PCM_16")
    with pytest.raises(ValueError, match="2 channels"):
        audiomeas.io.load(tmp_path / "st.wav")
    for bad in (0, 3):  # counted from 1, as the CLI counts
        with pytest.raises(ValueError, match=f"channel {bad}"):
            audiomeas.io.load(tmp_path / "st.wav", channel=bad)
    right = audiomeas.io.load(tmp_path / "st.wav", channel=2)
    np.testing.assert_array_equal(right.samples, [-200.0, -400.0])
    assert right.samples.flags.c_contiguous
    with pytest.raises(ValueError, match="scale"):
        audiomeas.io.load(tmp_path / "st.wav", channel=1, scale="volts")

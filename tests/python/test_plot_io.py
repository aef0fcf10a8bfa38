"""Figures render to PNG from reports alone; audio files load on the scale
and with the channel numbering the measurements and the CLI use.

Fails if a figure cannot be drawn off-screen, loses a panel or an
annotation, measures anything itself, if the frame classes shown disagree
with the ones measured, or if file samples come back on the wrong scale or
from the wrong channel.
"""

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


@pytest.fixture(scope="module")
def reports():
    rng = np.random.default_rng(3)
    ref = 1000.0 * rng.standard_normal(48000)  # long enough for the envelope path
    rec = np.concatenate([np.zeros(25), ref[:-25]])
    stimulus = 32768.0 * audiomeas.generate.attack_release()
    return {
        "alignment": ((ref, rec, 48000), audiomeas.align(ref, rec, 48000)),
        "no details": ((ref[:500], rec[:500], 48000),
                       audiomeas.align(ref[:500], rec[:500], 48000, details=False)),
        # No device: both levels settle at the first pair; the default pad makes it lag.
        "attack_release": ((), audiomeas.attack_release(stimulus, stimulus)),
        "transient": ((), audiomeas.transient_snr(*transient_case(48000.0), 48000.0)),
    }


@pytest.mark.parametrize("case, plot, axes, words", [
    ("alignment", "alignment", 4,
     ["total delay 25 samples", "accepted", "peak: fine lag 25", "distinctness window"]),
    # Without details the correlation is None, and the figure says so.
    ("no details", "alignment", 4, ["no correlation in the report"]),
    ("attack_release", "attack_release", 2,
     ["attack (falling segment): settle time 0.2 s", "release (rising segment): settle time 0.2 s",
      "steady band", "settled: 0.2 s"]),
    ("transient", "transient", 1,
     ["presence (smoothed)", "activity (smoothed)", "active frames", "noise frames", "active level"]),
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

"""Figures render to PNG; audio files load on the scale the measurements use.

Fails if a figure cannot be drawn off-screen, loses a panel or the lag
annotation, if the frame classes shown disagree with the ones measured,
or if file samples come back on the wrong scale or from the wrong channel.
"""

import io

import numpy as np
import pytest

import audiomeas
from helpers import transient_case

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
soundfile = pytest.importorskip("soundfile")

import audiomeas.io  # noqa: E402
import audiomeas.plot  # noqa: E402


def png_bytes(fig):
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=50)
    return buf.getvalue()


def test_alignment_figure_shows_three_signals_and_the_lag():
    rng = np.random.default_rng(3)
    ref = 1000.0 * rng.standard_normal(48000)  # long enough for the envelope path
    rec = np.concatenate([np.zeros(25), ref[:-25]])
    fig = audiomeas.plot.alignment(ref, rec, 48000)
    assert png_bytes(fig).startswith(b"\x89PNG\r\n\x1a\n")
    assert len(fig.axes) == 3
    texts = [t.get_text() for t in fig.axes[2].texts]
    assert any("fine lag 25 samples" in t and "accepted" in t for t in texts)
    short = audiomeas.plot.alignment(ref[:500], rec[:500], 48000,
                                     result=audiomeas.align(ref[:500], rec[:500], 48000))
    assert png_bytes(short).startswith(b"\x89PNG")


def test_transient_figure_marks_the_measured_frames():
    p, a, m = transient_case(48000.0)
    frames = audiomeas.plot.transient_frames(p, a, m, 48000.0)
    expected_active = np.zeros(600, dtype=bool)
    expected_active[100:400] = True
    np.testing.assert_array_equal(frames.active, expected_active)
    np.testing.assert_array_equal(frames.noise, ~expected_active)
    fig = audiomeas.plot.transient(p, a, m, 48000.0)
    assert png_bytes(fig).startswith(b"\x89PNG")
    labels = fig.axes[0].get_legend_handles_labels()[1]
    for word in ("presence", "activity", "measured", "active frames", "noise frames"):
        assert any(word in label for label in labels)


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
    np.testing.assert_array_equal(f.samples, [32767.0, -16383.5])


def test_load_picks_one_channel(tmp_path):
    stereo = np.array([[100, -200], [300, -400]], dtype=np.int16)
    soundfile.write(tmp_path / "st.wav", stereo, 8000, subtype="PCM_16")
    with pytest.raises(ValueError, match="2 channels"):
        audiomeas.io.load(tmp_path / "st.wav")
    with pytest.raises(ValueError, match="channel 2"):
        audiomeas.io.load(tmp_path / "st.wav", channel=2)
    right = audiomeas.io.load(tmp_path / "st.wav", channel=1)
    np.testing.assert_array_equal(right.samples, [-200.0, -400.0])
    assert right.samples.flags.c_contiguous
    with pytest.raises(ValueError, match="scale"):
        audiomeas.io.load(tmp_path / "st.wav", channel=0, scale="volts")

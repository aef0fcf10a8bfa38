"""The host's second opinion on an alignment (match score, sub-sample delay,
drift) on speech and band-limited noise, in the reports, the tool's text and
the plots.

Fractional delays are made by a phase shift in the frequency domain (exact for
band-limited signals); drift by reading the reference on a stretched time base.
"""

import glob
import io
import os
import subprocess
import wave
from pathlib import Path

import numpy as np
import pytest

import audiomeas
import audiomeas.plot

FS = 48000
CHECKOUT = Path(__file__).resolve().parents[2]
LIB_DIR = Path(os.environ.get("AUDIOMEAS_LIB_DIR") or CHECKOUT / "build" / "lib")
CLI = Path(os.environ.get("AUDIOMEAS_CLI") or LIB_DIR.parent / "bin" / "audiomeas")
ALL_CLIPS = sorted(glob.glob("/usr/share/sounds/alsa/*.wav"))
CLIPS = [f for f in ALL_CLIPS if "Noise" not in f]
needs_speech = pytest.mark.skipif(not CLIPS, reason="Debian alsa-utils' speech clips are absent")


def speech(order=None, files=CLIPS):
    """The clips joined (the speech ones: 11.6 s at 48 kHz), full scale 1.0."""
    clips = []
    for f in files:
        with wave.open(f) as w:
            clips.append(np.frombuffer(w.readframes(w.getnframes()), dtype="<i2") / 32768.0)
    return np.concatenate([clips[i] for i in (order if order is not None else range(len(clips)))])


def band_limited_noise(n, seed=1):
    x = np.fft.rfft(np.random.default_rng(seed).standard_normal(n))
    x[np.fft.rfftfreq(n) > 0.25] = 0.0
    return np.fft.irfft(x, n)


def delayed(x, delay, pad=4096):
    """x later by a fractional delay, as a band-limited signal."""
    n = x.size + 2 * pad
    spectrum = np.fft.rfft(np.pad(x, pad)) * np.exp(-2j * np.pi * np.fft.rfftfreq(n) * delay)
    return np.fft.irfft(spectrum, n)[pad : pad + x.size]


@pytest.mark.parametrize("fraction", [0.25, 0.5, 0.37])
@pytest.mark.parametrize("source", [pytest.param("speech", marks=needs_speech), "noise"])
def test_fractional_delay_within_five_hundredths(source, fraction):
    ref = speech()[: 3 * FS] if source == "speech" else band_limited_noise(2 * FS)
    r = audiomeas.align(ref, delayed(ref, 240 + fraction), FS, details=False)
    assert abs(r.sub_sample_delay_samples - (240 + fraction)) < 0.05
    assert r.sub_sample_delay_ms == pytest.approx(r.sub_sample_delay_samples / FS * 1000)


@needs_speech
def test_drift_of_sixty_seconds_of_speech(ratio=1.001):
    # Other drifts, and none, on noise: tests/host/opinion/host_match_test.cpp.
    rng = np.random.default_rng(5)
    ref = np.concatenate([speech(rng.permutation(len(CLIPS))) for _ in range(5)])[: 60 * FS]
    t = (np.arange(int(ref.size * ratio) + 500) - 500) / ratio  # 500 samples late at the start
    rec = np.interp(t, np.arange(ref.size), ref, left=0.0, right=0.0)
    d = audiomeas.align(ref, rec, FS, details=False).drift
    assert abs(d.drift_ppm - (ratio - 1) * 1e6) < 5
    assert d.flagged and d.limit_ppm == 20
    truth = 500 + (ratio - 1) * d.series.centre_s * FS
    np.testing.assert_allclose(d.series.delay_samples, truth, atol=1.0)


def test_score_of_matched_unrelated_and_inverted_pairs():
    ref = band_limited_noise(FS)
    cases = [(ref, "good", "normal"), (band_limited_noise(FS, seed=2), "no match", None),
             (-ref, "good", "inverted")]
    for rec, opinion, polarity in cases:
        r = audiomeas.align(ref, rec, FS, details=False)
        assert (r.match.opinion, r.match.polarity) == (opinion, polarity)
        assert abs(r.match.coefficient) > 0.999 if polarity else abs(r.match.coefficient) < 0.1
        if polarity is None:  # nothing to refine on
            assert r.sub_sample_delay_samples is None and r.drift.drift_ppm is None
            assert r.drift.reason


def write_wav(path, x):
    """x (on the 16-bit grid) as the 16-bit file the tool reads back exactly."""
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(FS)
        w.writeframes(np.round(x * 32768).astype("<i2").tobytes())


@needs_speech
@pytest.mark.parametrize("delay", [3000, -700])
def test_library_flags_where_the_host_sees_a_good_match(tmp_path, delay):
    # All nine clips (12.8 s) 20 dB down: the coarse stage moves the recording
    # by over 5 s, so the fine lag exceeds a third of its length.
    ref = np.round(speech(files=ALL_CLIPS) * 3276.8) / 32768
    rec = np.concatenate([np.zeros(delay), ref]) if delay > 0 else ref[-delay:]
    if delay > 0:  # with noise 50 dB below the speech
        noise = np.random.default_rng(3).standard_normal(rec.size) * np.std(ref) * 10 ** -2.5
        rec = np.round((rec + noise) * 32768) / 32768
    r = audiomeas.align(ref, rec, FS)
    assert (r.alignment_failed, r.failed_test, r.total_delay_samples) == (True, "fine_lag", delay)
    assert r.match.opinion == "good"
    assert abs(r.sub_sample_delay_samples - delay) < 0.05
    fig = audiomeas.plot.alignment(ref, rec, FS, r)
    assert "match: good" in fig._suptitle.get_text() and "FLAGGED" in fig._suptitle.get_text()
    audiomeas.plot.delay_over_time(r).savefig(io.BytesIO(), format="png")
    # The tool prints both, the library's flag first.
    write_wav(tmp_path / "ref.wav", ref)
    write_wav(tmp_path / "rec.wav", rec)
    out = subprocess.run([str(CLI), "align", tmp_path / "ref.wav", tmp_path / "rec.wav"],
                         capture_output=True, text=True)
    assert out.returncode == 1
    text = out.stdout
    # The verdict and the library's reason first; the host's good score
    # beside them, but no delay presented as a finding.
    assert text.index("verdict          FLAGGED") < text.index("the library rejected the match")
    assert text.index("the library rejected the match") < text.index("match            good (host's")
    assert "sub-sample delay" not in text and "drift" not in text

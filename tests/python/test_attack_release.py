"""attack_release on a simulated device (a few calls; each takes about a second).

The device follows a level step with an exponential glide in dB: slowly
after the fall at 40.2 s, quickly after the rise at 65.4 s. Its output,
delayed by 1000 samples, is the recording. The expected settle times come
from the level tracks of the device output computed here in numpy (2.5 s
RMS windows every 0.2 s, smoothed with weight 0.9, settled at the first two
consecutive values beyond the steady band of the last 51). Fails if the
wrapper swaps the times or the segments, loses the flag or its reason,
corrupts the signals, or measures a recording that ends before the analysis
segments.
"""

import numpy as np
import pytest

import audiomeas

FS = 48000
FALL_AT, RISE_AT = 1_929_600, 3_139_200
HIGH, LOW = 6000.0, 600.0


def device_pair(n=5_544_000, tau_fall=2.0, tau_rise=0.4, delay=1000):
    rng = np.random.default_rng(21)
    unit = rng.standard_normal(n)
    t = np.arange(n)
    step = np.where((t >= FALL_AT) & (t < RISE_AT), LOW, HIGH)
    # Output amplitude glides from the old level to the new one in dB.
    ratio = np.ones(n)
    fall = (t >= FALL_AT) & (t < RISE_AT)
    ratio[fall] = (HIGH / LOW) ** np.exp(-(t[fall] - FALL_AT) / (tau_fall * FS))
    rise = t >= RISE_AT
    ratio[rise] = (LOW / HIGH) ** np.exp(-(t[rise] - RISE_AT) / (tau_rise * FS))
    output = unit * step * ratio
    reference = unit * step
    recording = np.concatenate([np.zeros(delay), output])
    return reference, recording, output


def level_track(output, start, windows, falling):
    """(smoothed track in dB, settle time in s or None)."""
    track = np.empty(windows)
    for i in range(windows):
        w = output[start + 9600 * i : start + 9600 * i + 120_000]
        v = np.log10((np.sqrt(np.mean(w * w)) + 1e-6) / 32767.0)
        track[i] = 20.0 * v if i == 0 else 1.9999999999999996 * v + 0.9 * track[i - 1]
    steady = track[-51:]
    band = steady.max() - steady.min()
    threshold = steady.mean() + band if falling else steady.mean() - band
    ok = track < threshold if falling else track > threshold
    pairs = np.flatnonzero(ok[:-1] & ok[1:])
    return track, (pairs[0] + 1) * 0.2 if pairs.size else None


@pytest.fixture(scope="module")
def device():
    return device_pair()


def test_settle_times_of_a_simulated_device(device):
    reference, recording, output = device
    r = audiomeas.attack_release(reference, recording)
    assert (r.alignment_failed, r.failed_test, r.total_delay_samples) == (False, None, 1000)
    for seg, settle, start, windows, falling in (
        (r.attack, r.attack_settle_time_s, FALL_AT, 113, True),
        (r.release, r.release_settle_time_s, RISE_AT, 239, False),
    ):
        track, expected = level_track(output, start, windows, falling)
        assert seg.first_window_s == start / FS and seg.track_db.size == windows
        np.testing.assert_allclose(seg.track_db, track, rtol=0, atol=1e-9)
        assert settle == pytest.approx(expected, abs=1e-9)
        assert settle == (seg.settled_pair[0] + 1) * r.settle_step_s
    assert r.attack_settle_time_s > r.release_settle_time_s > 0.0  # slow release, fast attack


def test_matches_the_c_call_bit_for_bit(raw, device):
    reference, recording, _ = device
    r = audiomeas.attack_release(reference, recording, pad_samples=0, details=False)
    rise, fall, failed = raw.envelo(reference, recording)
    bits = lambda x: np.float64(0.0 if x is None else x).tobytes()  # noqa: E731
    assert bits(r.release_settle_time_s) == bits(rise) and bits(r.attack_settle_time_s) == bits(fall)
    assert r.alignment_failed == (failed == 1.0) and r.total_delay_samples == 1000


@pytest.mark.parametrize("case, pad, failed_test", [
    ("no latency", 0, "recording_lags"),
    ("no latency", None, None),  # the default pad makes it lag
    ("silent", None, "total_delay"),
    ("unrelated", None, "peak_distinctness"),
])
def test_alignment_flags_name_their_test(device, case, pad, failed_test):
    reference, _, output = device
    recording = {"no latency": output, "silent": np.zeros(720_000),
                 "unrelated": np.random.default_rng(5).permutation(output)}[case]
    r = audiomeas.attack_release(reference, recording, pad_samples=pad, details=False)
    assert (r.alignment_failed, r.failed_test) == (failed_test is not None, failed_test)
    assert [t.test for t in r.tests if not t.passed][:1] == ([failed_test] if failed_test else [])
    if failed_test == "recording_lags":
        assert "pad" in r.reason
    if failed_test is None:
        assert r.total_delay_samples == 0


def test_a_recording_that_ends_before_the_segments_is_refused(device):
    reference, recording, _ = device
    # The whole recording (delay + 115.5 s) is measured above; one sample less is not.
    with pytest.raises(ValueError) as info:
        audiomeas.attack_release(reference, recording[:-1])
    assert "recording: too short: 5544999 samples" in str(info.value)
    assert "need at least 5545000 samples (115.521 s)" in str(info.value)

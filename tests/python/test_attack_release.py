"""attack_release on a simulated device (two calls; each takes seconds).

The device follows a level step with an exponential glide in dB: slowly
after the fall at 40.2 s, quickly after the rise at 65.4 s. Its output,
delayed by 1000 samples, is the recording. The expected settle times come
from the level tracks of the device output computed here in numpy (2.5 s
RMS windows every 0.2 s, smoothed with weight 0.9, settled at the first two
consecutive values beyond the steady band of the last 51). Fails if the
wrapper swaps the times, loses the flag or corrupts the signals.
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


def settle_time(output, start, windows, falling):
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
    return (pairs[0] + 1) * 0.2 if pairs.size else 0.0


@pytest.fixture(scope="module")
def device():
    return device_pair()


def test_settle_times_of_a_simulated_device(device):
    reference, recording, output = device
    r = audiomeas.attack_release(reference, recording)
    assert r.failed is False
    assert r.fall_time == pytest.approx(settle_time(output, FALL_AT, 113, True), abs=1e-9)
    assert r.rise_time == pytest.approx(settle_time(output, RISE_AT, 239, False), abs=1e-9)
    assert r.fall_time > r.rise_time > 0.0  # slow release, fast attack


def test_a_silent_recording_fails_alignment(device):
    reference, _, _ = device
    r = audiomeas.attack_release(reference, np.zeros(720_000))
    assert r.failed is True
    assert repr(r).startswith("AttackReleaseResult(rise_time=")

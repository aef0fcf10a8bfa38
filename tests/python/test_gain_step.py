"""attack_release's gain step: the level step the device passed, beside the
settle times (two calls, about a second each).

A loopback passes the default 20 dB step unchanged and must say that it saw
no level-dependent gain; the reference compressor (4:1 above -20 dBFS, the
stepped level 10 dB over it) must show its gain change and the ratio across
the step. The levels are checked against numpy over the documented stretches
of the test signal, with the recording moved by its delay. Fails if the host
measures the wrong stretches, ignores the delay, swaps the steps' signs,
inverts the ratio or writes the note for a compressor.
"""

import numpy as np
import pytest

import audiomeas
from audiomeas import generate

RATE = 48000
INT16 = 32768.0  # full scale 1.0 on the 16-bit scale
# The last 10 s of each steady stretch, ending 0.5 s before the next step
# or the end of the test signal: base, stepped, base again.
STRETCHES_S = [(29.5, 39.5), (54.5, 64.5), (105.0, 115.0)]


def level_dbfs(x):
    """RMS level, dB re RMS 32767 (the level tracks' reference)."""
    return 10.0 * np.log10(np.mean(np.square(x)) / 32767.0**2)


@pytest.fixture(scope="module")
def stimulus():
    return generate.attack_release()


def loopback(x):
    return x


def compressed(x):
    # The stepped level (-10 dBFS) lies 10 dB over the threshold: 7.5 dB less gain.
    return generate.reference_compressor(x, RATE, threshold_db=-20.0, ratio=4.0, attack_s=0.5,
                                         release_s=2.0)


# (device, delay in samples, gain change in dB and its tolerance, ratio, note expected)
DEVICES = [
    pytest.param(loopback, 0, 0.0, 1e-12, 1.0, True, id="loopback"),
    pytest.param(compressed, 1000, -7.5, 0.5, 1.6, False, id="compressor 4:1"),
]


@pytest.mark.parametrize("device, delay, change, tolerance, ratio, note", DEVICES)
def test_gain_step_of_a_device(stimulus, device, delay, change, tolerance, ratio, note):
    reference = stimulus * INT16
    recording = np.concatenate([np.zeros(delay), device(stimulus) * INT16])
    r = audiomeas.attack_release(reference, recording, details=False)
    assert (r.alignment_failed, r.total_delay_samples) == (False, delay)
    g = r.gain_step

    assert [(s.from_s, s.to_s) for s in g.stretches] == STRETCHES_S
    for s in g.stretches:
        first, last = round(s.from_s * RATE), round(s.to_s * RATE)
        assert s.test_signal_dbfs == pytest.approx(level_dbfs(reference[first:last]), abs=1e-9)
        assert s.recording_dbfs == pytest.approx(level_dbfs(recording[first + delay:last + delay]), abs=1e-9)
    # The default stimulus: -30 dBFS, 20 dB louder in between.
    np.testing.assert_allclose([s.test_signal_dbfs for s in g.stretches], [-30.0, -10.0, -30.0], atol=0.05)

    for step in (g.step_up, g.step_down):
        assert step.test_signal_step_db == pytest.approx(20.0, abs=0.05)
        assert step.gain_change_db == pytest.approx(step.recording_step_db - step.test_signal_step_db)
        assert step.gain_change_db == pytest.approx(change, abs=tolerance)
        assert step.compression_ratio == pytest.approx(ratio, abs=0.07)
        assert step.compression_ratio == pytest.approx(step.test_signal_step_db / step.recording_step_db)
    assert g.level_dependent_gain_seen is not note
    if note:
        assert g.note.startswith("no level-dependent gain seen: the device passed the 20.0 dB step up "
                                 "as 20.0 dB and the 20.0 dB step down as 20.0 dB")
    else:
        assert g.note is None


def test_a_failed_alignment_measures_no_gain_step(stimulus):
    reference = stimulus * INT16
    r = audiomeas.attack_release(reference, reference, pad_samples=0, details=False)
    assert (r.alignment_failed, r.failed_test, r.gain_step) == (True, "recording_lags", None)

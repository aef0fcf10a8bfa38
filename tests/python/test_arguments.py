"""Argument checks: readable exceptions naming the argument, before any call.

Fails if a bad argument reaches a library (where it would give NaN, a
silent -120 dB or a read past an array) or if a message omits what the
caller needs to fix it.
"""

import math

import numpy as np
import pytest

import audiomeas
from audiomeas import _measure

OK = np.ones(480)
REF = np.zeros(5_544_000)
REC = np.zeros(720_000)


def snr(presence=OK, activity=OK, measured=OK, fs=48000.0):
    return audiomeas.transient_snr(presence, activity, measured, fs)


CASES = [
    # (call, exception, words the message must contain)
    (lambda: audiomeas.align(np.ones((4, 2)), OK, 48000), ValueError, ["reference", "one-dimensional"]),
    (lambda: audiomeas.align(OK, 5.0, 48000), ValueError, ["recording", "one-dimensional"]),
    (lambda: audiomeas.align([], OK, 48000), ValueError, ["reference", "empty"]),
    (lambda: audiomeas.align(OK, [], 48000), ValueError, ["recording", "empty"]),
    (lambda: audiomeas.align(OK, OK, 0), ValueError, ["sample_rate", "positive"]),
    (lambda: audiomeas.align(OK, OK, -48000), ValueError, ["sample_rate"]),
    (lambda: audiomeas.align(OK, OK, math.nan), ValueError, ["sample_rate", "finite"]),
    (lambda: audiomeas.align(OK, OK, math.inf), ValueError, ["sample_rate", "finite"]),
    (lambda: audiomeas.align(OK, OK, "fast"), TypeError, ["sample_rate"]),
    (lambda: audiomeas.align(OK + 1j, OK, 48000), TypeError, ["reference", "complex"]),
    (lambda: audiomeas.align(OK, ["a", "b"], 48000), TypeError, ["recording"]),
    (lambda: snr(presence=np.ones((480, 1))), ValueError, ["presence", "one-dimensional"]),
    (lambda: snr(activity=np.ones((2, 240))), ValueError, ["activity", "one-dimensional"]),
    (lambda: snr(measured=[[1.0]]), ValueError, ["measured", "one-dimensional"]),
    (lambda: snr(fs=math.nan), ValueError, ["sample_rate"]),
    (lambda: snr(fs=199.9), ValueError, ["200 Hz"]),
    (lambda: snr(presence=np.ones(239)), ValueError, ["presence", "239 samples", "240 samples", "0.005 s"]),
    (lambda: snr(activity=np.ones(479)), ValueError, ["activity", "479", "480"]),
    (lambda: snr(measured=np.ones(300)), ValueError, ["measured", "300", "480"]),
    (lambda: audiomeas.attack_release(REF[:-1], REC), ValueError,
     ["reference", "5543999", "5544000 samples", "115.5 s"]),
    (lambda: audiomeas.attack_release(REF, REC[:-1]), ValueError,
     ["recording", "719999", "720000 samples", "15 s"]),
    (lambda: audiomeas.attack_release(REF, REC, sample_rate=44100), ValueError,
     ["sample_rate", "48000"]),
    (lambda: audiomeas.attack_release(REF.reshape(-1, 1), REC), ValueError,
     ["reference", "one-dimensional"]),
]


@pytest.mark.parametrize("call, error, words", CASES)
def test_bad_arguments_raise_before_any_library_call(monkeypatch, call, error, words):
    def no_library(*args, **kwargs):
        raise AssertionError("a library was reached with a bad argument")

    monkeypatch.setattr(_measure._loader, "library", no_library)
    with pytest.raises(error) as info:
        call()
    for word in words:
        assert word in str(info.value)


def test_contiguous_float64_input_is_not_copied():
    x = np.arange(10.0)
    assert _measure.as_signal(x, "x") is x
    strided = np.arange(20.0)[::2]
    converted = _measure.as_signal(strided, "x")
    assert converted.flags.c_contiguous and converted.dtype == np.float64
    np.testing.assert_array_equal(converted, strided)


def test_shortest_accepted_inputs_reach_the_library():
    # One 5 ms frame at 200 Hz is a single sample; one reference sample.
    assert audiomeas.transient_snr([1.0], [1.0], [1.0], 200.0).warning is True
    r = audiomeas.align([2.0], [3.0], 1.0)
    assert (r.aligned.tolist(), r.fine_lag) == ([3.0], 0)

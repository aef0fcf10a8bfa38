"""Argument checks: readable exceptions naming the argument, before any
measurement.

Python type problems raise in the package before any library call; what a
measurement cannot take (lengths, rates, non-finite samples) is refused by
the host layer before any library code runs, as ValueError with its message.
Fails if a bad argument reaches a library (where it would give NaN, a
silent -120 dB or a read past an array) or if a message omits what the
caller needs to fix it.
"""

import math

import numpy as np
import pytest

import audiomeas
import audiomeas.generate
from audiomeas import _host, _measure

OK = np.ones(480)
REF = np.zeros(5_544_000)
REC = np.zeros(720_000)


def snr(presence=OK, activity=OK, measured=OK, fs=48000.0):
    return audiomeas.transient_snr(presence, activity, measured, fs)


def with_value(x, index, value):
    y = np.array(x, dtype=float)
    y[index] = value
    return y


PY, HOST = "python", "host"
CASES = [
    # (where it is refused, call, exception, words the message must contain)
    (PY, lambda: audiomeas.align(np.ones((4, 2)), OK, 48000), ValueError, ["reference", "one-dimensional"]),
    (PY, lambda: audiomeas.align(OK, 5.0, 48000), ValueError, ["recording", "one-dimensional"]),
    (PY, lambda: audiomeas.align(OK, OK, "fast"), TypeError, ["sample_rate"]),
    (PY, lambda: audiomeas.align(OK + 1j, OK, 48000), TypeError, ["reference", "complex"]),
    (PY, lambda: audiomeas.align(OK, ["a", "b"], 48000), TypeError, ["recording"]),
    (PY, lambda: snr(presence=np.ones((480, 1))), ValueError, ["presence", "one-dimensional"]),
    (PY, lambda: snr(activity=np.ones((2, 240))), ValueError, ["activity", "one-dimensional"]),
    (PY, lambda: snr(measured=[[1.0]]), ValueError, ["measured", "one-dimensional"]),
    (PY, lambda: audiomeas.attack_release(REF.reshape(-1, 1), REC), ValueError,
     ["reference", "one-dimensional"]),
    (HOST, lambda: audiomeas.align([], OK, 48000), ValueError, ["reference", "0 samples"]),
    (HOST, lambda: audiomeas.align(OK, [], 48000), ValueError, ["recording", "0 samples"]),
    (HOST, lambda: audiomeas.align(OK, OK, 0), ValueError, ["sample_rate", "positive"]),
    (HOST, lambda: audiomeas.align(OK, OK, -48000), ValueError, ["sample_rate"]),
    (HOST, lambda: audiomeas.align(OK, OK, math.nan), ValueError, ["sample_rate", "finite"]),
    (HOST, lambda: audiomeas.align(OK, OK, math.inf), ValueError, ["sample_rate", "finite"]),
    (HOST, lambda: audiomeas.align(with_value(OK, 1, math.nan), OK, 48000), ValueError,
     ["reference", "sample 1 ", "NaN"]),
    (HOST, lambda: audiomeas.align(OK, with_value(OK, 479, -math.inf), 48000), ValueError,
     ["recording", "sample 479 ", "infinite"]),
    (HOST, lambda: snr(fs=math.nan), ValueError, ["sample_rate"]),
    (HOST, lambda: snr(fs=199.9), ValueError, ["200 Hz"]),
    (HOST, lambda: snr(presence=np.ones(239)), ValueError,
     ["presence", "239 samples", "240 samples", "0.005 s"]),
    (HOST, lambda: snr(activity=np.ones(479)), ValueError, ["activity", "479", "480"]),
    (HOST, lambda: snr(measured=np.ones(300)), ValueError, ["measured", "300", "480"]),
    (HOST, lambda: snr(measured=with_value(OK, 7, math.nan)), ValueError, ["measured", "sample 7 ", "NaN"]),
    (HOST, lambda: audiomeas.attack_release(REF[:-1], REC), ValueError,
     ["reference", "5543999", "5544000 samples", "115.500 s"]),
    # The default pad of 4800 zeros counts towards the 15 s alignment part.
    (HOST, lambda: audiomeas.attack_release(REF, REC[:715_199]), ValueError,
     ["recording", "715199", "715200 samples"]),
    (HOST, lambda: audiomeas.attack_release(REF, REC[:-1], pad_samples=0), ValueError,
     ["recording", "719999", "720000 samples", "15.000 s"]),
    (HOST, lambda: audiomeas.attack_release(REF, REC, pad_samples=240_001), ValueError,
     ["pad_samples", "240001"]),
    (HOST, lambda: audiomeas.attack_release(REF, REC, sample_rate=44100, resample=False), ValueError,
     ["sample_rate", "48000"]),
    (HOST, lambda: audiomeas.align(OK, OK, (48000, 44100), resample=False), ValueError,
     ["recording", "44100 Hz differs from 48000 Hz"]),
    (PY, lambda: audiomeas.align(OK, OK, (48000,)), ValueError, ["sample_rate", "1 rates for 2"]),
    (HOST, lambda: audiomeas.attack_release(with_value(REF, 5_000_000, math.nan), REC), ValueError,
     ["reference", "sample 5000000 ", "NaN"]),
    # Arrays that convert to float64 but hold no samples: text, dates, objects;
    # a masked array's mask would be dropped without a word.
    (PY, lambda: audiomeas.align(np.array(["1.0", "2.0"]), OK, 48000), TypeError, ["reference", "<U3"]),
    (PY, lambda: audiomeas.align(OK, np.arange(480).astype("datetime64[s]"), 48000), TypeError,
     ["recording", "datetime64"]),
    (PY, lambda: snr(measured=np.ma.masked_less(OK, 2.0)), TypeError, ["measured", "masked"]),
    # A window too short to align on: 0 (none) or at least 1 s, whatever the rate.
    (HOST, lambda: audiomeas.align(OK, OK, 48000, window_s=1e-9), ValueError,
     ["window_s", "1e-09 s", "at least 1 s"]),
    (HOST, lambda: audiomeas.align(OK, OK, 1e300), ValueError, ["sample_rate", "above"]),
    (HOST, lambda: audiomeas.attack_release(REF, REC, pad_samples=2 ** 70), ValueError, ["pad_samples"]),
    # A thread count is a whole number 0 .. 1024 (0: the machine's cores).
    (HOST, lambda: audiomeas.align(OK, OK, 48000, threads=-1), ValueError, ["threads", "-1"]),
    (HOST, lambda: audiomeas.align(OK, OK, 48000, threads=1025), ValueError, ["threads", "1025"]),
    (PY, lambda: audiomeas.align(OK, OK, 48000, threads=1.5), ValueError, ["threads", "whole number"]),
    (PY, lambda: audiomeas.align(OK, OK, 48000, threads=True), ValueError, ["threads", "whole number"]),
    # One NaN held the compressor's detector and passed the rest through ungained.
    (HOST, lambda: audiomeas.generate.reference_compressor(
        with_value(OK, 5, math.nan), 48000, threshold_db=-20, ratio=4, attack_s=0.5, release_s=2),
     ValueError, ["signal", "sample 5 ", "NaN"]),
]


@pytest.mark.parametrize("where, call, error, words", CASES)
def test_bad_arguments_raise_before_any_measurement(monkeypatch, where, call, error, words):
    if where == PY:
        def no_library(*args, **kwargs):
            raise AssertionError("the host layer was reached with a bad argument")

        monkeypatch.setattr(_host, "call", no_library)
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
    assert (r.aligned.tolist(), r.total_delay_samples, r.fine_lag_samples) == ([3.0], 0, 0)


@pytest.mark.parametrize("dtype", [np.float32, np.int16, np.uint8, bool])
def test_real_and_integer_arrays_are_samples(dtype):
    x = np.array([0, 1, 1, 0, 1], dtype=dtype)
    a = _measure.as_signal(x, "x")
    assert a.dtype == np.float64 and a.tolist() == x.astype(np.float64).tolist()


def test_a_window_of_one_second_is_taken():
    x = np.sin(np.arange(96_000) * 0.01) * np.linspace(0, 1, 96_000)
    r = audiomeas.align(x, x, 48000, window_s=1.0)
    assert r.window_samples == 48_000 and r.total_delay_samples == 0


def test_a_flac_without_its_length_loads_whole(tmp_path):
    soundfile = pytest.importorskip("soundfile")
    from audiomeas import io

    x = (np.arange(300_000) % 2000 - 1000).astype(np.int16)
    path = tmp_path / "stream.flac"
    soundfile.write(path, x, 48000, subtype="PCM_16")
    data = bytearray(path.read_bytes())
    # STREAMINFO after "fLaC" and its 4-byte header: the 36-bit total sample
    # count ends 8 bytes in at offset 18; 0 stands for "not known", as a
    # stream written on the fly has it. The MD5 after it is zeroed alike.
    assert data[:4] == b"fLaC" and data[4] & 0x7F == 0
    data[21] &= 0xF0
    data[22:26] = bytes(4)
    data[26:42] = bytes(16)
    path.write_bytes(bytes(data))
    loaded = io.load(path, scale="int16")
    assert loaded.sample_rate == 48000
    np.testing.assert_array_equal(loaded.samples, x.astype(np.float64))


def test_any_thread_count_gives_the_same_report():
    rng = np.random.default_rng(3)
    reference = rng.standard_normal(96_000) * 0.1  # long enough that its transforms are split
    recording = np.concatenate([np.zeros(123), reference[:-123]]) * 0.5
    reports = [audiomeas.align(reference, recording, 48000, threads=t) for t in (1, 2, 0)]
    for r in reports[1:]:
        assert np.array_equal(r.aligned, reports[0].aligned)
        assert np.array_equal(r.correlation.magnitude, reports[0].correlation.magnitude)
        assert r.total_delay_samples == reports[0].total_delay_samples == 123

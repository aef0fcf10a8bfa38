"""align: the signal-matching report against physical truths and the C call.

Fails if the wrapper loses or reorders samples on the way in or out, mixes
up the delay's sign or its split between the stages, drops the failure flag,
or if the aligned recording is not the recording moved by the total delay.
"""

import numpy as np
import pytest

import audiomeas

FS = 48000.0


def noise(n, seed=1, scale=1000.0):
    return scale * np.random.default_rng(seed).standard_normal(n)


def moved(recording, n, delay):
    """The recording on an n-sample time line, ``delay`` samples earlier."""
    out = np.zeros(n)
    k = np.arange(n)
    src = k + int(delay)
    keep = (src >= 0) & (src < len(recording))
    out[keep] = np.asarray(recording, dtype=float)[src[keep]]
    return out


@pytest.mark.parametrize(
    "delay, fine_lag",
    [(0, 0), (1, 1), (37, 37),
     # 239 leading zeros leave the recording's first block silent: the coarse
     # stage advances it by one block and the fine stage moves it back by 1.
     (239, -1),
     # 0.3 s of silence: the coarse stage does nearly all of the work.
     (14400 + 57, 57)],
)
def test_recovers_a_known_delay(delay, fine_lag):
    n = 96000
    ref = noise(n)
    rec = np.concatenate([np.zeros(delay), ref])  # longer than the reference
    r = audiomeas.align(ref, rec, FS)
    assert (r.total_delay_samples, r.fine_lag_samples, r.alignment_failed) == (delay, fine_lag, False)
    assert r.coarse_shift_samples == fine_lag - delay
    assert r.total_delay_ms == pytest.approx(delay / 48.0) and r.failed_test is None and r.reason is None
    # Every recording sample comes back: the reference, whole.
    assert r.aligned.shape == (n,) and r.aligned.dtype == np.float64
    np.testing.assert_array_equal(r.aligned, ref)
    # The library's own array loses what the coarse move pushed out.
    lib = audiomeas.align(ref, rec, FS, library_output=True).aligned
    lead = max(0, -fine_lag)
    np.testing.assert_array_equal(lib[lead : n - delay], ref[lead : n - delay])
    assert not lib[:lead].any()
    if fine_lag > 0:
        assert not lib[n - fine_lag :].any()


def test_unrelated_signals_are_rejected():
    r = audiomeas.align(noise(48000, seed=3), noise(48000, seed=4), FS)
    assert (r.alignment_failed, r.failed_test) == (True, "peak_distinctness")


@pytest.mark.parametrize(
    "n, m, fs, lead",
    [(1, 1, FS, 5), (500, 300, FS, 5), (300, 500, 44100.0, 5), (50000, 49000, FS, 5),
     (64, 64, 100.0, 5),
     # The coarse stage moves this one: its library array loses samples.
     (96000, 96000 + 14457, FS, 14457)],
)
def test_matches_the_c_call_bit_for_bit(raw, n, m, fs, lead):
    ref = noise(n, seed=n)
    rec = np.concatenate([np.zeros(lead), noise(m, seed=n)])[:m]
    aligned, lag, failed = raw.synkro(ref, rec, fs)
    r = audiomeas.align(ref, rec, fs, library_output=True)
    np.testing.assert_array_equal(r.aligned, aligned)
    assert np.float64(r.fine_lag_samples).tobytes() == np.float64(lag).tobytes()
    assert r.alignment_failed == (failed == 1.0)
    d = audiomeas.align(ref, rec, fs)
    assert d.total_delay_samples == lag - d.coarse_shift_samples
    np.testing.assert_array_equal(d.aligned, moved(rec, n, d.total_delay_samples))


def test_inputs_are_read_only_and_array_likes_agree():
    ref = noise(2000, seed=6)
    rec = np.round(noise(2000, seed=6))
    ref_before, rec_before = ref.copy(), rec.copy()
    base = audiomeas.align(ref, rec, FS, details=False)
    np.testing.assert_array_equal(ref, ref_before)
    np.testing.assert_array_equal(rec, rec_before)
    strided = np.repeat(ref, 2)[::2]  # not contiguous
    for args in [
        (list(ref), rec.astype(np.int64), int(FS)),
        (strided, rec.astype(np.float32), np.float32(FS)),
        (tuple(ref), list(rec.astype(int)), FS),
    ]:
        r = audiomeas.align(*args, details=False)
        np.testing.assert_array_equal(r.aligned, base.aligned)
        assert r == base  # every report field; the samples are compared above


def test_report_is_frozen_and_readable():
    r = audiomeas.align(noise(100), noise(100), FS)
    with pytest.raises(AttributeError):
        r.total_delay_samples = 3
    assert type(r).__name__ == "AlignReport" and isinstance(r.alignment_failed, bool)
    assert "aligned=" not in repr(r)  # the samples stay out of the repr
    assert [t.test for t in r.tests] == ["coarse_shift", "fine_lag", "peak_distinctness"]

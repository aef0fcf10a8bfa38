"""align: the signal-matching wrapper against physical truths and the C call.

Fails if the wrapper loses or reorders samples on the way in or out, mixes
up the lag's sign, drops the failure flag, or mishandles an output block
that the library had to replace.
"""

import numpy as np
import pytest

import audiomeas
from audiomeas import _measure

FS = 48000.0


def noise(n, seed=1, scale=1000.0):
    return scale * np.random.default_rng(seed).standard_normal(n)


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
    assert (r.fine_lag, r.failed) == (fine_lag, False)
    assert r.aligned.shape == (n,) and r.aligned.dtype == np.float64
    # Whatever the split between the stages, the reference comes back
    # wherever a recording sample maps; the fine stage's move leaves zeros.
    lead = max(0, -fine_lag)
    np.testing.assert_array_equal(r.aligned[lead : n - delay], ref[lead : n - delay])
    assert not r.aligned[:lead].any()
    if fine_lag > 0:
        assert not r.aligned[n - fine_lag :].any()


def test_unrelated_signals_are_rejected():
    r = audiomeas.align(noise(48000, seed=3), noise(48000, seed=4), FS)
    assert r.failed is True


@pytest.mark.parametrize(
    "n, m, fs",
    [(1, 1, FS), (500, 300, FS), (300, 500, 44100.0), (50000, 49000, FS), (64, 64, 100.0)],
)
def test_matches_the_c_call_bit_for_bit(raw, n, m, fs):
    ref = noise(n, seed=n)
    rec = np.concatenate([np.zeros(5), noise(m, seed=n)])[:m]
    aligned, lag, failed = raw.synkro(ref, rec, fs)
    r = audiomeas.align(ref, rec, fs)
    np.testing.assert_array_equal(r.aligned, aligned)
    assert r.fine_lag == lag and r.failed == (failed == 1.0)


def test_a_replaced_output_block_is_copied_out(raw):
    # An output block shorter than the reference makes the library malloc one
    # of its own; the wrapper copies it out and frees it (the memory test
    # repeats this).
    ref = noise(3000, seed=5)
    rec = np.concatenate([np.zeros(11), ref[:-11]])
    expected = audiomeas.align(ref, rec, FS)
    for block in (np.empty(0), np.empty(1), np.empty(2999)):
        r = _measure._synkro_call(ref, rec, FS, block)
        np.testing.assert_array_equal(r.aligned, expected.aligned)
        assert (r.fine_lag, r.failed) == (expected.fine_lag, expected.failed)
        assert not np.shares_memory(r.aligned, block)


def test_inputs_are_read_only_and_array_likes_agree():
    ref = noise(2000, seed=6)
    rec = np.round(noise(2000, seed=6))
    ref_before, rec_before = ref.copy(), rec.copy()
    base = audiomeas.align(ref, rec, FS)
    np.testing.assert_array_equal(ref, ref_before)
    np.testing.assert_array_equal(rec, rec_before)
    strided = np.repeat(ref, 2)[::2]  # not contiguous
    for args in [
        (list(ref), rec.astype(np.int64), int(FS)),
        (strided, rec.astype(np.float32), np.float32(FS)),
        (tuple(ref), list(rec.astype(int)), FS),
    ]:
        r = audiomeas.align(*args)
        np.testing.assert_array_equal(r.aligned, base.aligned)
        assert (r.fine_lag, r.failed) == (base.fine_lag, base.failed)


def test_result_is_frozen_and_readable():
    r = audiomeas.align(noise(100), noise(100), FS)
    with pytest.raises(AttributeError):
        r.fine_lag = 3
    assert repr(r) == f"AlignResult(aligned=<100 samples>, fine_lag={r.fine_lag}, failed={r.failed})"
    assert isinstance(r.fine_lag, int) and isinstance(r.failed, bool)

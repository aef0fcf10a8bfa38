"""Repeated calls leak nothing: the process's resident memory stays flat.

Each loop would grow by tens of MB if a call kept its result (report,
samples), the library's output block or any container.
"""

import numpy as np
import pytest

import audiomeas
from helpers import resident_bytes, transient_case

CALLS = 3000
SLACK = 4 * 2**20  # allocator noise; a leak of one 2000-sample block a call is 48 MB


def grows_by(call):
    for _ in range(200):  # let the allocator and the caches settle
        call()
    before = resident_bytes()
    for _ in range(CALLS):
        call()
    return resident_bytes() - before


@pytest.fixture(scope="module")
def signals():
    rng = np.random.default_rng(11)
    ref = 1000.0 * rng.standard_normal(2000)
    return ref, np.concatenate([np.zeros(17), ref])


def test_align_keeps_memory_flat(signals):
    ref, rec = signals
    assert grows_by(lambda: audiomeas.align(ref, rec, 48000.0)) < SLACK


def test_library_output_and_refusals_keep_memory_flat(signals):
    ref, rec = signals
    assert grows_by(lambda: audiomeas.align(ref, rec, 48000.0, library_output=True,
                                              details=False)) < SLACK
    bad = np.concatenate([rec, [np.nan]])

    def refused():
        with pytest.raises(ValueError):
            audiomeas.align(ref, bad, 48000.0)

    assert grows_by(refused) < SLACK


def test_transient_snr_keeps_memory_flat():
    p, a, m = transient_case(48000.0, frames=40, burst=(10, 30))
    assert grows_by(lambda: audiomeas.transient_snr(p, a, m, 48000.0)) < SLACK

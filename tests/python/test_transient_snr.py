"""transient_snr: known levels recovered, and the C call's results.

Fails if the wrapper swaps the three signals or the two levels, passes the
sample rate wrongly, maps the warning flag wrongly or names the wrong check.
"""

import math

import numpy as np
import pytest

import audiomeas
from helpers import transient_case


def db(amplitude):
    return 20.0 * math.log10(amplitude / 32767.0)


@pytest.mark.parametrize("fs", [48000.0, 44100.0, 8000.0])
def test_recovers_known_levels(fs):
    presence, activity, measured = transient_case(fs)
    r = audiomeas.transient_snr(presence, activity, measured, fs)
    assert r.active_level_db == pytest.approx(db(1000.0), abs=1e-9)
    assert r.level_difference_db == pytest.approx(db(100.0) - db(1000.0), abs=1e-9)
    assert r.warning is False


@pytest.mark.parametrize(
    "burst, fired",
    [((100, 105), ("active_too_short",)),  # 25 ms active: shorter than 50 ms
     ((100, 110), ()),  # exactly 10 frames
     ((100, 2200), ("active_too_long",))],  # 10.5 s active: longer than 10 s
)
def test_warning_on_active_part_duration(burst, fired):
    presence, activity, measured = transient_case(48000.0, frames=2400, burst=burst)
    r = audiomeas.transient_snr(presence, activity, measured, 48000.0)
    assert (r.warning, tuple(r.warnings_fired)) == (bool(fired), fired)
    assert r.active_frames == burst[1] - burst[0]


def test_signals_keep_their_roles(raw):
    # Each permutation of the roles gives a different answer; the wrapper
    # must agree with the C call on every one of them.
    signals = transient_case(48000.0)
    outcomes = set()
    for order in [(0, 1, 2), (2, 1, 0), (1, 0, 2), (0, 2, 1)]:
        p, a, m = (signals[i] for i in order)
        r = audiomeas.transient_snr(p, a, m, 48000.0)
        d, level, w = raw.burstra(p, a, m, 48000.0)
        assert (r.level_difference_db, r.active_level_db, r.warning) == (d, level, w == 1.0)
        outcomes.add((r.active_level_db, r.level_difference_db))
    assert len(outcomes) == 4


def test_matches_the_c_call_on_noise(raw):
    rng = np.random.default_rng(7)
    n = 48000 + 123  # a partial frame at the end counts for the remainder
    p = 3000.0 * rng.standard_normal(n)
    a = np.where(np.arange(n) > 20000, 9000.0, 0.0) * rng.standard_normal(n)
    m = 500.0 * rng.standard_normal(n) + a
    r = audiomeas.transient_snr(p, a, m, 48000.0)
    d, level, w = raw.burstra(p, a, m, 48000.0)
    assert (r.level_difference_db, r.active_level_db, r.warning) == (d, level, w == 1.0)


def test_longer_activity_and_measured_are_accepted(raw):
    presence, activity, measured = transient_case(48000.0)
    extra = np.concatenate([measured, 50.0 * np.ones(100)])
    r = audiomeas.transient_snr(presence, np.concatenate([activity, np.ones(7)]), extra, 48000.0)
    d, level, _ = raw.burstra(presence, activity, extra, 48000.0)
    assert (r.level_difference_db, r.active_level_db) == (d, level)


def test_silence_gives_the_floor_level():
    z = np.zeros(4800)
    r = audiomeas.transient_snr(z, z, z, 48000.0)
    assert (r.active_level_db, r.level_difference_db) == (-120.0, 0.0)
    assert r.warning is True and r.noise_power is None  # no noise frame: 0 / 0
    assert any("no noise frame" in note for note in r.notes)

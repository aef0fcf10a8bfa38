"""The attack/release stimulus and the reference compressor, through the
host layer's C exports."""

import re

import numpy as np
import pytest

from audiomeas import generate

RATE = 48000
LENGTH = 5_544_000
UP, DOWN = 40 * RATE, 65 * RATE


# The default stimulus's first 16-bit values: fixed by the generator's
# integer noise source and portable arithmetic, the same on every machine.
FIRST_SAMPLES_SEED_1 = [-276, 34, 533, -421, 1061, 2]


def level_db(x):
    return 10.0 * np.log10(np.mean(np.square(x)))


@pytest.fixture(scope="module")
def stimulus():
    return generate.attack_release()


# (arguments, base level, step, steadiness in dB of each 5 s stretch)
STIMULI = [
    ({}, -30.0, 20.0, 0.05),
    ({"level_db": -50.0, "step_db": 6.0, "seed": 7}, -50.0, 6.0, 0.05),
    ({"colour": "pink", "level_db": -40.0}, -40.0, 20.0, 0.3),
    ({"colour": "pink", "level_db": -75.0, "step_db": 41.5, "seed": 2**64 - 1}, -75.0, 41.5, 0.3),
]


@pytest.mark.parametrize("kwargs, base, step, steady", STIMULI)
def test_stimulus_levels_length_and_headroom(kwargs, base, step, steady):
    x = generate.attack_release(**kwargs)
    assert x.shape == (LENGTH,) and x.dtype == np.float64
    for start, end, want in ((0, UP, base), (UP, DOWN, base + step), (DOWN, LENGTH, base)):
        assert level_db(x[start:end]) == pytest.approx(want, abs=0.1)
        # Steady inside each stretch, and the steps exactly at 40 s and 65 s.
        pieces = [x[a:a + 5 * RATE] for a in range(start, end - 5 * RATE + 1, 5 * RATE)]
        assert max(abs(level_db(p) - want) for p in pieces) < steady
    assert np.all(np.abs(x) < 1.0)
    grid = x * 32768.0
    np.testing.assert_array_equal(grid, np.round(grid))


def test_stimulus_is_fixed_by_its_seed(stimulus):
    a = generate.attack_release(seed=3)
    np.testing.assert_array_equal(a, generate.attack_release(seed=3))
    assert not np.array_equal(a, generate.attack_release(seed=4))
    assert not np.array_equal(a, generate.attack_release(seed=3, colour="pink", level_db=-40))
    first = (stimulus[:6] * 32768).astype(int).tolist()
    assert first == FIRST_SAMPLES_SEED_1


BAD_OPTIONS = [
    ({"colour": "pink"}, r"or lower"),  # the default level clips pink noise
    ({"level_db": -3.0}, r"clip"),
    ({"step_db": 0.0}, r"step"),
    ({"step_db": 61.0}, r"step"),
    ({"level_db": -81.0}, r"base level"),
    ({"level_db": 0.0}, r"base level"),
    ({"level_db": float("inf")}, r"finite"),
    ({"step_db": float("nan")}, r"finite"),
    ({"colour": "blue"}, r"colour"),
    ({"seed": -1}, r"seed"),
    ({"seed": 2**64}, r"seed"),
]


@pytest.mark.parametrize("kwargs, words", BAD_OPTIONS)
def test_stimulus_refuses_bad_options(kwargs, words):
    with pytest.raises(ValueError, match=words):
        generate.attack_release(**kwargs)


@pytest.mark.parametrize("colour, step", [("pink", 20.0), ("white", 40.0)])
def test_clipping_message_gives_a_level_that_fits(colour, step):
    with pytest.raises(ValueError) as refused:
        generate.attack_release(colour=colour, level_db=-20.0, step_db=step)
    fits = float(re.search(r"base level of (-?[0-9.]+) dBFS or lower", str(refused.value))[1])
    x = generate.attack_release(colour=colour, level_db=fits, step_db=step)
    # Close to full scale, without reaching it.
    assert -0.2 < 20.0 * np.log10(np.max(np.abs(x))) < 0.0


def test_compressor_with_ratio_one_passes_the_signal(stimulus):
    x = stimulus
    y = generate.reference_compressor(x, RATE, threshold_db=-40.0, ratio=1.0, attack_s=0.01,
                                      release_s=0.1)
    np.testing.assert_array_equal(x, y)


# (threshold dBFS, ratio): the loud stretch (-10 dBFS) once settled is
# reduced by (1 - 1/ratio) dB per dB over the threshold; the quiet one
# (-30 dBFS) only when it is over the threshold too.
CURVES = [(-20.0, 2.0), (-20.0, 4.0), (-40.0, 3.0), (0.0, 10.0)]


@pytest.mark.parametrize("threshold, ratio", CURVES)
def test_compressor_static_curve(stimulus, threshold, ratio):
    x = stimulus
    y = generate.reference_compressor(x, RATE, threshold_db=threshold, ratio=ratio,
                                      attack_s=0.05, release_s=0.2)
    for start, end, level in ((30 * RATE, UP, -30.0), (55 * RATE, DOWN, -10.0)):
        want = level - max(0.0, (1.0 - 1.0 / ratio) * (level - threshold))
        assert level_db(y[start:end]) == pytest.approx(want, abs=0.3)


@pytest.mark.parametrize("kwargs", [{"ratio": 0.5}, {"attack_s": -1.0},
                                    {"release_s": float("nan")}])
def test_compressor_refuses_bad_parameters(kwargs):
    params = dict(threshold_db=-20.0, ratio=2.0, attack_s=0.1, release_s=1.0) | kwargs
    with pytest.raises(ValueError):
        generate.reference_compressor(np.zeros(100), RATE, **params)

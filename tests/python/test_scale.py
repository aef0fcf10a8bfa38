"""One sample scale from file to report: io.load in a measurement's scale
gives the audiomeas tool's report on the same files bit for bit; samples
whose peak says they are on the other scale warn; a rate is a real number.

Fails if load reads a measurement's files in another scale than the tool
(a 16-bit align, a full-scale-1.0 transient), if a misscaled signal passes
silently or a well-scaled one warns, or if a rate given as text or a bool
is taken.
"""

import json
import subprocess
import warnings

import numpy as np
import pytest

import audiomeas
from audiomeas import _host, _measure
from helpers import transient_case
from test_reports import FILE_KEYS, plain, tool

soundfile = pytest.importorskip("soundfile")

import audiomeas.generate  # noqa: E402
import audiomeas.io  # noqa: E402

FS = 48000


def _align_files(d):
    rng = np.random.default_rng(5)
    # A quiet lead-in (-60 dB re full scale 1.0, +30 dB on the 16-bit scale)
    # the onset test sees only on the wrong scale.
    quiet = rng.integers(-33, 34, 9600)
    ref = np.concatenate([quiet, rng.integers(-3000, 3000, 86400)])
    soundfile.write(d / "ref.wav", ref.astype(np.int16), FS, subtype="PCM_16")
    soundfile.write(d / "rec.wav", np.concatenate([np.zeros(613), ref]).astype(np.int16), FS,
                    subtype="PCM_16")
    return ["ref.wav", "rec.wav"]


def _transient_files(d):
    # Float files: the tool scales them by 32768 too.
    for name, x in zip(("presence", "activity", "measured"), transient_case(float(FS))):
        soundfile.write(d / f"{name}.wav", x / 32768.0, FS, subtype="FLOAT")
    return ["presence.wav", "activity.wav", "measured.wav"]


def _attack_release_files(d):
    stimulus = audiomeas.generate.attack_release()
    soundfile.write(d / "stimulus.wav", stimulus, FS, subtype="PCM_16")
    soundfile.write(d / "device.wav", np.concatenate([np.zeros(1500), 0.5 * stimulus]), FS,
                    subtype="PCM_16")
    return ["stimulus.wav", "device.wav"]


FILES = {"align": _align_files, "transient-snr": _transient_files,
         "attack-release": _attack_release_files}


def test_every_measurement_has_files():
    assert set(FILES) == set(_host.table()["measurements"])


@pytest.mark.parametrize("measurement", sorted(FILES))
def test_load_for_a_measurement_gives_the_tools_report(tmp_path, measurement):
    names = FILES[measurement](tmp_path)
    p = subprocess.run([str(tool()), measurement, *(str(tmp_path / n) for n in names), "--json",
                        "--details"], capture_output=True, text=True, timeout=600)
    assert p.returncode in (0, 1), p.stderr
    cli = {k: v for k, v in json.loads(p.stdout).items() if k not in FILE_KEYS}
    measure = getattr(audiomeas, _measure.python_name(measurement))
    rate = {"sample_rate": FS}
    with warnings.catch_warnings():
        warnings.simplefilter("error", audiomeas.io.ScaleWarning)
        loaded = [audiomeas.io.load(tmp_path / n, measurement) for n in names]
        assert all(a.sample_rate == FS for a in loaded)
        assert plain(measure(*(a.samples for a in loaded), **rate)) == cli
    # The other scale changes the report and warns: the comparison above can fail.
    other = {"unit": "int16", "int16": "unit"}[_host.table()["measurements"][measurement]["scale"]]
    with pytest.warns(audiomeas.io.ScaleWarning):
        wrong = measure(*(audiomeas.io.load(tmp_path / n, scale=other).samples for n in names),
                        **rate)
    assert plain(wrong) != cli


@pytest.mark.parametrize("measurement", sorted(FILES))
def test_load_names_a_measurement_either_way(tmp_path, measurement):
    codes = np.array([0, 1, -1, 32767, -32768], dtype=np.int16)
    soundfile.write(tmp_path / "pcm.wav", codes, FS, subtype="PCM_16")
    scale = _host.table()["measurements"][measurement]["scale"]
    by_scale = audiomeas.io.load(tmp_path / "pcm.wav", scale=scale).samples
    for name in (measurement, _measure.python_name(measurement)):
        np.testing.assert_array_equal(audiomeas.io.load(tmp_path / "pcm.wav", name).samples,
                                      by_scale)
    # Agreeing with the measurement is allowed, contradicting it is not.
    audiomeas.io.load(tmp_path / "pcm.wav", measurement, scale=scale)
    other = next(s for s in audiomeas.io.SCALES if s != scale)
    with pytest.raises(ValueError, match="contradicts"):
        audiomeas.io.load(tmp_path / "pcm.wav", measurement, scale=other)
    with pytest.raises(ValueError, match=measurement):  # the message lists the known ones
        audiomeas.io.load(tmp_path / "pcm.wav", "gain")


SINE = np.sin(np.arange(48000) * 0.05)
UNIT = 0.25 * (SINE / np.abs(SINE).max())  # a peak of 0.25 exactly
INT16 = np.round(8000.0 * SINE)

# (case, measurement, signals, the arguments that warn)
SCALE_CASES = [
    ("align on the 16-bit scale", "align", (INT16, UNIT), ("reference",)),
    ("align at the threshold", "align", (UNIT * 6.0, UNIT), ()),  # peak 1.5
    ("align just above it", "align", (UNIT * 6.0001, UNIT), ("reference",)),
    ("silent reference", "align", (np.zeros(48000), UNIT), ()),
    ("transient on full scale 1.0", "transient_snr",
     tuple(x / 32768.0 for x in transient_case(48000.0)), ("presence", "activity", "measured")),
    ("one code of dither", "transient_snr",
     (np.sign(INT16),) + transient_case(48000.0)[1:], ("presence",)),
]


@pytest.mark.parametrize("case, name, signals, warned", SCALE_CASES,
                         ids=[c[0] for c in SCALE_CASES])
def test_a_peak_on_the_wrong_scale_warns(case, name, signals, warned):
    measure = getattr(audiomeas, name)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        measure(*signals, 48000, details=False)
    scale_warnings = [w for w in caught if issubclass(w.category, audiomeas.io.ScaleWarning)]
    assert [str(w.message).split("'")[0] for w in scale_warnings] == list(warned)
    for w in scale_warnings:
        assert w.filename == __file__  # points at the caller's line
        assert f"audiomeas.io.load(path, '{name.replace('_', '-')}')" in str(w.message)


# (rate, accepted)
RATES = [
    (48000, True), (48000.0, True), (np.int64(48000), True), (np.float32(48000), True),
    (np.array(48000.0), True),
    ("48000", False), (b"48000", False), (True, False), (np.bool_(True), False),
    (None, False), (48000 + 0j, False),
]


@pytest.mark.parametrize("rate, accepted", RATES,
                         ids=[f"{type(r).__name__} {r!r}" for r, _ in RATES])
def test_a_rate_is_a_real_number(rate, accepted):
    if accepted:
        assert _measure.as_rate(rate) == 48000.0
        assert audiomeas.align(UNIT, UNIT, rate, details=False).sample_rate == 48000.0
        return
    with pytest.raises(TypeError, match="sample_rate"):
        audiomeas.align(UNIT, UNIT, rate)
    if rate is not None:  # None is an option's default
        with pytest.raises(TypeError, match="window_s"):
            audiomeas.align(UNIT, UNIT, 48000, window_s=rate)

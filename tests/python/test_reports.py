"""Reports end to end: the checks behind a warning, and the same fields and
values from Python as from the audiomeas tool's JSON (real speech, every
flag's reason, the aligned file: tests/cli/cli_test.py, group reports).

Fails if a warning names the wrong check, or if the package and the tool
disagree on a field, a value, a channel number or a sample scale.
"""

import dataclasses
import json
import subprocess

import numpy as np
import pytest

import audiomeas
from audiomeas import _loader
from helpers import transient_case

FS = 48000.0

BURSTRA_FLAGS = [
    # (case, gains of presence, activity, measured, fired checks)
    ("as made", (1, 1, 1), ()),
    ("activity above full scale", (1, 3, 1), ("activity_level",)),
    ("presence above full scale", (5, 1, 1), ("presence_level",)),
    ("active part above full scale", (1, 1, 40), ("active_level",)),
]


@pytest.mark.parametrize("case, gains, fired", BURSTRA_FLAGS)
def test_transient_warnings_name_their_checks(case, gains, fired):
    signals = [g * x for g, x in zip(gains, transient_case(FS))]
    r = audiomeas.transient_snr(*signals, FS, details=False)
    assert (r.warning, tuple(r.warnings_fired)) == (bool(fired), fired)
    assert tuple(c.test for c in r.checks if not c.passed) == fired
    assert all(c.value > c.limit for c in r.checks if not c.passed)


# ---- the same files through the tool and through the package ----

FILE_KEYS = {"reference", "recording", "presence", "activity", "measured", "channel",
             "aligned_output", "aligned_output_trusted"}


def tool():
    path = _loader.locate("audiomeas").resolve().parent.parent / "bin" / "audiomeas"
    if not path.is_file():
        pytest.skip(f"no audiomeas tool at {path} (beside the libraries)")
    return path


def plain(v):
    """A report as the JSON gives it: dicts, lists, None for null."""
    if dataclasses.is_dataclass(v):
        return {f.name: plain(getattr(v, f.name)) for f in dataclasses.fields(v)
                if f.name != "aligned"}
    if isinstance(v, np.ndarray):
        return [None if np.isnan(x) else float(x) for x in v]
    return [plain(x) for x in v] if isinstance(v, tuple) else v


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    sf = pytest.importorskip("soundfile")
    import audiomeas.generate

    d = tmp_path_factory.mktemp("files")
    ref = np.random.default_rng(9).integers(-3000, 3000, 96000) / 32768.0
    sf.write(d / "ref.wav", ref, 48000, subtype="PCM_16")
    # Channel 2 (counted from 1) holds the recording, 1260 samples late.
    late = np.concatenate([np.zeros(1260), ref])
    sf.write(d / "rec.wav", np.column_stack([np.zeros_like(late), late]), 48000, subtype="PCM_16")
    # Float files: 1.0 is 32768 on the 16-bit scale, in both hosts.
    for name, x in zip(("presence", "activity", "measured"), transient_case(FS)):
        sf.write(d / f"{name}.wav", x / 32768.0, 48000, subtype="FLOAT")
    stimulus = audiomeas.generate.attack_release()
    sf.write(d / "stimulus.wav", stimulus, 48000, subtype="PCM_16")
    sf.write(d / "device.wav", np.concatenate([np.zeros(2000), 0.5 * stimulus]), 48000,
             subtype="PCM_16")
    return d


def load(path, scale="int16", channel=None):
    return audiomeas.io.load(path, scale=scale, channel=channel).samples


SAME = [
    ("align", ["ref.wav", "rec.wav"], 2,
     lambda d: audiomeas.align(load(d / "ref.wav", "unit"), load(d / "rec.wav", "unit", 2), FS)),
    ("transient-snr", ["presence.wav", "activity.wav", "measured.wav"], None,
     lambda d: audiomeas.transient_snr(*(load(d / f) for f in ("presence.wav", "activity.wav",
                                                                "measured.wav")), FS)),
    ("attack-release", ["stimulus.wav", "device.wav"], None,
     lambda d: audiomeas.attack_release(load(d / "stimulus.wav"), load(d / "device.wav"))),
]


@pytest.mark.parametrize("measurement, names, channel, measure", SAME)
def test_tool_and_package_report_the_same(files, measurement, names, channel, measure):
    args = [str(tool()), measurement, *(str(files / n) for n in names), "--json", "--details"]
    p = subprocess.run(args + (["--channel", str(channel)] if channel else []),
                       capture_output=True, text=True, timeout=600)
    assert p.returncode in (0, 1), p.stderr
    cli = {k: v for k, v in json.loads(p.stdout).items() if k not in FILE_KEYS}
    py = plain(measure(files))
    assert list(py) == list(cli)
    for key in cli:
        assert py[key] == cli[key], key

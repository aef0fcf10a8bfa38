"""The overall verdict on pairs a careful engineer would judge at a glance:
through Python and through the tool on the same files, the verdict, the exit
code, the batch status and the words of the reason agree.

Fails if a no-match, a repeat or a drift reads as aligned, if a loopback or
a linear device reads as a measured compressor, or if the tool, Python and a
batch row disagree.
"""

import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
import soundfile

import audiomeas
from audiomeas import generate

FS = 48000
LIB_DIR = Path(os.environ.get("AUDIOMEAS_LIB_DIR") or Path(__file__).resolve().parents[2] / "build" / "lib")
CLI = Path(os.environ.get("AUDIOMEAS_CLI") or LIB_DIR.parent / "bin" / "audiomeas")
RNG = np.random.default_rng(22)


def noise(seconds, rng=RNG):
    return 0.25 * rng.standard_normal(int(seconds * FS))


def delayed(x, samples):
    return np.concatenate([np.zeros(samples), x])[: x.size]


def no_match():
    return noise(3), noise(3)


def repeat():
    # A 0.5 s pattern six times over, the recording 0.1 s late: the next
    # repeat correlates almost as well as the true delay.
    x = np.tile(noise(0.5), 6)
    return x, delayed(x, 4800)


def drift():
    # Noise below about 100 Hz (so that the match at one delay stays good),
    # the recording's clock 100 ppm fast: the delay changes by 96 samples over
    # 20 s. White noise would not match at all (flagged, not doubtful).
    window = np.hanning(481)
    x = 3.0 * np.convolve(noise(20), window / window.sum(), "same")
    t = np.arange(x.size) * (1.0 + 100e-6)
    return x, np.interp(t, np.arange(x.size), x)


def good():
    x = noise(3)
    return x, delayed(x, 1234)


# name, signals, verdict, exit code, words of a reason
ALIGN = [
    ("no match", no_match, "flagged", 1, "no match"),
    ("repeat", repeat, "doubtful", 1, "two nearly equal correlation peaks"),
    ("drift", drift, "doubtful", 1, "drifts by"),
    ("good", good, "aligned", 0, None),
]


@pytest.mark.parametrize("name, make, verdict, code, words", ALIGN, ids=[c[0] for c in ALIGN])
def test_align_verdicts_in_python_the_tool_and_a_batch(tmp_path, name, make, verdict, code, words):
    ref, rec = make()
    r = audiomeas.align(ref, rec, FS, details=False)
    assert r.verdict == verdict
    assert (words is None) == (len(r.verdict_reasons) == 0)
    if words:
        assert any(words in reason for reason in r.verdict_reasons), r.verdict_reasons
    for f, x in (("ref.wav", ref), ("rec.wav", rec)):
        soundfile.write(tmp_path / f, x, FS, subtype="FLOAT")
    done = subprocess.run([CLI, "align", tmp_path / "ref.wav", tmp_path / "rec.wav"], capture_output=True,
                          text=True)
    assert done.returncode == code, done.stderr
    assert done.stdout.startswith(f"verdict          {verdict if code == 0 else verdict.upper()}\n")
    if verdict == "flagged":  # no delay offered as a finding
        assert "total delay      none found" in done.stdout and "sub-sample" not in done.stdout
    (tmp_path / "m.csv").write_text("align,ref.wav,rec.wav\n")
    subprocess.run([CLI, "batch", tmp_path / "m.csv", "-o", tmp_path / "r.jsonl"], capture_output=True)
    row = json.loads((tmp_path / "r.jsonl").read_text().splitlines()[1])
    assert (row["status"], row["exit_code"]) == ({"aligned": "ok"}.get(verdict, verdict), code)


@pytest.fixture(scope="module")
def stimulus():
    return generate.attack_release() * 32768.0


# name, device, verdict, words of a reason
DEVICES = [
    ("loopback", lambda x: x, "doubtful", "no level-dependent gain seen"),
    ("linear, 6 dB down", lambda x: 0.5 * x, "doubtful", "no level-dependent gain seen"),
]


@pytest.mark.parametrize("name, device, verdict, words", DEVICES, ids=[c[0] for c in DEVICES])
def test_a_device_without_level_dependent_gain_is_no_measured_compressor(stimulus, name, device, verdict,
                                                                         words):
    r = audiomeas.attack_release(stimulus, device(stimulus), details=False)
    assert (r.alignment_failed, r.verdict) == (False, verdict)
    assert any(words in reason for reason in r.verdict_reasons), r.verdict_reasons

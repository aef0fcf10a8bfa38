#!/usr/bin/python3
"""`audiomeas generate` end to end: the files it writes, the same samples as
the Python package, and the stimulus through an independent compressor
(SoX's compand) measured by `audiomeas attack-release`.

Usage: generate_test.py TOOL LIB_DIR WORK_DIR
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import unittest
import wave

TOOL = LIB_DIR = WORK = None
CHECKOUT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

OK, USAGE = 0, 2
RATE, LENGTH = 48000, 5_544_000


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=600)


def path(name):
    return os.path.join(WORK, name)


def wav_format(file):
    """(format tag, channels, rate, bits, frames) from a WAV file's chunks."""
    with open(file, "rb") as f:
        data = f.read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE"
    at, fmt, frames = 12, None, None
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if cid == b"fmt ":
            tag, channels, rate, _, align, bits = struct.unpack("<HHIIHH", data[at + 8:at + 24])
            if tag == 0xFFFE:  # extensible: the sub-format's first two bytes
                tag = struct.unpack("<H", data[at + 32:at + 34])[0]
            fmt = (tag, channels, rate, bits, align)
        elif cid == b"data":
            frames = size // fmt[4]
        at += 8 + size + (size & 1)
    return fmt[:4] + (frames,)


def settle_times(report):
    """(attack, release) settle times of an attack-release report."""
    def field(new, old):
        return report[new] if new in report else report[old]
    return (field("attack_settle_time_s", "fall_settle_time_s"),
            field("release_settle_time_s", "rise_settle_time_s"))


class GenerateFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.default = path("stimulus.wav")
        r = run("generate", "attack-release", cls.default)
        assert r.returncode == OK, r.stderr

    def test_formats(self):
        # (extra options, format tag, bits): 1 is integer PCM, 3 float.
        cases = [([], 1, 16), (["--float"], 3, 32)]
        for extra, tag, bits in cases:
            with self.subTest(extra=extra):
                out = path("format%d.wav" % bits)
                r = run("generate", "attack-release", out, *extra)
                self.assertEqual(r.returncode, OK, r.stderr)
                self.assertEqual(wav_format(out), (tag, 1, RATE, bits, LENGTH))

    def test_seed_decides_the_samples(self):
        with open(self.default, "rb") as f:
            default = f.read()
        for seed, same in (("1", True), ("2", False), (str(2 ** 64 - 1), False)):
            with self.subTest(seed=seed):
                out = path("seed.wav")
                self.assertEqual(run("generate", "attack-release", out, "--seed", seed, "--force").returncode,
                                 OK)
                with open(out, "rb") as f:
                    self.assertEqual(f.read() == default, same)
        # Out of 0 .. 2^64 - 1, or not a whole number: refused, nothing written
        # (a seed past 2^64 - 1 was clamped to it).
        for seed in (str(2 ** 64), "1e3", "-1", "0x10", ""):
            with self.subTest(seed=seed):
                out = path("refused.wav")
                r = run("generate", "attack-release", out, "--seed", seed)
                self.assertEqual(r.returncode, USAGE, r.stderr)
                self.assertFalse(os.path.exists(out))

    def test_same_samples_as_the_python_package(self):
        # The file's 16-bit values are the package's samples times 32768,
        # for both colours.
        if LIB_DIR == "none":
            self.skipTest("the package cannot load this build's libraries")
        sys.path.insert(0, os.path.join(CHECKOUT, "python"))
        os.environ["AUDIOMEAS_LIB_DIR"] = LIB_DIR
        import numpy as np
        from audiomeas import generate

        for colour, level in (("white", "-30"), ("pink", "-40")):
            with self.subTest(colour=colour):
                out = path(f"{colour}.wav")
                r = run("generate", "attack-release", out, "--colour", colour, "--level", level,
                        "--seed", "5")
                self.assertEqual(r.returncode, OK, r.stderr)
                with wave.open(out, "rb") as w:
                    stored = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
                x = generate.attack_release(level_db=float(level), colour=colour, seed=5)
                np.testing.assert_array_equal(stored, x * 32768.0)

    def test_refusals_leave_no_file(self):
        cases = [
            (["--colour", "pink"], "or lower"),  # the default level clips pink noise
            (["--level", "-3"], "clip"),
            (["--step", "0"], "step"),
            (["--colour", "blue"], "colour"),
            (["--seed", "-1"], "seed"),
        ]
        for extra, words in cases:
            with self.subTest(extra=extra):
                out = path("refused.wav")
                r = run("generate", "attack-release", out, *extra)
                self.assertEqual(r.returncode, USAGE)
                self.assertIn(words, r.stderr)
                self.assertFalse(os.path.exists(out))


@unittest.skipIf(shutil.which("sox") is None, "needs sox (Debian package sox)")
class ThroughCompand(unittest.TestCase):
    """SoX's compand as the device: compression of 2:1 above -20 dB, its
    detector starting at the stimulus's level, no latency. Longer attack and
    decay settings must give longer settle times, none of them flagged."""

    # (attack s, decay s): wide apart, so that each settle time clearly grows.
    SETTINGS = [(0.001, 0.01), (0.3, 1.0), (2.0, 8.0)]

    def stimulus(self):
        stimulus = path("compand_stimulus.wav")
        if not os.path.exists(stimulus):
            self.assertEqual(run("generate", "attack-release", stimulus).returncode, OK)
        return stimulus

    def compand(self, attack, decay, extra_sox=()):
        out = path(f"compand_{attack}_{decay}.wav")
        subprocess.run(["sox", "-q", "-D", self.stimulus(), out, "compand", f"{attack},{decay}",
                        "6:-70,-70,-20,-20,0,-10", "0", "-30", *extra_sox],
                       check=True, timeout=300)
        return out

    def measure(self, attack, decay, extra_sox=()):
        r = run("attack-release", self.stimulus(), self.compand(attack, decay, extra_sox), "--json")
        self.assertIn(r.returncode, (0, 1), r.stderr)
        return json.loads(r.stdout)

    def test_settle_times_grow_with_the_settings(self):
        times = []
        for attack, decay in self.SETTINGS:
            with self.subTest(attack=attack, decay=decay):
                report = self.measure(attack, decay)
                self.assertFalse(report["alignment_failed"], report)
                times.append(settle_times(report))
        attacks, releases = zip(*times)
        self.assertTrue(all(a < b for a, b in zip(attacks, attacks[1:])), times)
        self.assertTrue(all(a < b for a, b in zip(releases, releases[1:])), times)

    def test_gain_step_tells_a_loopback_from_a_compressor(self):
        # compand's 2:1 above -20 dB takes about 5 dB off the 20 dB step to
        # -10 dBFS; a loopback passes it whole, and the text says so.
        stimulus = self.stimulus()
        for name, recording, low, high, note in (
            ("loopback", stimulus, -0.01, 0.01, True),
            ("compand 0.3,1", self.compand(0.3, 1.0), -8.0, -3.0, False),
        ):
            with self.subTest(name):
                report = json.loads(run("attack-release", stimulus, recording, "--json").stdout)
                g = report["gain_step"]
                for step in ("step_up", "step_down"):
                    self.assertAlmostEqual(g[step]["test_signal_step_db"], 20.0, delta=0.05)
                    self.assertTrue(low < g[step]["gain_change_db"] < high, g)
                self.assertEqual((g["note"] is not None, g["level_dependent_gain_seen"]), (note, not note))
                text = run("attack-release", stimulus, recording).stdout
                self.assertEqual("no level-dependent gain seen" in text, note, text)
                # A settle time counts from its segment's first window.
                for key, segment in (("attack_settle_time_s", "attack"), ("release_settle_time_s", "release")):
                    first, t = report[segment]["first_window_s"], report[key]
                    self.assertIn(f"{t:.1f} s from {first:.1f} s", text)
                    self.assertIn(f"settled at {first + t:.1f} s", text)


class TransientExample(unittest.TestCase):
    def test_worked_example(self):
        # A -20 dBFS burst over a -45 dBFS floor: the burst's level, and the
        # floor 25 dB under it.
        out = path("transient")
        shutil.rmtree(out, ignore_errors=True)  # an earlier run's files are not replaced
        self.assertEqual(run("generate", "transient-snr", out).returncode, OK)
        files = [os.path.join(out, f) for f in ("presence.wav", "activity.wav", "measured.wav")]
        r = run("transient-snr", *files, "--json")
        self.assertEqual(r.returncode, OK, r.stderr)
        report = json.loads(r.stdout)
        self.assertAlmostEqual(report["active_level_db"], -20.0, delta=0.3)
        self.assertAlmostEqual(report["level_difference_db"], -25.0, delta=0.3)
        self.assertFalse(report["warning"])


if __name__ == "__main__":
    TOOL, LIB_DIR, WORK = sys.argv[1:4]
    shutil.rmtree(WORK, ignore_errors=True)  # generate replaces no file
    os.makedirs(WORK, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)

#!/usr/bin/python3
"""Inputs at other sample rates, every channel in one run and long files
through a window, checked against signals that sox (an independent
converter) delays and converts.

Usage: rates_channels_test.py TOOL WORK_DIR [--no-memory]
  --no-memory  skip the peak-memory checks (sanitizer builds)
Standard library and sox only.
"""
import json
import os
import shutil
import subprocess
import sys
import unittest

TOOL = WORK = None
CHECK_MEMORY = True
OK, FLAGGED, USAGE, BAD_INPUT = 0, 1, 2, 3
MiB = 1024 * 1024


def run(*args, env=None):
    """(exit code, stdout, stderr, peak resident bytes) of the tool."""
    p = subprocess.Popen([TOOL, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    out, err = p.stdout.read(), p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, out, err.decode(), usage.ru_maxrss * 1024


def sox(*args):
    subprocess.run(["sox", "-V1", *args], check=True)


def path(name):
    return os.path.join(WORK, name)


def report(*args, code=OK):
    rc, out, err, _ = run(*args, "--json")
    assert rc == code, (args, rc, err)
    return json.loads(out)


class RatesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Noise below 8 kHz at 96 kHz: no rate here loses any of it, and a
        # fractional delay keeps the whole-sample match good.
        sox("-n", "-r", "96000", "-e", "float", "-b", "32", path("src.wav"),
            "synth", "6", "whitenoise", "vol", "0.3", "sinc", "-8k", "pad", "0.5")

    def delayed(self, name, samples_at_96k, rate):
        """src delayed by a whole number of 96 kHz samples, converted to rate."""
        sox(path("src.wav"), path("tmp.wav"), "pad", "%ds" % samples_at_96k)
        sox(path("tmp.wav"), "-r", str(rate), path(name), "rate", "-v")
        return path(name)

    def test_mixed_rates_align_to_a_fraction_of_a_sample(self):
        # (reference rate, recording rate, delay at 96 kHz): the delay in
        # reference samples is delay * reference rate / 96000.
        for ref_rate, rec_rate, delay96 in [(48000, 44100, 2401), (48000, 96000, 2401),
                                            (96000, 48000, 2400), (44100, 48000, 1000)]:
            with self.subTest(ref_rate=ref_rate, rec_rate=rec_rate):
                ref = self.delayed("ref.wav", 0, ref_rate)
                rec = self.delayed("rec.wav", delay96, rec_rate)
                r = report("align", ref, rec)
                self.assertEqual(r["verdict"], "aligned", r["verdict_reasons"])
                self.assertEqual(r["resampling"]["resampled_from"], {"recording": rec_rate})
                self.assertEqual(r["sample_rate"], ref_rate)
                truth = delay96 * ref_rate / 96000
                self.assertAlmostEqual(r["sub_sample_delay_samples"], truth, delta=0.05)
                rc, _, err, _ = run("align", ref, rec, "--no-resample")
                self.assertEqual(rc, BAD_INPUT)
                self.assertIn("differs from", err)

    def test_every_channel_in_one_run(self):
        left = self.delayed("left.wav", 2401, 44100)
        right = self.delayed("right.wav", 2401 + 75, 44100)
        sox("-M", left, right, path("stereo.wav"))
        ref = self.delayed("ref.wav", 0, 48000)
        out = path("aligned.wav")
        r = report("align", ref, path("stereo.wav"), "--channel", "all", "-o", out)
        self.assertEqual([c["channel"] for c in r["channels"]], [1, 2])
        self.assertEqual(r["verdict"], "aligned")
        self.assertAlmostEqual(r["channel_delays"][1]["relative_to_first_samples"], 37.5, delta=0.05)
        info = subprocess.run(["soxi", out], capture_output=True, text=True).stdout
        self.assertRegex(info, r"Channels\s*: 2")
        self.assertRegex(info, r"Sample Rate\s*: 48000")
        # A mono reference goes with every channel; two files of other counts do not.
        sox("-M", left, right, left, path("three.wav"))
        rc, _, err, _ = run("align", path("stereo.wav"), path("three.wav"), "--channel", "all")
        self.assertEqual(rc, BAD_INPUT)
        self.assertIn("has 2 channels where another input has 3", err)

    def test_attack_release_at_44k_agrees_with_48k(self):
        # The same compressor (sox compand) on the stimulus at both rates:
        # settle times within one 0.2 s step of each other.
        if not CHECK_MEMORY:
            self.skipTest("four 115 s measurements are minutes under the sanitizers")
        found = {}
        for rate in (48000, 44100):
            stimulus, recording = path("st%d.wav" % rate), path("rec%d.wav" % rate)
            rc, _, err, _ = run("generate", "attack-release", stimulus, "--rate", str(rate))
            self.assertEqual(rc, OK, err)
            sox(stimulus, recording, "compand", "0.01,0.5", "6:-70,-70,-20,-20,0,-10", "-5", "0", "0")
            r = report("attack-release", stimulus, recording)
            self.assertEqual(r["sample_rate"], 48000)
            found[rate] = (r["attack_settle_time_s"], r["release_settle_time_s"])
            self.assertEqual(r["resampling"] is None, rate == 48000)
        for a, b in zip(found[48000], found[44100]):
            self.assertLessEqual(abs(a - b), 0.2 + 1e-9, found)


class WindowTest(unittest.TestCase):
    def test_a_window_reads_only_what_it_uses(self):
        # Ten minutes (one under the sanitizers): through a 10 s window the
        # peak stays far below the files, the output is the same file as
        # without a window, and without one a machine too small is told
        # which window fits.
        seconds = 600 if CHECK_MEMORY else 60
        sox("-n", "-r", "48000", "-b", "16", path("long.wav"), "synth", str(seconds), "whitenoise", "vol", "0.3")
        sox(path("long.wav"), path("late.wav"), "pad", "1234s")
        rc, out, err, peak = run("align", path("long.wav"), path("late.wav"), "--window", "10",
                                 "--json", "-o", path("windowed.wav"))
        self.assertEqual(rc, OK, err)
        r = json.loads(out)
        self.assertEqual(r["total_delay_samples"], 1234)
        self.assertEqual(r["reference_samples"], seconds * 48000)
        self.assertGreater(r["drift"]["series"]["centre_s"][-1], seconds - 20)
        if CHECK_MEMORY:
            self.assertGreater(len(r["drift"]["series"]["centre_s"]), 8)  # one a minute
            self.assertLess(peak, 200 * MiB)  # the two files alone hold 460 MB as doubles
        rc, _, err, _ = run("align", path("long.wav"), path("late.wav"), "-o", path("whole.wav"))
        self.assertEqual(rc, OK, err)
        with open(path("windowed.wav"), "rb") as a, open(path("whole.wav"), "rb") as b:
            self.assertTrue(a.read() == b.read(), "the windowed output differs")
        env = dict(os.environ, AUDIOMEAS_AVAILABLE_MEMORY="300M" if CHECK_MEMORY else "60M")
        rc, _, err, _ = run("align", path("long.wav"), path("late.wav"), env=env)
        self.assertEqual(rc, BAD_INPUT)
        self.assertRegex(err, r"the largest window that fits is about --window \d+")


if __name__ == "__main__":
    TOOL, WORK = sys.argv[1], sys.argv[2]
    CHECK_MEMORY = "--no-memory" not in sys.argv
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    unittest.main(argv=[sys.argv[0], "-v"])

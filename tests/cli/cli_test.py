#!/usr/bin/python3
"""End-to-end tests of the audiomeas tool, run as a user would run it.

Usage: cli_test.py TOOL SIGNALS_DIR WORK_DIR GROUP
  GROUP demo    runs the demo (saving its signals in SIGNALS_DIR) and reruns
                the subcommands on the saved files
  GROUP errors  error cases, exit codes, channel choice, JSON (own small files)
  GROUP batch   a batch killed halfway and resumed (needs SIGNALS_DIR)
  GROUP reports real speech at known delays, the reason for every flag,
                non-finite and too short inputs (needs SIGNALS_DIR)
The standard library, and python3-jsonschema to check every report against the
schema (tests/support/schema.py).
"""
import array
import json
import math
import os
import pty
import random
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from schema import validate_output  # noqa: E402

TOOL = SIGNALS = WORK = None

# Exit codes of the tool.
OK, FLAGGED, USAGE, BAD_INPUT, OUTPUT = 0, 1, 2, 3, 4


def run(*args, cwd=None):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, cwd=cwd, timeout=600)


def write_wav(path, channels, rate=48000):
    """channels: list of equally long lists of 16-bit integers."""
    frames = b"".join(struct.pack("<%dh" % len(channels), *f) for f in zip(*channels))
    with wave.open(path, "wb") as w:
        w.setnchannels(len(channels))
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames)


def write_float_wav(path, channels, rate=48000):
    """channels: list of equally long lists of floats (full scale 1.0), as
    32-bit IEEE float WAV, which the wave module cannot write."""
    data = b"".join(struct.pack("<%df" % len(channels), *f) for f in zip(*channels))
    k = len(channels)
    fmt = struct.pack("<HHIIHH", 3, k, rate, rate * 4 * k, 4 * k, 32)
    with open(path, "wb") as fh:
        fh.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        fh.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        fh.write(b"data" + struct.pack("<I", len(data)) + data)


def read_wav(path):
    with wave.open(path, "rb") as w:
        assert w.getsampwidth() == 2 and w.getnchannels() == 1
        data = w.readframes(w.getnframes())
        return w.getframerate(), list(struct.unpack("<%dh" % (len(data) // 2), data))


def signal_path(name):
    return os.path.join(SIGNALS, name)


class DemoTest(unittest.TestCase):
    """The demo against its known truth, and the saved signals measured again
    through the subcommands (a fault in writing or reading the files, in the
    sample scale or in the argument order shows as a different result)."""

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(SIGNALS, ignore_errors=True)
        cls.proc = run("demo", "--json", "--write-signals", SIGNALS)
        cls.demo = json.loads(cls.proc.stdout)

    def test_demo_agrees_with_its_truth(self):
        self.assertEqual(self.proc.returncode, OK, self.proc.stderr)
        a = self.demo["align"]
        # The delay is known to the sample: the fine lag must be exact.
        self.assertEqual(a["measured"]["fine_lag_samples"], a["truth"]["fine_lag_samples"])
        self.assertEqual(a["truth"]["delay_samples"],
                         a["truth"]["fine_lag_samples"] - a["truth"]["coarse_shift_samples"])
        self.assertFalse(a["measured"]["alignment_failed"])
        # The aligned recording is the reference at -6 dB plus the -70 dB
        # background, so it differs from it by about -44 dB; a misalignment
        # by even one sample of white noise would leave about 0 dB.
        self.assertLess(a["measured"]["residual_db"], -40.0)

        e = self.demo["attack_release"]
        for key in ("release_settle_time_s", "attack_settle_time_s"):
            self.assertGreater(e["truth"][key], 0.0)
            self.assertLessEqual(abs(e["measured"][key] - e["truth"][key]), 0.2 + 1e-9, key)
        self.assertFalse(e["measured"]["alignment_failed"])
        # A slower release settles later than a faster attack.
        self.assertGreater(e["truth"]["release_settle_time_s"], e["truth"]["attack_settle_time_s"])

        t = self.demo["transient_snr"]
        for key in ("active_level_db", "level_difference_db"):
            self.assertLessEqual(abs(t["measured"][key] - t["truth"][key]), 0.1, key)
        self.assertAlmostEqual(t["truth"]["level_difference_db"], -15.0, delta=0.1)
        self.assertFalse(t["measured"]["warning"])
        self.assertTrue(self.demo["all_agree"])

    def test_subcommands_on_saved_signals_repeat_the_demo(self):
        align = run("align", signal_path("align_reference.wav"),
                    signal_path("align_recording.wav"), "--json")
        self.assertEqual(align.returncode, OK, align.stderr)
        j = json.loads(align.stdout)
        truth = self.demo["align"]["truth"]
        self.assertEqual(j["fine_lag_samples"], self.demo["align"]["measured"]["fine_lag_samples"])
        self.assertEqual((j["total_delay_samples"], j["coarse_shift_samples"]),
                         (truth["delay_samples"], truth["coarse_shift_samples"]))
        self.assertAlmostEqual(j["total_delay_ms"], j["total_delay_samples"] / 48.0)
        self.assertFalse(j["alignment_failed"])

        ar = run("attack-release", signal_path("attack_release_reference.wav"),
                 signal_path("attack_release_recording.wav"), "--json")
        self.assertEqual(ar.returncode, OK, ar.stderr)
        j = json.loads(ar.stdout)
        m = self.demo["attack_release"]["measured"]
        self.assertEqual(j["release_settle_time_s"], m["release_settle_time_s"])
        self.assertEqual(j["attack_settle_time_s"], m["attack_settle_time_s"])
        self.assertEqual(j["total_delay_samples"], self.demo["attack_release"]["truth"]["delay_samples"])

        tr = run("transient-snr", signal_path("transient_presence.wav"),
                 signal_path("transient_activity.wav"), signal_path("transient_measured.wav"),
                 "--json")
        self.assertEqual(tr.returncode, OK, tr.stderr)
        j = json.loads(tr.stdout)
        m = self.demo["transient_snr"]["measured"]
        # 16-bit files give back the integers the demo measured, bit for bit.
        self.assertEqual(j["active_level_db"], m["active_level_db"])
        self.assertEqual(j["level_difference_db"], m["level_difference_db"])

        text = run("transient-snr", signal_path("transient_presence.wav"),
                   signal_path("transient_activity.wav"), signal_path("transient_measured.wav"))
        self.assertIn("%.2f dB" % m["active_level_db"], text.stdout)

    def test_aligned_recording_file_is_the_recording_moved_by_the_delay(self):
        out = os.path.join(WORK, "aligned.wav")
        p = run("align", signal_path("align_reference.wav"), signal_path("align_recording.wav"),
                "-o", out)
        self.assertEqual(p.returncode, OK, p.stderr)
        # The total delay comes first.
        # The verdict first, then the delay with the sum that gives it.
        self.assertTrue(p.stdout.startswith("verdict          aligned\n"
                                            "total delay      1260 samples (26.250 ms): "
                                            "the recording comes later"), p.stdout)
        self.assertIn("= fine lag - coarse shift = 60 - (-1200)\n", p.stdout)
        rate, aligned = read_wav(out)
        _, recording = read_wav(signal_path("align_recording.wav"))
        delay = self.demo["align"]["truth"]["delay_samples"]
        self.assertEqual(rate, 48000)
        self.assertEqual(len(aligned), len(recording))
        # Exact: the tool writes back the 16-bit values it read; zeros only
        # past the recording's end.
        self.assertEqual(aligned[:len(aligned) - delay], recording[delay:])
        self.assertEqual(set(aligned[len(aligned) - delay:]), {0})
        self.assertEqual(len(recording), len(aligned))


    def test_any_thread_count_gives_the_same_report_and_file(self):
        jobs = [("align", "align_reference.wav", "align_recording.wav"),
                ("attack-release", "attack_release_reference.wav", "attack_release_recording.wav")]
        for measurement, *files in jobs:
            outputs = set()
            for threads in ("1", "2", "3", "0"):
                with self.subTest(measurement=measurement, threads=threads):
                    out = os.path.join(WORK, "threads.wav")
                    extra = ["-o", out] if measurement == "align" else []
                    p = run(measurement, *map(signal_path, files), "--json", "--threads", threads, *extra)
                    self.assertEqual(p.returncode, OK, p.stderr)
                    written = open(out, "rb").read() if extra else b""
                    if extra:
                        os.unlink(out)
                    outputs.add((p.stdout, written))
            self.assertEqual(len(outputs), 1, measurement)


class ErrorTest(unittest.TestCase):
    """Each refusal: its exit code, one line on stderr naming the file and the
    fault, nothing on stdout, no output file left behind."""

    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(WORK, "errors")
        shutil.rmtree(cls.dir, ignore_errors=True)
        os.makedirs(cls.dir)
        rnd = random.Random(7)
        n = 2 * 48000
        noise = [rnd.randint(-3000, 3000) for _ in range(n)]
        late = [0] * 37 + noise[:n - 37]
        cls.f = {}

        def wav(name, channels, rate=48000):
            path = os.path.join(cls.dir, name)
            write_wav(path, channels, rate)
            cls.f[name] = path

        wav("ref.wav", [noise])
        wav("rec.wav", [late])
        wav("silent.wav", [[0] * n])
        wav("stereo.wav", [[0] * n, late])  # channel 2 holds the recording
        wav("rec44k.wav", [late], 44100)
        wav("ref44k.wav", [noise], 44100)
        wav("short.wav", [noise[:1000]])
        cls.f["text.wav"] = os.path.join(cls.dir, "text.wav")
        with open(cls.f["text.wav"], "w") as fh:
            fh.write("this is not audio\n" * 100)
        cls.f["missing"] = os.path.join(cls.dir, "missing.wav")

    def expect_error(self, args, code, *fragments, output=None):
        p = run(*args)
        self.assertEqual(p.returncode, code, (args, p.stderr))
        self.assertEqual(p.stdout, "", args)
        lines = p.stderr.splitlines()
        self.assertEqual(len(lines), 1, p.stderr)
        self.assertTrue(lines[0].startswith("audiomeas: "), lines[0])
        for frag in fragments:
            self.assertIn(frag, lines[0])
        if output is not None:
            self.assertEqual([x for x in os.listdir(os.path.dirname(output))
                              if os.path.basename(output) in x], [],
                             "output left behind")

    def test_bad_input(self):
        f = self.f
        out = os.path.join(self.dir, "out", "aligned.wav")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        cases = [
            (["align", f["missing"], f["rec.wav"], "-o", out], f["missing"] + ": no such file"),
            (["align", self.dir, f["rec.wav"], "-o", out], self.dir + ": is a directory"),
            (["align", f["ref.wav"], f["text.wav"], "-o", out],
             f["text.wav"] + ": not an audio file"),
            (["align", f["ref.wav"], f["stereo.wav"], "-o", out],
             f["stereo.wav"] + ": has 2 channels; choose one with --channel K (1..2)"),
            (["align", f["stereo.wav"], f["stereo.wav"], "--channel", "3", "-o", out],
             f["stereo.wav"] + ": has 2 channels; --channel 3 does not exist"),
            # Rates are converted unless asked not to.
            (["align", f["ref.wav"], f["rec44k.wav"], "--no-resample", "-o", out],
             f["rec44k.wav"] + ": sample rate 44100 Hz differs from 48000 Hz of the reference"),
            (["attack-release", f["ref44k.wav"], f["rec44k.wav"], "--no-resample"],
             f["ref44k.wav"] + ": 44100 Hz; attack-release works at 48000 Hz only"),
            (["attack-release", f["ref.wav"], f["rec44k.wav"], "--no-resample"], "differs from 48000 Hz"),
            (["attack-release", f["ref.wav"], f["rec.wav"]],
             f["ref.wav"] + ": too short: 96000 samples (2.000 s); the attack/release test "
             "signal needs at least 5544000 samples (115.500 s)"),
            (["transient-snr", f["ref.wav"], f["short.wav"], f["rec.wav"]],
             f["short.wav"] + ": too short: 1000 samples (0.021 s)", "96000 samples (2.000 s)"),
            (["transient-snr", f["ref.wav"], f["rec.wav"], f["ref44k.wav"], "--no-resample"], "differs"),
        ]
        for args, *fragments in cases:
            with self.subTest(args=args):
                self.expect_error(args, BAD_INPUT, *fragments, output=out)

    def test_usage_errors(self):
        f = self.f
        bad_out = os.path.join(self.dir, "aligned.unknownext")
        cases = [
            [],
            ["measure"],
            ["align", f["ref.wav"]],
            ["align", f["ref.wav"], f["rec.wav"], "--channel", "0"],
            ["align", f["ref.wav"], f["rec.wav"], "--bogus"],
            ["transient-snr", f["ref.wav"], f["rec.wav"]],
            ["batch", f["ref.wav"], "--resume"],
            ["batch", f["ref.wav"], "-j", "0"],
            ["align", f["ref.wav"], f["rec.wav"], "--threads", "-1"],
            ["align", f["ref.wav"], f["rec.wav"], "--threads", "1025"],
            ["align", f["ref.wav"], f["rec.wav"], "--threads", "two"],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.expect_error(args, USAGE)
        # An output name that says no format fails before any work.
        self.expect_error(["align", f["ref.wav"], f["rec.wav"], "-o", bad_out], USAGE,
                          bad_out + ": cannot tell the audio format", output=bad_out)

    def test_unwritable_output_leaves_nothing(self):
        out = os.path.join(self.dir, "no-such-dir", "aligned.wav")
        self.expect_error(["align", self.f["ref.wav"], self.f["rec.wav"], "-o", out], OUTPUT,
                          out + ": cannot write")
        self.assertFalse(os.path.exists(os.path.dirname(out)))

    def test_channel_choice_and_flags(self):
        f = self.f
        # Channel 2 of the stereo file is the recording, 37 samples late.
        p = run("align", f["ref.wav"], f["stereo.wav"], "--channel", "2", "--json")
        self.assertEqual(p.returncode, OK, p.stderr)
        self.assertEqual(json.loads(p.stdout)["total_delay_samples"], 37)
        # A mono file is its one channel, whatever --channel picks elsewhere.
        p = run("align", f["ref.wav"], f["rec.wav"], "--channel", "2", "--json")
        self.assertEqual(json.loads(p.stdout)["total_delay_samples"], 37)
        # Channel 1 is silent: the library rejects the match; the tool still
        # reports (and writes) it, with the flag's exit code.
        out = os.path.join(self.dir, "flagged.wav")
        p = run("align", f["ref.wav"], f["stereo.wav"], "--channel", "1", "--json", "-o", out)
        self.assertEqual(p.returncode, FLAGGED, p.stderr)
        self.assertTrue(json.loads(p.stdout)["alignment_failed"])
        self.assertTrue(os.path.exists(out))
        p = run("align", f["ref.wav"], f["silent.wav"])
        self.assertEqual(p.returncode, FLAGGED)
        self.assertIn("FLAGGED", p.stdout)
        self.assertIn("reason ", p.stdout)
        # No activity at all: burstra's warning, floor level, and why.
        p = run("transient-snr", f["ref.wav"], f["silent.wav"], f["rec.wav"], "--json")
        self.assertEqual(p.returncode, FLAGGED, p.stderr)
        j = json.loads(p.stdout)
        self.assertEqual((j["warning"], j["warnings_fired"]), (True, ["active_too_short"]))
        self.assertEqual(j["active_level_db"], -120.0)
        p = run("transient-snr", f["ref.wav"], f["silent.wav"], f["rec.wav"])
        self.assertIn("check            active_too_short: ", p.stdout)

    def test_help_documents_scales_and_exit_codes(self):
        p = run("--help")
        self.assertEqual(p.returncode, OK)
        for frag in ("full scale 1.0", "32767", "Exit codes", "usage error", "bad input"):
            self.assertIn(frag, p.stdout)
        self.assertEqual(run("attack-release", "--help").returncode, OK)


class BatchTest(unittest.TestCase):
    """A batch killed halfway, then resumed: every row ends up exactly once."""

    ROWS = 40

    def manifest_rows(self):
        rel = os.path.relpath(SIGNALS, self.dir)
        al = "align,%s/align_reference.wav,%s/align_recording.wav" % (rel, rel)
        ar = "attack-release,%s/attack_release_reference.wav,%s/attack_release_recording.wav" % (
            rel, rel)
        # Quoted fields, as a spreadsheet writes them.
        tr = 'transient-snr,"%s/transient_presence.wav", "%s/transient_activity.wav",' \
             '"%s/transient_measured.wav"' % (rel, rel, rel)
        rows = []
        for i in range(self.ROWS):
            if i in (0, 1):
                rows.append(ar)  # slow rows first: the kill comes while they run
            elif i == 17:
                rows.append("align,%s/align_reference.wav,nowhere.wav" % rel)
            else:
                rows.append(al if i % 2 else tr)
        return rows

    def setUp(self):
        self.dir = os.path.join(WORK, "batch")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.rows = self.manifest_rows()
        self.manifest = os.path.join(self.dir, "manifest.csv")
        with open(self.manifest, "w") as fh:
            fh.write("measurement,file1,file2,file3\n# demo signals, relative paths\n\n")
            fh.write("\n".join(self.rows) + "\n")
        self.results = os.path.join(self.dir, "results.jsonl")

    def lines(self):
        with open(self.results) as fh:
            return fh.read().splitlines()

    def test_killed_batch_resumes_with_every_row_once(self):
        p = subprocess.Popen([TOOL, "batch", self.manifest, "-j", "2", "-o", self.results],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 300
        while time.monotonic() < deadline and p.poll() is None:
            if os.path.exists(self.results) and len(self.lines()) >= 3:
                break
            time.sleep(0.01)
        p.send_signal(signal.SIGKILL)
        p.wait()
        self.assertEqual(p.returncode, -signal.SIGKILL, "batch ended before it was killed")
        # The kernel may stop a killed write at a page boundary: only the
        # finished lines count as done.
        with open(self.results) as fh:
            before = fh.read().split("\n")[:-1]
        self.assertLess(len(before), self.ROWS)
        # A kill in the middle of a write leaves at most an unfinished line
        # (row 6 is an align row).
        with open(self.results, "a") as fh:
            fh.write('{"row":6,"measurement":"al')

        # Without --resume the results are not overwritten.
        with open(self.results, "rb") as fh:
            kept = fh.read()
        q = run("batch", self.manifest, "-o", self.results)
        self.assertEqual(q.returncode, USAGE)
        self.assertIn("--resume", q.stderr)
        with open(self.results, "rb") as fh:
            self.assertEqual(fh.read(), kept)

        q = run("batch", self.manifest, "-j", "2", "-o", self.results, "--resume")
        # Row 18 names a missing file: the batch reports bad input.
        self.assertEqual(q.returncode, BAD_INPUT, q.stderr)
        lines = self.lines()
        self.assertEqual(lines[:len(before)], before, "rows done before were rewritten")
        self.assertIn("audiomeas_batch", json.loads(lines[0]))
        results = [json.loads(line) for line in lines[1:]]
        self.assertEqual(sorted(r["row"] for r in results), list(range(1, self.ROWS + 1)))
        for r in results:
            fields = [f.strip().strip('"') for f in self.rows[r["row"] - 1].split(",")]
            self.assertEqual(r["measurement"], fields[0])
            self.assertEqual(r["files"], [f for f in fields[1:] if f])
            if r["row"] == 18:
                self.assertEqual(r["status"], "error")
                self.assertEqual(r["exit_code"], BAD_INPUT)
                self.assertIn("nowhere.wav: no such file", r["error"])
                continue
            self.assertEqual(r["status"], "ok", r)
            if r["measurement"] == "align":
                self.assertEqual(r["result"]["fine_lag_samples"], 60)
            elif r["measurement"] == "transient-snr":
                self.assertFalse(r["result"]["warning"])
            else:
                self.assertFalse(r["result"]["alignment_failed"])

        # Nothing left to do: a second resume adds nothing.
        q = run("batch", self.manifest, "-o", self.results, "--resume")
        self.assertEqual(q.returncode, BAD_INPUT)
        self.assertEqual(self.lines(), lines)
        self.assertIn("0 run now", q.stderr)

    def test_progress_bar_only_on_a_terminal(self):
        rel = os.path.relpath(SIGNALS, self.dir)
        with open(self.manifest, "w") as fh:
            for _ in range(3):
                fh.write("align,%s/align_reference.wav,%s/align_recording.wav\n" % (rel, rel))
        q = run("batch", self.manifest, "-j", "1")
        self.assertEqual(q.returncode, OK, q.stderr)
        self.assertEqual(len(q.stdout.splitlines()), 4)  # the header and 3 rows
        self.assertNotIn("\r", q.stderr)
        self.assertEqual(q.stderr, "batch: 3 rows (3 run now, 0 done before): 3 ok, 0 doubtful, 0 flagged, "
                                   "0 failed\n")
        # stderr on a terminal: a bar redrawn in place as the rows finish.
        master, slave = pty.openpty()
        p = subprocess.Popen([TOOL, "batch", self.manifest, "-j", "1"], stdout=subprocess.DEVNULL,
                             stderr=slave)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closed with the process
                break
            if not chunk:
                break
            seen += chunk
        p.wait()
        os.close(master)
        self.assertEqual(p.returncode, OK)
        self.assertIn(b"[" + b"#" * 30 + b"] 3/3 rows", seen)
        self.assertIn(b"\r[" + b"." * 30 + b"] 0/3 rows", seen)

    def test_manifest_errors_name_the_line(self):
        with open(self.manifest, "a") as fh:
            fh.write("allign,a.wav,b.wav\n")
        q = run("batch", self.manifest)
        self.assertEqual(q.returncode, USAGE)
        self.assertIn("manifest.csv:%d: unknown measurement 'allign'" % (4 + self.ROWS), q.stderr)
        with open(self.manifest, "w") as fh:
            fh.write("transient-snr,a.wav,b.wav\n")
        q = run("batch", self.manifest)
        self.assertEqual(q.returncode, USAGE)
        self.assertIn("manifest.csv:1: transient-snr takes 3 files, the row gives 2", q.stderr)


ALSA = "/usr/share/sounds/alsa"
SPEECH_CLIPS = ("Front_Center", "Front_Left", "Front_Right", "Rear_Center", "Rear_Left",
                "Rear_Right", "Side_Left", "Side_Right")


def speech(level_db):
    """Real speech (Debian's alsa-utils clips joined, 0.5 s of silence at each
    end) as 16-bit integers at level_db dBFS RMS; None without the clips."""
    x = [0] * 24000
    for name in SPEECH_CLIPS:
        path = os.path.join(ALSA, name + ".wav")
        if not os.path.exists(path):
            return None
        with wave.open(path, "rb") as w:
            x.extend(array.array("h", w.readframes(w.getnframes())))
    x.extend([0] * 24000)
    gain = 32768.0 * 10.0 ** (level_db / 20.0) / math.sqrt(sum(v * v for v in x) / len(x))
    return [round(v * gain) for v in x]


def wav_head(path, frames):
    """The first frames of a 16-bit mono file, as the same format."""
    with wave.open(path, "rb") as w:
        return array.array("h", w.readframes(frames))


class ReportTest(unittest.TestCase):
    """What a user reads: the total delay on real speech, the aligned file,
    and for every raised flag the test that failed; non-finite and too short
    inputs refused with where they fail."""

    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(WORK, "reports")
        shutil.rmtree(cls.dir, ignore_errors=True)
        os.makedirs(cls.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_json(self, *args, code=OK):
        p = run(*args, "--json")
        self.assertEqual(p.returncode, code, (args, p.stderr))
        return validate_output(json.loads(p.stdout))

    def test_speech_total_delay_and_aligned_file(self):
        for level in (-22, -50):
            ref = speech(level)
            if ref is None:
                self.skipTest("no speech clips in %s (Debian package alsa-utils)" % ALSA)
            write_wav(self.path("ref.wav"), [ref])
            for delay in (0, 1260):
                with self.subTest(level=level, delay=delay):
                    rec = self.path("ref.wav")  # delay 0: the file against itself
                    if delay:
                        rec = self.path("late.wav")
                        write_wav(rec, [[0] * delay + ref])
                    out = self.path("aligned.wav")
                    j = self.run_json("align", self.path("ref.wav"), rec, "-o", out)
                    self.assertEqual((j["total_delay_samples"], j["alignment_failed"]),
                                     (delay, False))
                    # Every recording sample is kept: the speech comes back whole.
                    self.assertEqual(read_wav(out)[1], ref)

    def test_each_flag_names_its_test(self):
        rnd = random.Random(3)
        noise = [rnd.randint(-3000, 3000) for _ in range(96000)]
        write_wav(self.path("noise.wav"), [noise])
        write_wav(self.path("late_start.wav"), [[0] * 52800 + noise[52800:]])
        write_wav(self.path("noise100.wav"), [noise[:3000]], 100)
        write_wav(self.path("cut100.wav"), [noise[1500:2400]], 100)
        write_wav(self.path("other.wav"), [[rnd.randint(-3000, 3000) for _ in range(96000)]])
        ar_ref = signal_path("attack_release_reference.wav")
        # The stimulus backwards: the same levels, unrelated noise.
        backwards = wav_head(ar_ref, 5544000)
        backwards.reverse()
        write_wav(self.path("backwards.wav"), [backwards])
        cases = [
            # (arguments, failed test, words of the reason line)
            (["align", self.path("late_start.wav"), self.path("noise.wav")], "coarse_shift",
             "the coarse shift of 52800 samples exceeds half"),
            # 100 Hz: no coarse stage, the fine lag does it all.
            (["align", self.path("noise100.wav"), self.path("cut100.wav")], "fine_lag",
             "the fine lag of -1500 samples exceeds a third"),
            (["align", self.path("noise.wav"), self.path("other.wav")], "peak_distinctness",
             "not distinct"),
            (["attack-release", ar_ref, ar_ref, "--pad", "0"], "recording_lags",
             "does not lag the test signal"),
            (["attack-release", ar_ref, self.path("backwards.wav")], "peak_distinctness",
             "not distinct"),
        ]
        rear_left = os.path.join(ALSA, "Rear_Left.wav")
        if os.path.exists(rear_left):  # real speech against itself
            cases.append((["align", rear_left, rear_left], "peak_distinctness", "not distinct"))
        for args, failed_test, words in cases:
            with self.subTest(args=args):
                j = self.run_json(*args, code=FLAGGED)
                self.assertEqual((j["alignment_failed"], j["failed_test"]), (True, failed_test))
                self.assertIn(words, j["reason"])
                failed = [t for t in j["tests"] if t["test"] == failed_test]
                self.assertEqual([t["passed"] for t in failed], [False])
                text = run(*args).stdout
                self.assertIn("verdict          FLAGGED", text)
                self.assertEqual(j["verdict"], "flagged")
                self.assertIn("reason           the library rejected the ", text)
                self.assertIn(j["reason"], text)
                self.assertIn("total delay      none found", text)  # not a finding

    def test_refusals_say_where(self):
        ref = self.path("short_noise.wav")
        write_wav(ref, [[random.Random(4).randint(-3000, 3000) for _ in range(9600)]])
        rec = [0.01 * math.sin(k / 5.0) for k in range(9600)]
        bad = list(rec)
        bad[4321] = float("nan")
        write_float_wav(self.path("nan.wav"), [rec, bad])
        short = self.path("short.wav")
        write_wav(short, [wav_head(signal_path("attack_release_recording.wav"), 50 * 48000)])
        cases = [
            (["align", ref, self.path("nan.wav"), "--channel", "2"],
             self.path("nan.wav") + " (channel 2): sample 4321 (0.090021 s) is NaN"),
            (["transient-snr", self.path("nan.wav"), self.path("nan.wav"), self.path("nan.wav"),
              "--channel", "2"], "(channel 2): sample 4321 "),
            # 50 s of the 115.5 s stimulus, recorded 4800 samples late.
            (["attack-release", signal_path("attack_release_reference.wav"), short],
             short + ": too short: 2400000 samples (50.000 s)",
             "need at least 5548800 samples (115.600 s)"),
        ]
        for args, *words in cases:
            with self.subTest(args=args):
                p = run(*args)
                self.assertEqual((p.returncode, p.stdout), (BAD_INPUT, ""), p.stderr)
                for w in words:
                    self.assertIn(w, p.stderr)


if __name__ == "__main__":
    TOOL, SIGNALS, WORK, group = sys.argv[1:5]
    os.makedirs(WORK, exist_ok=True)
    case = {"demo": DemoTest, "errors": ErrorTest, "batch": BatchTest, "reports": ReportTest}[group]
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)

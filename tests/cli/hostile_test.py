#!/usr/bin/python3
"""Hostile files, manifests, results files and long inputs given to the
audiomeas tool: each case ends with its documented exit code and a message,
never with an abort, and leaves every file of the user's as it was.

Usage: hostile_test.py TOOL SIGNALS_DIR WORK_DIR [--no-memory]
  SIGNALS_DIR  the demo's signals (the cli.demo test writes them)
  --no-memory  skip the peak-memory checks (sanitizer builds)
Standard library only.
"""
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import unittest
import wave

TOOL = SIGNALS = WORK = None
CHECK_MEMORY = True

OK, FLAGGED, USAGE, BAD_INPUT, OUTPUT = 0, 1, 2, 3, 4
MiB = 1024 * 1024
# Blocks above 1 MiB mapped and unmapped one by one: without it glibc keeps
# freed blocks up to 32 MiB in each thread's pool, and the peak would count
# rows that have finished.
UNPOOLED = dict(os.environ, MALLOC_MMAP_THRESHOLD_=str(MiB))


def run(*args, stdout=subprocess.PIPE, **kw):
    """Runs the tool; gives (exit code, stdout, stderr, peak resident bytes),
    the peak (VmHWM) from wait4."""
    p = subprocess.Popen([TOOL, *args], stdout=stdout, stderr=subprocess.PIPE, **kw)
    # Read to the end without reaping it (stderr holds a few lines at most).
    out = p.stdout.read() if stdout == subprocess.PIPE else None
    err = p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, out, err, usage.ru_maxrss * 1024


def write_wav(path, frames, rate=48000):
    """frames: mono 16-bit samples as little-endian bytes."""
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames)


def late(frames, k):
    """The same signal k samples later, cut to its length."""
    return bytes(2 * k) + frames[:len(frames) - 2 * k]


def wav_header(channels, frames_claimed, data_bytes_field=None, riff_field=None, rate=48000):
    block = 2 * channels
    data = frames_claimed * block if data_bytes_field is None else data_bytes_field
    riff = 36 + data if riff_field is None else riff_field
    return (b"RIFF" + struct.pack("<I", riff & 0xFFFFFFFF) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * block, block, 16) +
            b"data" + struct.pack("<I", data & 0xFFFFFFFF))


def noise(n, seed):
    """n samples of full-scale white noise as bytes. The peak memory of a
    child counts this process's own (vfork), so nothing here is large."""
    return random.Random(seed).randbytes(2 * n)


def checksums(directory):
    sums = {}
    for name in os.listdir(directory):
        path = os.path.join(directory, name)
        if os.path.isfile(path) and not os.path.islink(path):
            with open(path, "rb") as fh:
                sums[name] = hashlib.file_digest(fh, "sha256").hexdigest()
    return sums


def write_silent_flac(path, frames, rate=48000):
    """A FLAC of digital silence through the system's libsndfile (ctypes):
    its header truthfully declares frames, its size is a few kilobytes."""
    import ctypes
    import ctypes.util
    sf = ctypes.CDLL(ctypes.util.find_library("sndfile") or "libsndfile.so.1")

    class Info(ctypes.Structure):
        _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                    ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]

    info = Info(0, rate, 1, 0x170000 | 0x0002, 0, 0)  # FLAC, 16-bit
    sf.sf_open.restype = ctypes.c_void_p
    handle = sf.sf_open(os.fsencode(path), 0x20, ctypes.byref(info))  # SFM_WRITE
    assert handle, "libsndfile cannot write FLAC"
    block = (ctypes.c_short * 65536)()
    sf.sf_writef_short.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64]
    left = frames
    while left > 0:
        n = min(left, 65536)
        assert sf.sf_writef_short(ctypes.c_void_p(handle), block, n) == n
        left -= n
    sf.sf_close(ctypes.c_void_p(handle))


class Hostile(unittest.TestCase):
    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(WORK, "files")
        shutil.rmtree(cls.dir, ignore_errors=True)
        os.makedirs(cls.dir)
        n = 2 * 48000
        ref = noise(n, 1)
        write_wav(cls.path("ref.wav"), ref)
        write_wav(cls.path("rec.wav"), late(ref, 37))
        write_wav(cls.path("silent1s.wav"), bytes(2 * 48000))
        os.symlink("rec.wav", cls.path("rec-link.wav"))
        os.link(cls.path("rec.wav"), cls.path("rec-hardlink.wav"))
        shutil.copy(cls.path("rec.wav"), os.fsencode(cls.path("caf")) + b"\xe9.wav")
        with open(cls.path("manifest.csv"), "w") as fh:
            fh.write("align,ref.wav,rec.wav\nalign,ref.wav,rec.wav")  # no final newline
        with open(cls.path("note.txt"), "w") as fh:
            fh.write("not results")
        # 1,024 channels declared, 16 KB of samples: 8 frames.
        with open(cls.path("ch1024.wav"), "wb") as fh:
            fh.write(wav_header(1024, 8) + bytes(8 * 2048))
        # A streamed WAV: size fields 0xFFFFFFFF, two seconds of noise.
        with open(cls.path("streamed.wav"), "wb") as fh:
            fh.write(wav_header(1, 0, 0xFFFFFFFF, 0xFFFFFFFF) + ref)
        # Three hours each, sparse (no disk used): align's estimate (about
        # 70 GiB) is far beyond this machine's 24 GiB. Kept apart: the checksums of the
        # other inputs would read them whole.
        cls.long = os.path.join(WORK, "long")
        os.makedirs(cls.long, exist_ok=True)
        for name in ("long_ref.wav", "long_rec.wav"):
            frames = 3 * 3600 * 48000
            with open(os.path.join(cls.long, name), "wb") as fh:
                fh.write(wav_header(1, frames))
                fh.truncate(44 + 2 * frames)

    def setUp(self):
        self.work = os.path.join(WORK, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.before = checksums(self.dir)

    def tearDown(self):
        self.assertEqual(checksums(self.dir), self.before, "an input file changed")

    def expect(self, result, code, *fragments):
        rc, out, err, _ = result
        self.assertEqual(rc, code, err)
        text = err.decode("utf-8", "replace")
        for frag in fragments:
            self.assertIn(frag, text)
        return out

    def test_refusals_leave_every_file_as_it_was(self):
        p = self.path
        results = os.path.join(self.work, "results.jsonl")
        cases = [
            # 1: an aligned output naming an input, by any spelling or link.
            (["align", p("ref.wav"), p("rec.wav"), "-o", p("rec.wav")], USAGE, "is the input"),
            (["align", p("ref.wav"), p("rec.wav"), "-o", p("ref.wav")], USAGE, "is the input"),
            (["align", p("ref.wav"), p("rec.wav"), "-o", self.dir + "/./rec.wav"], USAGE,
             "is the input"),
            (["align", p("ref.wav"), p("rec.wav"), "-o", p("rec-link.wav")], USAGE, "is the input"),
            (["align", p("ref.wav"), p("rec.wav"), "-o", p("rec-hardlink.wav")], USAGE,
             "is the input"),
            # 2: resuming into a file that is not this batch's results.
            (["batch", p("manifest.csv"), "-o", p("silent1s.wav"), "--resume"], BAD_INPUT,
             "not a results file of this batch"),
            (["batch", p("manifest.csv"), "-o", p("note.txt"), "--resume"], BAD_INPUT,
             "not a results file of this batch"),
            (["batch", p("manifest.csv"), "-o", p("rec.wav"), "--resume"], BAD_INPUT,
             "not a results file of this batch"),
            (["batch", p("manifest.csv"), "-o", p("manifest.csv"), "--resume"], USAGE,
             "is the input"),
            (["batch", p("manifest.csv"), "-o", p("manifest.csv")], USAGE, "is the input"),
            (["batch", p("manifest.csv"), "-o", p("rec.wav")], USAGE, "not a results file"),
            # 6: a directory as the manifest.
            (["batch", self.dir], BAD_INPUT, "is a directory"),
            # 9: memory beyond the machine's, refused before reading.
            (["align", os.path.join(self.long, "long_ref.wav"),
              os.path.join(self.long, "long_rec.wav")], BAD_INPUT, "needs about", "--window"),
        ]
        for args, code, *fragments in cases:
            with self.subTest(args=args[:2] + args[-2:]):
                result = run(*args)
                self.expect(result, code, *fragments)
                if CHECK_MEMORY:  # refused before the samples are read
                    self.assertLess(result[3], 128 * MiB)
        self.assertFalse(os.path.exists(results))
        # Nothing beside the inputs: no temporary or partial file.
        self.assertEqual(sorted(checksums(self.dir)), sorted(self.before))

    def test_bad_result_lines_are_refused_naming_the_line(self):
        p = self.path
        manifest = os.path.join(self.work, "m.csv")
        with open(manifest, "w") as fh:
            fh.write("align,%s,%s\n" % (p("ref.wav"), p("rec.wav")) * 2)
        results = os.path.join(self.work, "r.jsonl")
        rc, *_ = run("batch", manifest, "-j", "1", "-o", results)
        self.assertEqual(rc, OK)
        with open(results) as fh:
            good = [json.loads(line) for line in fh]
        first = good[0]
        # 3: each field of the second line made wrong in turn.
        bad = [("exit_code", None), ("exit_code", "0"), ("exit_code", 1e20), ("exit_code", 7),
               ("exit_code", True), ("measurement", 5), ("files", 3), ("files", [1, 2]),
               ("row", 4294967297), ("row", 0), ("row", 1.0), ("row", 3), ("row", "1"),
               ("status", None)]
        for key, value in bad:
            with self.subTest(key=key, value=value):
                line = dict(good[1], **{key: value})
                text = json.dumps(good[0]) + "\n" + json.dumps(line) + "\n"
                with open(results, "w") as fh:
                    fh.write(text)
                self.expect(run("batch", manifest, "-o", results, "--resume"), BAD_INPUT,
                            "r.jsonl: line 2: ")
                with open(results) as fh:
                    self.assertEqual(fh.read(), text)
        # A torn last line is cut only when it begins as one of ours.
        for tail, code in (('{"row":2,"measurement":"al', OK), ('{"row":', OK),
                           ('{"row": ', BAD_INPUT), ('{"row":9,"meas', BAD_INPUT),
                           ('RIFF', BAD_INPUT), ('{"rows":1', BAD_INPUT)):
            with self.subTest(tail=tail):
                text = json.dumps(first) + "\n" + tail
                with open(results, "w") as fh:
                    fh.write(text)
                self.expect(run("batch", manifest, "-o", results, "--resume"), code)
                with open(results) as fh:
                    lines = fh.read()
                if code == OK:  # the header and both rows, measured again
                    self.assertEqual(len(lines.splitlines()), 3)
                    self.assertTrue(lines.endswith("\n"))
                else:
                    self.assertEqual(lines, text)

    def test_file_names_that_are_not_utf8(self):
        # 4: the name comes out with U+FFFD in JSON; batch and resume finish.
        name = os.fsencode(self.path("caf")) + b"\xe9.wav"
        out = self.expect(run("align", self.path("ref.wav"), name, "--json"), OK)
        self.assertEqual(json.loads(out)["recording"], self.path("caf") + "\ufffd.wav")
        manifest = os.path.join(self.work, "m.csv").encode()
        with open(manifest, "wb") as fh:
            fh.write(b"align,%s,%s\nalign,%s,%s\n" % (self.path("ref.wav").encode(), name,
                                                       self.path("ref.wav").encode(),
                                                       self.path("rec.wav").encode()))
        results = os.path.join(self.work, "r.jsonl")
        self.expect(run("batch", manifest, "-j", "1", "-o", results), OK)
        with open(results, "rb") as fh:
            text = fh.read()
        rows = [json.loads(line) for line in text.decode().splitlines()[1:]]
        self.assertEqual(sorted(r["status"] for r in rows), ["ok", "ok"])
        self.expect(run("batch", manifest, "-o", results, "--resume"), OK, "0 run now")
        with open(results, "rb") as fh:
            self.assertEqual(fh.read(), text)
        # A NUL ends the name the system opens: that row must not measure rec.wav.
        with open(manifest, "wb") as fh:
            fh.write(b"align,%s,%s\0.x\n" % (self.path("ref.wav").encode(), self.path("rec.wav").encode()))
        os.remove(results)
        self.expect(run("batch", manifest, "-o", results), BAD_INPUT)
        with open(results, "rb") as fh:
            row = json.loads(fh.read().splitlines()[1])
        self.assertIn("rec.wav\\0.x: the name holds a NUL byte", row["error"])

    def test_output_that_cannot_be_written(self):
        p = self.path
        # 6: stdout closed or full: exit 4, not 0.
        args = ["align", p("ref.wav"), p("rec.wav"), "--json"]
        rc = subprocess.run([TOOL, *args], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, preexec_fn=lambda: os.close(1))
        self.assertEqual(rc.returncode, OUTPUT, rc.stderr)
        self.assertIn(b"standard output", rc.stderr)
        with open("/dev/full", "wb") as full:
            self.expect(run(*args, stdout=full), OUTPUT, "standard output")
            self.expect(run("demo", "--json", stdout=full), OUTPUT, "standard output")
        # A batch stops measuring once its results cannot be written.
        manifest = os.path.join(self.work, "m.csv")
        with open(manifest, "w") as fh:
            fh.write("align,%s,%s\n" % (p("ref.wav"), p("rec.wav")) * 6)
        self.expect(run("batch", manifest, "-j", "1", "-o", "/dev/full"), OUTPUT,
                    "/dev/full: cannot write", "stopped with 0 of 6 rows written")
        rc = subprocess.run([TOOL, "batch", manifest], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, preexec_fn=lambda: os.close(1))
        self.assertEqual(rc.returncode, OUTPUT, rc.stderr)

    def test_out_of_range_values_and_existing_outputs(self):
        p = self.path
        demo_dir = os.path.join(self.work, "signals")
        example_dir = os.path.join(self.work, "example")
        manifest = os.path.join(self.work, "window.csv")
        for d in (demo_dir, example_dir):
            os.makedirs(d)
        # An earlier run's files: each must stay as it was, and none be added.
        with open(os.path.join(demo_dir, "manifest.csv"), "w") as fh:
            fh.write("measurement,file1,file2\n")
        with open(os.path.join(example_dir, "presence.wav"), "wb") as fh:
            fh.write(b"mine")
        with open(manifest, "w") as fh:
            fh.write("measurement,file1,file2,window_s\nalign,%s,%s,1e-9\n" % (p("ref.wav"), p("rec.wav")))
        too_big = str(2 ** 64)
        cases = [
            # A window too short to align on: 0 (none) or at least 1 s.
            (["align", p("ref.wav"), p("rec.wav"), "--window", "1e-6"], USAGE, "1e-06 s", "at least 1 s"),
            (["batch", manifest], USAGE, "window_s", "at least 1 s"),
            # A seed at or past 2^64 was clamped to 2^64 - 1.
            (["generate", "attack-release", os.path.join(self.work, "s.wav"), "--seed", too_big], USAGE,
             "--seed " + too_big),
            (["generate", "transient-snr", os.path.join(self.work, "t"), "--seed", too_big], USAGE,
             "--seed " + too_big),
            # Existing files are not replaced without --force.
            (["demo", "--write-signals", demo_dir], USAGE, "manifest.csv: exists", "--force"),
            (["generate", "transient-snr", example_dir], USAGE, "presence.wav: exists", "--force"),
            (["generate", "attack-release", os.path.join(example_dir, "presence.wav")], USAGE,
             "presence.wav: exists", "--force"),
        ]
        before = {d: checksums(d) for d in (demo_dir, example_dir)}
        for args, code, *fragments in cases:
            with self.subTest(args=args):
                self.expect(run(*args), code, *fragments)
                self.assertEqual({d: checksums(d) for d in before}, before)
        for name in ("s.wav", "t"):
            self.assertFalse(os.path.exists(os.path.join(self.work, name)), name)
        # With --force they are replaced.
        self.expect(run("generate", "transient-snr", example_dir, "--force"), OK)
        self.assertEqual(sorted(checksums(example_dir)), ["activity.wav", "measured.wav", "presence.wav"])
        self.assertNotEqual(checksums(example_dir)["presence.wav"], before[example_dir]["presence.wav"])
        # generate reports what it wrote: with standard output closed or full, exit 4.
        out = os.path.join(self.work, "closed")
        rc = subprocess.run([TOOL, "generate", "transient-snr", out], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, preexec_fn=lambda: os.close(1))
        self.assertEqual(rc.returncode, OUTPUT, rc.stderr)
        self.assertFalse(os.path.exists(out), "written with nothing to report it")
        with open("/dev/full", "wb") as full:
            self.expect(run("generate", "transient-snr", os.path.join(self.work, "full"), stdout=full),
                        OUTPUT, "standard output")

    def test_memory_of_many_channels_and_streamed_headers(self):
        # 7: the read buffer is sized in bytes, not frames times channels.
        rc, out, err, peak = run("transient-snr", self.path("ch1024.wav"),
                                          self.path("ch1024.wav"), self.path("ch1024.wav"),
                                          "--channel", "1", "--json")
        # 8 frames form no 5 ms frame: flagged or too short, never an abort.
        self.assertIn(rc, (FLAGGED, BAD_INPUT), err)
        if CHECK_MEMORY:
            self.assertLess(peak, 64 * MiB)
        rc, out, err, peak = run("align", self.path("ref.wav"),
                                          self.path("streamed.wav"), "--json")
        self.assertEqual(rc, OK, err)
        self.assertEqual(err, b"")  # no progress display off a terminal
        self.assertEqual(json.loads(out)["fine_lag_samples"], 0)
        if CHECK_MEMORY:
            self.assertLess(peak, 96 * MiB)

    def test_memory_of_compressed_and_piped_inputs(self):
        # 600 s of silence as FLAC: a few KB whose header declares 28.8 M
        # samples. The estimate counts the decoded samples, not the bytes.
        flac = os.path.join(self.work, "silence600.flac")
        write_silent_flac(flac, 600 * 48000)
        self.assertLess(os.path.getsize(flac), 256 * 1024)
        small = dict(os.environ, AUDIOMEAS_AVAILABLE_MEMORY="100M")
        manifest = os.path.join(self.work, "flac.csv")
        with open(manifest, "w") as fh:
            fh.write("align,silence600.flac,silence600.flac\n")
        fifo = os.path.join(self.work, "nobody-writes")
        os.mkfifo(fifo)
        fifo_manifest = os.path.join(self.work, "fifo.csv")
        with open(fifo_manifest, "w") as fh:
            fh.write("align,%s,%s\nalign,%s,%s\n" % (self.path("ref.wav"), fifo, self.path("ref.wav"),
                                                     self.path("rec.wav")))
        with open(self.path("rec.wav"), "rb") as fh:
            rec = fh.read()
        # (name, arguments, environment, standard input, exit code, in stderr
        #  or the first results row, peak resident bytes at most)
        cases = [
            ("flac refused at the CLI", ["align", flac, flac], small, None, BAD_INPUT,
             "600.0 s", 64 * MiB),
            ("flac refused in a batch", ["batch", manifest, "--memory-budget", "100M"], None, None,
             BAD_INPUT, "memory budget", 64 * MiB),
            ("a pipe as standard input", ["align", self.path("ref.wav"), "-", "--json"], None, rec, OK,
             "", 96 * MiB),
            ("a pipe as /dev/stdin", ["align", self.path("ref.wav"), "/dev/stdin", "--json"], None, rec,
             OK, "", 96 * MiB),
            ("standard input twice", ["align", "-", "-"], None, rec, USAGE, "only one", None),
            ("a FIFO in a batch row", ["batch", fifo_manifest], None, None, BAD_INPUT,
             "not a regular file", None),
            ("a budget in exbibytes", ["batch", manifest, "--memory-budget", "16E"], None, None, USAGE,
             "--memory-budget", None),
            ("a budget of an unknown unit", ["batch", manifest, "--memory-budget", "12Q"], None, None,
             USAGE, "--memory-budget", None),
        ]
        outs = {}
        for name, args, env, stdin, code, fragment, peak_at_most in cases:
            with self.subTest(name):
                p = subprocess.Popen([TOOL, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
                out, err = p.communicate(stdin, timeout=120)
                self.assertEqual(p.returncode, code, err)
                lines = outs[name] = out.splitlines()
                where = err.decode("utf-8", "replace")
                if args[0] == "batch" and len(lines) > 1:
                    where += json.loads(lines[1]).get("error", "")
                self.assertIn(fragment, where)
                if code == OK:
                    self.assertEqual(json.loads(out)["fine_lag_samples"], 37)
                if peak_at_most and CHECK_MEMORY and stdin is None:
                    rc, _, _, peak = run(*args, env=env)
                    self.assertEqual(rc, code)
                    self.assertLess(peak, peak_at_most)
        # The FIFO row failed alone: the next row was measured.
        self.assertEqual(json.loads(outs["a FIFO in a batch row"][2])["status"], "ok")

    def test_allocation_failure_is_never_a_verdict(self):
        if not CHECK_MEMORY:
            self.skipTest("the sanitizers' shadow memory needs no address-space limit")
        # Address-space limits from below the program's need to above it: align
        # on 20 s refuses or fails for memory (exit 3, the estimate said) or
        # measures; never a flagged report about memory.
        a = noise(20 * 48000, 5)
        write_wav(os.path.join(self.work, "a.wav"), a)
        write_wav(os.path.join(self.work, "b.wav"), late(a, 100))
        import resource

        seen = set()
        for limit_mib in range(96, 320, 16):
            def limit(limit_mib=limit_mib):
                resource.setrlimit(resource.RLIMIT_AS, (limit_mib * MiB,) * 2)

            with self.subTest(limit_mib=limit_mib):
                rc, out, err, _ = run("align", os.path.join(self.work, "a.wav"),
                                      os.path.join(self.work, "b.wav"), "--json", preexec_fn=limit)
                if rc == 127:
                    continue  # the loader itself found no room
                self.assertIn(rc, (OK, BAD_INPUT), err)
                seen.add(rc)
                if rc == BAD_INPUT:
                    self.assertIn(b"needs about", err)
                else:
                    self.assertEqual(json.loads(out)["fine_lag_samples"], 100)
        self.assertEqual(seen, {OK, BAD_INPUT}, "the limits do not span the refusal")

    def test_a_killed_write_leaves_no_temporary_for_good(self):
        out = os.path.join(self.work, "out.wav")
        shutil.copy(self.path("rec.wav"), out)
        stale = os.path.join(self.work, ".out.wav.k1ll9d")
        with open(stale, "wb") as fh:
            fh.write(b"half a file")
        other = os.path.join(self.work, ".other.wav.k1ll9d")  # another output's: kept
        shutil.copy(stale, other)
        rc, _, err, _ = run("align", self.path("ref.wav"), self.path("rec.wav"), "-o", out)
        self.assertEqual(rc, OK, err)
        self.assertIn(b"removed", err)
        self.assertFalse(os.path.exists(stale))
        self.assertTrue(os.path.exists(other))
        self.assertEqual(sorted(os.listdir(self.work)), [".other.wav.k1ll9d", "out.wav"])

    def test_batch_memory_is_admitted_not_multiplied(self):
        if not CHECK_MEMORY:
            self.skipTest("peak memory means nothing under the sanitizers")
        rel = lambda f: os.path.join(SIGNALS, f)
        ar = "attack-release,%s,%s\n" % (rel("attack_release_reference.wav"),
                                         rel("attack_release_recording.wav"))
        manifest = os.path.join(self.work, "ar.csv")
        with open(manifest, "w") as fh:
            fh.write(ar * 4)
        # 8: attack-release rows hold envelo one at a time, files included.
        peaks = {}
        for jobs in ("1", "4"):
            rc, out, err, peaks[jobs] = run("batch", manifest, "-j", jobs, env=UNPOOLED)
            self.assertEqual(rc, OK, err)
            self.assertEqual(len(out.splitlines()), 5)  # the header and 4 rows
        self.assertLess(peaks["4"], 1.25 * peaks["1"], peaks)

        # Long align rows: a budget for one row at a time keeps the peak to
        # about one row's, and one row's estimate covers its peak.
        a = noise(20 * 48000, 3)
        write_wav(os.path.join(self.work, "a.wav"), a)
        write_wav(os.path.join(self.work, "b.wav"), late(a, 100))
        with open(manifest, "w") as fh:
            fh.write("align,a.wav,b.wav\n")
        rc, out, err, one = run("batch", manifest, "-j", "1", env=UNPOOLED)
        self.assertEqual(rc, OK, err)
        rc, out, err, _ = run("batch", manifest, "--memory-budget", "1M")
        self.assertEqual(rc, BAD_INPUT)
        row = json.loads(out.splitlines()[1])
        self.assertIn("memory budget", row["error"])
        estimate = float(row["error"].split("needs about ")[1].split(" MiB")[0]) * MiB
        self.assertGreater(estimate, one, "the estimate falls short of the measured peak")
        self.assertLess(estimate, 2.5 * one, "the estimate is far above the measured peak")
        with open(manifest, "w") as fh:
            fh.write("align,a.wav,b.wav\n" * 4)
        rc, out, err, budgeted = run("batch", manifest, "-j", "4", "--memory-budget",
                                     "%dM" % (1.5 * estimate / MiB), env=UNPOOLED)
        self.assertEqual(rc, OK, err)
        self.assertEqual(len(out.splitlines()), 5)
        self.assertLess(budgeted, 1.4 * one, (budgeted, one))


if __name__ == "__main__":
    TOOL, SIGNALS, WORK = sys.argv[1:4]
    CHECK_MEMORY = "--no-memory" not in sys.argv[4:]
    os.makedirs(WORK, exist_ok=True)
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(Hostile)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)

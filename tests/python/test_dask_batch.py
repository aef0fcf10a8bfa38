"""The Dask runner beside `audiomeas batch`: the same lines, each resuming the
other's file, no row lost or doubled when a worker process is killed."""

import json
import logging
import os
import shutil
import signal
import subprocess
import sys
import time
import types
from pathlib import Path

import dask
import numpy as np
import psutil
import pytest
import soundfile
from distributed import Client, LocalCluster
from helpers import transient_case

from audiomeas import _host, batch
from audiomeas.__main__ import main

CHECKOUT = Path(__file__).resolve().parents[2]
LIB_DIR = Path(os.environ.get("AUDIOMEAS_LIB_DIR") or CHECKOUT / "build" / "lib")
CLI = Path(os.environ.get("AUDIOMEAS_CLI") or LIB_DIR.parent / "bin" / "audiomeas")
FS = 16000


def cli(*args):
    assert CLI.is_file(), f"the audiomeas tool is not built at {CLI} (set AUDIOMEAS_CLI)"
    return subprocess.run([str(CLI), *map(str, args)], capture_output=True, text=True)


def lines(path):
    return [json.loads(t) for t in Path(path).read_text().splitlines()]


def by_row(path):
    header, *rest = lines(path)
    assert "audiomeas_batch" in header
    rows = {}
    for line in rest:
        assert line["row"] not in rows, f"row {line['row']} written twice"
        rows[line["row"]] = line
    return rows


def wav(path, samples, fs=FS):
    soundfile.write(path, np.asarray(samples).astype(np.int16), fs, subtype="PCM_16")
    return path.name


@pytest.fixture(scope="class")
def client():
    with dask.config.set({"distributed.scheduler.allowed-failures": batch.ALLOWED_FAILURES}):
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=":0",
                               silence_logs=logging.ERROR)
    with cluster, Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    d = tmp_path_factory.mktemp("demo")
    assert cli("demo", "--write-signals", d).returncode in (0, 1)
    return d / "manifest.csv"


@pytest.fixture(scope="module")
def small(tmp_path_factory):
    """Align and transient-snr rows on short signals: ok, flagged and failed
    rows, quoting, comments, a header, paths from the manifest's folder."""
    d = tmp_path_factory.mktemp("small")
    (d / "sub").mkdir()
    noise = 3000.0 * np.random.default_rng(1).standard_normal(FS)
    ref = wav(d / "ref.wav", noise)
    recs = [wav(d / f"rec {k}.wav", np.concatenate([np.zeros(k), noise])) for k in (7, 90, 300)]
    ok = [wav(d / f"t{i}.wav", x) for i, x in enumerate(transient_case(FS))]
    short = [wav(d / "sub" / f"s{i}.wav", x) for i, x in enumerate(transient_case(FS, burst=(100, 105)))]
    rows = ["# campaign 7", "Measurement,file1,file2,file3"]
    rows += [f'align,{ref},"{r}",' for r in recs]
    rows += ["transient-snr," + ",".join(ok), "", "transient-snr," + ",".join(f"sub/{s}" for s in short)]
    rows += [f"align,{ref},missing.wav", f"transient-snr,{ok[0]},{ok[1]},sub/../{ok[2]}"]
    # A name that is not UTF-8 is measured; one with a NUL names no file.
    latin1 = os.fsdecode(b"t2-\xe9.wav")
    shutil.copyfile(d / ok[2], os.path.join(os.fsencode(d), os.fsencode(latin1)))
    rows += [f"transient-snr,{ok[0]},{ok[1]},{latin1}", f"transient-snr,{ok[0]},{ok[1]},{ok[2]}\0.wav"]
    (d / "manifest.csv").write_bytes(("\n".join(rows) + "\n").encode("utf-8", "surrogateescape"))
    return d / "manifest.csv"


def run_cli(manifest, out, resume=False):
    return cli("batch", manifest, "-o", out, "-j", 2, *(["--resume"] if resume else [])).returncode


def run_dask(client, manifest, out, resume=False):
    return batch.run(str(manifest), str(out), client=client, resume=resume)


class TestOnOneLocalCluster:
    """Shares one two-worker cluster, closed once these are done."""

    def test_demo_and_small_manifests_give_the_tools_lines(self, client, demo, small, tmp_path):
        for name, manifest, code in (("demo", demo, 0), ("small", small, batch.EXIT_BAD_INPUT)):
            want, got = tmp_path / f"{name}.cli", tmp_path / f"{name}.dask"
            assert run_cli(manifest, want) == code
            assert run_dask(client, manifest, got) == code
            assert by_row(got) == by_row(want)
            for line in lines(got)[1:]:  # field order too
                assert list(line)[:5] == ["row", "measurement", "files", "status", "exit_code"]
        statuses = [by_row(tmp_path / "small.dask")[r]["status"] for r in range(1, 10)]
        assert statuses == ["ok"] * 4 + ["flagged", "error", "ok", "ok", "error"]


    @pytest.mark.parametrize("first, second", [(run_cli, run_dask), (run_dask, run_cli)])
    def test_either_runner_resumes_the_other(self, client, small, tmp_path, first, second):
        text = small.read_bytes().decode("utf-8", "surrogateescape").splitlines()
        half = small.parent / f"half-{first.__name__}.csv"
        half.write_text("\n".join(text[:5]) + "\n")  # comment, header and the first three rows
        out = tmp_path / "results.jsonl"
        run = {run_cli: lambda m, r: run_cli(m, out, r), run_dask: lambda m, r: run_dask(client, m, out, r)}
        assert run[first](half, False) == 0
        with open(out, "a") as f:
            f.write('{"row":4,"meas')  # a line cut by a kill
        assert run[second](small, True) == batch.EXIT_BAD_INPUT
        assert sorted(by_row(out)) == list(range(1, 10))


def test_a_killed_worker_loses_no_row(tmp_path):
    # Rows of some tens of milliseconds each, so that the kill lands mid-run.
    noise = 3000.0 * np.random.default_rng(2).standard_normal(48000)
    ref = wav(tmp_path / "ref.wav", noise, 48000)
    rec = wav(tmp_path / "rec.wav", np.concatenate([np.zeros(100), noise]), 48000)
    manifest, out, count = tmp_path / "many.csv", tmp_path / "results.jsonl", 30
    manifest.write_text(f"align,{ref},{rec}\n" * count)
    proc = subprocess.Popen([sys.executable, "-m", "audiomeas", "batch", str(manifest), "-o", str(out),
                             "--workers", "2"], stderr=subprocess.PIPE, text=True,
                            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    while not (out.exists() and out.read_text().count("\n") >= 2):  # the header and a row
        assert proc.poll() is None, proc.stderr.read()
        time.sleep(0.01)
    workers = [p for p in psutil.Process(proc.pid).children(recursive=True)
               if "spawn_main" in " ".join(p.cmdline())]
    assert len(workers) == 2
    os.kill(workers[0].pid, signal.SIGKILL)
    written_at_kill = out.read_text().count("\n")
    _, err = proc.communicate(timeout=120)
    assert written_at_kill < count + 1, "the run ended before the kill: make the rows slower"
    assert proc.returncode == 0, err
    assert "dashboard: " in err
    rows = by_row(out)
    assert sorted(rows) == list(range(1, count + 1))
    assert {r["status"] for r in rows.values()} == {"ok"}


def test_a_row_given_up_names_the_cause():
    killed = type("KilledWorker", (Exception,), {})()
    killed.last_worker, killed.allowed_failures = types.SimpleNamespace(address="tcp://10.0.0.7:4100"), 2
    for exc, words in ((killed, ["died", "3 attempts", "tcp://10.0.0.7:4100"]),
                       (OSError("cannot find libaudiomeas.so"), ["OSError", "libaudiomeas.so"])):
        report = batch.failure_report(exc)
        assert all(w in report["error"] for w in words)


ONE_ROW = "align,a.wav,b.wav\n"
HEADER = ('{"audiomeas_batch":"%s","options":{"window_s":0.0,"library_output":false,'
          '"details":false,"pad_samples":4800,"channel":null}}\n')
DONE = HEADER % _host.version() + ('{"row":1,"measurement":"align","files":["a.wav","b.wav"],"status":"error",'
        '"exit_code":3,"error":"a.wav: no such file"}\n')

# name, manifest, results file before the run (None: none), flags
JUDGED = [
    ("unknown measurement", "align,a.wav,b.wav\nlevel,a.wav,b.wav\n", None, []),
    ("too few files", "measurement,f1,f2\n\ntransient-snr,a.wav,,b.wav\n", None, []),
    ("too many files", "align,a.wav,b.wav,c.wav\n", None, []),
    ("unterminated quote", 'align,"a.wav,b.wav\n\n', None, []),
    ("text after a quote", 'align,"a.wav"x,b.wav\n', None, []),
    ("results without --resume", ONE_ROW, DONE, []),
    ("another file without --resume", ONE_ROW, "row,status\n", []),
    ("not a JSON object", ONE_ROW, DONE + "[1]\n", ["--resume"]),
    ("another manifest", ONE_ROW, DONE.replace('"a.wav","b.wav"', '"b.wav","a.wav"'), ["--resume"]),
    ("no exit code", ONE_ROW, DONE.replace('"exit_code":3,', ""), ["--resume"]),
    ("exit code out of range", ONE_ROW, DONE.replace('"exit_code":3', '"exit_code":9'), ["--resume"]),
    ("row beyond the manifest", ONE_ROW, DONE.replace('"row":1', '"row":2'), ["--resume"]),
    ("torn line of another file", ONE_ROW, DONE + '{"ro', ["--resume"]),
    ("torn result line, cut", ONE_ROW, DONE + '{"row":', ["--resume"]),
    ("torn header, cut", ONE_ROW, DONE[:40], ["--resume"]),
    ("torn line of another row layout", ONE_ROW, DONE + '{"row": 1', ["--resume"]),
    ("no header", ONE_ROW, DONE.split("\n", 1)[1], ["--resume"]),
    ("other options", ONE_ROW, DONE, ["--resume", "--pad", "100"]),
    ("byte-order mark in the results", ONE_ROW, "\ufeff" + DONE, ["--resume"]),
    ("lone surrogate in a line", ONE_ROW, DONE + '{"row":1,"x":"\\ud800"}\n', ["--resume"]),
    ("nested deep", ONE_ROW, DONE + "[" * 100000 + "]" * 100000 + "\n", ["--resume"]),
    ("byte-order mark in the manifest, said", "\ufeff" + ONE_ROW, None, []),
    ("NUL in the manifest", "align,a.wav\0,b.wav\n", None, []),
    ("option column", "measurement,file1,file2,file3,pad_samples\nattack-release,a.wav,b.wav,,2400\n",
     None, []),
    ("option not taken", "measurement,file1,file2,pad_samples\nalign,a.wav,b.wav,2400\n", None, []),
    ("option out of range", "measurement,f1,f2,pad_samples\nattack-release,a.wav,b.wav,-1\n", None, []),
    ("unknown column", "measurement,f1,f2,gain\nalign,a.wav,b.wav,2\n", None, []),
]


@pytest.mark.parametrize("case, manifest_text, results, flags", JUDGED, ids=[c[0] for c in JUDGED])
def test_manifests_and_results_are_judged_as_by_the_tool(tmp_path, capsys, case, manifest_text,
                                                         results, flags):
    manifest, out = tmp_path / "m.csv", tmp_path / "r.jsonl"
    manifest.write_text(manifest_text)

    def attempt(run):
        if results is not None:
            out.write_text(results)
        elif out.exists():
            out.unlink()
        code, err = run([manifest, "-o", out, *flags])
        return code, err, out.read_text() if out.exists() else None

    def tool(args):
        done = cli("batch", *args)
        return done.returncode, "".join(t for t in done.stderr.splitlines(True)
                                        if t.startswith(("audiomeas:", "batch:")))

    def python(args):
        code = main(["batch", "--workers", "1", *map(str, args)])
        err = capsys.readouterr().err
        # The cluster's own lines are the Dask runner's alone.
        return code, "".join(t for t in err.splitlines(True) if t.startswith(("audiomeas:", "batch:")))

    assert attempt(python) == attempt(tool)


def test_a_second_writer_is_refused_by_either_runner(tmp_path, capsys):
    """While one batch holds the results file, neither runner writes to it."""
    import fcntl

    manifest, out = tmp_path / "m.csv", tmp_path / "r.jsonl"
    manifest.write_text(ONE_ROW)
    out.write_text(DONE)
    with open(out) as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        done = cli("batch", manifest, "-o", out, "--resume")
        code = main(["batch", str(manifest), "-o", str(out), "--resume"])
    assert (done.returncode, code) == (batch.EXIT_OUTPUT, batch.EXIT_OUTPUT)
    assert "another batch is writing it" in capsys.readouterr().err
    assert out.read_text() == DONE


@pytest.mark.parametrize("args, code", [(["--scheduler", "garbage"], batch.EXIT_USAGE),
                                        (["--channel", "4294967297"], batch.EXIT_USAGE),
                                        ([], batch.EXIT_OUTPUT)])
def test_the_dask_runner_fails_with_the_tools_codes(tmp_path, args, code):
    """A bad scheduler address is a usage error; a closed standard output, 4: never a
    traceback and exit 1 ("a row flagged")."""
    manifest = tmp_path / "m.csv"
    manifest.write_text(ONE_ROW)
    where = {"stdout": subprocess.DEVNULL} if args else {"preexec_fn": lambda: os.close(1)}
    env = dict(os.environ, PYTHONPATH=str(CHECKOUT / "python"))
    done = subprocess.run([sys.executable, "-m", "audiomeas", "batch", str(manifest), *args],
                          stderr=subprocess.PIPE, text=True, env=env, timeout=120, **where)
    assert done.returncode == code, done.stderr
    assert "Traceback" not in done.stderr

"""Every JSON output against schema/audiomeas.schema.json.

The tool's reports with and without --details, flagged ones, the demo, the
results files of both batch runners, the C API's reports, error objects and
generator descriptions as the Python package receives them; and the schema
itself: a type and a description for every field, the host's measurements
and arguments, and closed where it says so.
"""

import copy
import csv
import functools
import importlib.machinery
import importlib.util
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import soundfile

CHECKOUT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(CHECKOUT / "tests" / "support"), str(CHECKOUT / "python")]

import schema  # noqa: E402
from schema import SchemaViolation, validate  # noqa: E402

from audiomeas import _host, generate  # noqa: E402
from audiomeas.io import load  # noqa: E402

LIB_DIR = Path(os.environ.get("AUDIOMEAS_LIB_DIR") or CHECKOUT / "build" / "lib")
CLI = Path(os.environ.get("AUDIOMEAS_CLI") or LIB_DIR.parent / "bin" / "audiomeas")
FS = 48000

DEMO = None  # in a case's files: the demo's signals of its measurement


@functools.cache
def _tables():
    loader = importlib.machinery.SourceFileLoader("schema_tables", str(CHECKOUT / "tools" / "schema-tables"))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module.Tables(schema.schema())


def details_paths(definition):
    """The fields a definition marks (details), by path."""
    return [p for p, text in _tables().rows(schema.schema()["$defs"][definition], "", {})
            if text.startswith("(details)")]


def at(report, path):
    for key in path.split("."):
        report = report[key]
    return report


def run(*args, cwd=None):
    assert CLI.is_file(), f"the audiomeas tool is not built at {CLI} (set AUDIOMEAS_CLI)"
    return subprocess.run([str(CLI), *map(str, args)], capture_output=True, text=True, cwd=cwd,
                          timeout=600)


@pytest.fixture(scope="module")
def signals(tmp_path_factory):
    """The demo's signals and its --json (demo.json), a steady sine
    (pilot.wav) and a 20 ms blip (blip.wav: as the activity signal, too
    short for transient-snr)."""
    d = tmp_path_factory.mktemp("signals")
    p = run("demo", "--json", "--write-signals", d)
    assert p.returncode == 0, p.stderr
    (d / "demo.json").write_text(p.stdout)
    t = np.arange(FS)
    soundfile.write(d / "pilot.wav", (8000 * np.sin(t * 0.1)).astype(np.int16), FS, subtype="PCM_16")
    blip = np.where((t >= FS // 2) & (t < FS // 2 + FS // 50), 16000 * np.sign(np.sin(t * 0.3)), 0)
    soundfile.write(d / "blip.wav", blip.astype(np.int16), FS, subtype="PCM_16")
    return d


@pytest.fixture(scope="module")
def demo_files(signals):
    """The demo's files of each measurement, as its manifest lists them."""
    with open(signals / "manifest.csv", newline="") as f:
        return {row[0]: [name for name in row[1:] if name] for row in list(csv.reader(f))[1:]}


def test_demo(signals):
    demo = validate(json.loads((signals / "demo.json").read_text()), "demo")
    assert demo["all_agree"] and demo["signals_dir"] == str(signals)


CLI_CASES = [
    # id, measurement, files, extra arguments, exit code
    ("align", "align", DEMO, [], 0),
    ("align-details", "align", DEMO, ["--details"], 0),
    ("align-window", "align", DEMO, ["--window", "1.5", "-o", "aligned.wav"], 0),
    ("align-library-output", "align", DEMO, ["--library-output", "--details"], 0),
    # A sine matches itself at every period: the peak is not distinct.
    ("align-periodic", "align", ["pilot.wav", "pilot.wav"], [], 1),
    ("attack-release", "attack-release", DEMO, [], 0),
    ("attack-release-details", "attack-release", DEMO, ["--details"], 0),
    ("transient-snr", "transient-snr", DEMO, [], 0),
    ("transient-snr-details", "transient-snr", DEMO, ["--details"], 0),
    ("transient-snr-warning", "transient-snr", ["pilot.wav", "blip.wav", "pilot.wav"], ["--details"], 1),
]
FLAG = {"align": "alignment_failed", "attack-release": "alignment_failed", "transient-snr": "warning"}


@pytest.mark.parametrize("measurement,files,extra,code", [c[1:] for c in CLI_CASES],
                         ids=[c[0] for c in CLI_CASES])
def test_tool_reports(signals, demo_files, measurement, files, extra, code):
    p = run(measurement, *(files or demo_files[measurement]), "--json", *extra, cwd=signals)
    assert p.returncode == code, p.stderr
    report = validate(json.loads(p.stdout), f"{measurement}-files")
    assert report[FLAG[measurement]] == (code == 1)
    for path in details_paths(f"{measurement}-files"):
        assert (at(report, path) is not None) == ("--details" in extra), path


def api_signals(signals, demo_files, measurement):
    scale = "unit" if measurement == "align" else "int16"
    return [load(signals / f, scale=scale).samples for f in demo_files[measurement]]


API_CASES = [
    # measurement, C call's name, arguments after the signals (flags last)
    ("align", "align", [FS, 0.0]),
    ("attack-release", "attack_release", [FS, _host.DEFAULT_PAD]),
    ("transient-snr", "transient_snr", [FS]),
]


@pytest.mark.parametrize("flags", [0, _host.DETAILS], ids=["plain", "details"])
@pytest.mark.parametrize("measurement,name,args", API_CASES, ids=[c[0] for c in API_CASES])
def test_c_api_reports(signals, demo_files, measurement, name, args, flags):
    arrays = api_signals(signals, demo_files, measurement)
    code, report, _ = _host.call(name, *_host.signal_args(*arrays), *args, flags)
    assert code == 0, report
    validate(report, measurement)
    code, report = _host.measure_files(measurement, [signals / f for f in demo_files[measurement]],
                                       details=bool(flags))
    assert code == 0, report
    validate(report, f"{measurement}-files")


def refusal(signals, demo_files, kind):
    ref, rec = api_signals(signals, demo_files, "align")
    bad = rec.copy()
    bad[7] = np.nan
    return {
        "nan-sample": lambda: _host.call("align", *_host.signal_args(ref, bad), FS, 0.0, 0),
        "negative-window": lambda: _host.call("align", *_host.signal_args(ref, rec), FS, -1.0, 0),
        "pad-out-of-range": lambda: _host.call("attack_release", *_host.signal_args(ref, rec), FS, -5, 0),
        "missing-file": lambda: _host.measure_files("align", [signals / "nowhere.wav"] * 2) + (None,),
        "unknown-colour": lambda: _host.collect(generate._library().audiomeas_generate_attack_release(
            math.nan, math.nan, b"purple", 1)),
    }[kind]()


@pytest.mark.parametrize("kind,argument,index", [
    ("nan-sample", "recording", 7),
    ("negative-window", "window", None),
    ("pad-out-of-range", "pad_samples", None),
    ("missing-file", None, None),
    ("unknown-colour", None, None),
])
def test_c_api_errors(signals, demo_files, kind, argument, index):
    code, error, samples = refusal(signals, demo_files, kind)
    assert code in (_host.EXIT_USAGE, _host.EXIT_BAD_INPUT) and samples is None
    validate(error, "error")
    assert (error.get("argument"), error.get("index")) == (argument, index)


# Under an address-space limit a little above what the process holds, a
# minute of align on files is refused before any work, with the figures.
UNDER_LIMIT = """
import json, resource, sys
from audiomeas import _host
size = next(int(t.split()[1]) * 1024 for t in open("/proc/self/status") if t.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (size + 150 * 2**20,) * 2)
print(json.dumps(_host.measure_files("align", [sys.argv[1]] * 2)))
"""


def test_memory_refusal_error(tmp_path):
    long = tmp_path / "long.wav"
    noise = 3000 * np.random.default_rng(1).standard_normal(FS * 60)
    soundfile.write(long, noise.astype(np.int16), FS, subtype="PCM_16")
    env = dict(os.environ, PYTHONPATH=str(CHECKOUT / "python"))
    p = subprocess.run([sys.executable, "-c", UNDER_LIMIT, str(long)], capture_output=True, text=True,
                       timeout=300, env=env)
    assert p.returncode == 0, p.stderr
    code, error = json.loads(p.stdout)
    assert code == _host.EXIT_BAD_INPUT
    validate(error, "error")
    assert error["needed_bytes"] > error["available_bytes"]


def test_generator_descriptions():
    lib = generate._library()
    _, stimulus, samples = _host.collect(lib.audiomeas_generate_attack_release(-35.0, 15.0, b"pink", 7))
    assert validate(stimulus, "stimulus")["samples"] == len(samples)
    x = np.zeros(4800)
    _, model, _ = _host.collect(lib.audiomeas_model_compressor(*_host.signal_args(x), FS, -20.0, 4.0, 0.5,
                                                               2.0))
    validate(model, "compressor")


# A manifest of every status (each measurement ok, a flagged row, a row whose
# file is missing) and rows setting their own options in named columns.
OPTION_COLUMNS = ["pad_samples", "window_s"]
MANIFEST_ROWS = [
    # measurement, files, the row's options, status
    ("align", DEMO, {"window_s": 1.5}, "ok"),
    ("attack-release", DEMO, {"pad_samples": 1200}, "ok"),
    ("transient-snr", DEMO, {}, "ok"),
    ("align", ["pilot.wav", "pilot.wav"], {}, "flagged"),
    ("transient-snr", ["pilot.wav", "nowhere.wav", "pilot.wav"], {}, "error"),
]
BATCH_OPTIONS = ["--details", "--pad", "2400"]

RUNNERS = {
    "tool": lambda manifest, out: [str(CLI), "batch", manifest, "-o", out, "-j", "2", *BATCH_OPTIONS],
    "dask": lambda manifest, out: [sys.executable, "-m", "audiomeas", "batch", manifest, "-o", out,
                                   "--workers", "1", *BATCH_OPTIONS],
}


def manifest_text(signals, demo_files):
    lines = [",".join(["measurement", "file1", "file2", "file3", *OPTION_COLUMNS])]
    for m, files, options, _ in MANIFEST_ROWS:
        files = files or demo_files[m]
        cells = [str(signals / f) for f in files] + [""] * (3 - len(files))
        lines.append(",".join([m, *cells, *(str(options.get(k, "")) for k in OPTION_COLUMNS)]))
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("runner", list(RUNNERS))
def test_batch_results_file(signals, demo_files, tmp_path, runner):
    if runner == "dask" and importlib.util.find_spec("distributed") is None:
        pytest.skip("python3-distributed is not installed")
    manifest = tmp_path / "manifest.csv"
    manifest.write_text(manifest_text(signals, demo_files))
    out = tmp_path / "results.jsonl"
    env = dict(os.environ, PYTHONPATH=str(CHECKOUT / "python"))
    p = subprocess.run(RUNNERS[runner](manifest, out), capture_output=True, text=True, timeout=600, env=env)
    assert p.returncode == _host.EXIT_BAD_INPUT, p.stderr  # the error row
    header, *lines = schema.read_lines(out)
    validate(header, "batch-header")
    assert header["audiomeas_batch"] == run("--version").stdout.strip()
    # Every batch-wide option, with its value.
    assert set(header["options"]) == set(schema.schema()["$defs"]["options"]["properties"])
    assert (header["options"]["details"], header["options"]["pad_samples"]) == (True, 2400)
    rows = sorted((validate(line, "batch-row") for line in lines), key=lambda r: r["row"])
    assert [(r["row"], r.get("options", {}), r["status"]) for r in rows] == [
        (i, options, status) for i, (_, _, options, status) in enumerate(MANIFEST_ROWS, 1)]
    assert rows[1]["result"]["pad_samples"] == 1200
    assert all(r["result"]["correlation"] is not None for r in rows[:2])


def test_schema_is_a_valid_2020_12_schema():
    import jsonschema

    jsonschema.Draft202012Validator.check_schema(schema.schema())


def fields(node, where="$"):
    """(path, field schema) of every property the schema describes; the
    conditions of if/then/else name properties without describing them."""
    if isinstance(node, dict):
        for key, value in node.items():
            if key in ("if", "then", "else"):
                continue
            if key == "properties":
                for name, sub in value.items():
                    yield f"{where}.{name}", sub
            yield from fields(value, f"{where}.{key}")
    elif isinstance(node, list):
        for i, value in enumerate(node):
            yield from fields(value, f"{where}[{i}]")


def test_every_field_has_a_type_and_a_description():
    defs = schema.schema()["$defs"]

    def own_or_referenced(sub, key):
        if key in sub:
            return sub[key]
        ref = sub.get("$ref", "")
        return defs[ref.rsplit("/", 1)[-1]].get(key) if ref else None

    missing = [(path, key) for path, sub in fields(schema.schema()) for key in ("type", "description")
               if not own_or_referenced(sub, key)]
    assert missing == []


def test_measurements_and_their_files_are_the_hosts():
    defs = schema.schema()["$defs"]
    measurements = _host.measurements()
    assert list(measurements) == defs["measurement-name"]["enum"]
    for name, arguments in measurements.items():
        files = [k for k, v in defs[f"{name}-files"]["properties"].items() if v["type"] == "string"]
        assert files == arguments, name


def mutated(report, change):
    out = copy.deepcopy(report)
    change(out)
    return out


def _set(path, value):
    def change(r):
        *outer, last = path
        for k in outer:
            r = r[k]
        r[last] = value
    return change


@pytest.fixture(scope="module")
def attack_release(signals, demo_files):
    """An attack-release report, and the same measurement as a batch row."""
    ref, rec = api_signals(signals, demo_files, "attack-release")
    _, report, _ = _host.call("attack_release", *_host.signal_args(ref, rec), FS, _host.DEFAULT_PAD, 0)
    files = [signals / f for f in demo_files["attack-release"]]
    code, result = _host.measure_files("attack-release", files)
    row = {"row": 1, "measurement": "attack-release", "files": [str(f) for f in files], "status": "ok",
           "exit_code": code, "result": result}
    return validate(report, "attack-release"), validate(row, "batch-row")


MUTATIONS = [
    # what the schema must refuse in a report
    ("an undescribed field", _set(["new_field"], 1)),
    ("an undescribed nested field", _set(["peak", "new_field"], 1)),
    ("a count written as a float", _set(["reference_samples"], 5544000.0)),
    ("a number that is not finite", _set(["total_delay_samples"], math.nan)),
    ("a test nobody described", _set(["tests", 0, "test"], "new_test")),
    ("a flag that is not a boolean", _set(["alignment_failed"], 0)),
    ("a missing field", lambda r: r.pop("match")),
    ("a file field outside a file report", _set(["reference"], "ref.wav")),
]


@pytest.mark.parametrize("change", [m[1] for m in MUTATIONS], ids=[m[0] for m in MUTATIONS])
def test_reports_refuse(attack_release, change):
    with pytest.raises(SchemaViolation):
        validate(mutated(attack_release[0], change), "attack-release")


BATCH_MUTATIONS = [
    ("ok without a result", lambda r: r.pop("result")),
    ("ok with an error", _set(["error"], "why")),
    ("ok with a flagged exit code", _set(["exit_code"], 1)),
    ("another measurement's result", lambda r: r.update(measurement="transient-snr", files=["p", "a", "m"])),
    ("an error row with a result", lambda r: r.update(status="error", exit_code=3, error="why")),
    ("a row number below 1", _set(["row"], 0)),
    ("an undescribed option", _set(["options"], {"speed": 2})),
]


@pytest.mark.parametrize("change", [m[1] for m in BATCH_MUTATIONS], ids=[m[0] for m in BATCH_MUTATIONS])
def test_batch_rows_refuse(attack_release, change):
    with pytest.raises(SchemaViolation):
        validate(mutated(attack_release[1], change), "batch-line")

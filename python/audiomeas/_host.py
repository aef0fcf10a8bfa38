"""The host layer, libaudiomeas, over ctypes.

Every measurement goes through it: it checks the inputs, runs the three
libraries' own code and returns a JSON report (or an error) with, for align,
the aligned samples. The report's field names are the host layer's; this
package only turns them into Python objects.
"""

from __future__ import annotations

import ctypes
import json
import os

import numpy as np

from . import _loader

_c_double_p = ctypes.POINTER(ctypes.c_double)
_result_p = ctypes.c_void_p

# Flags of the measurement calls (include/audiomeas.h).
DETAILS = 1
LIBRARY_OUTPUT = 2
DEFAULT_PAD = -(2**63)

# Result codes (include/audiomeas.h, AUDIOMEAS_OK ...), also the tool's exit codes.
EXIT_OK, EXIT_FLAGGED, EXIT_USAGE, EXIT_BAD_INPUT, EXIT_OUTPUT = 0, 1, 2, 3, 4


def _setup(lib: ctypes.CDLL) -> None:
    signal = [_c_double_p, ctypes.c_int64]
    lib.audiomeas_align.argtypes = signal * 2 + [ctypes.c_double, ctypes.c_double, ctypes.c_uint]
    lib.audiomeas_attack_release.argtypes = signal * 2 + [ctypes.c_double, ctypes.c_int64,
                                                           ctypes.c_uint]
    lib.audiomeas_transient_snr.argtypes = signal * 3 + [ctypes.c_double, ctypes.c_uint]
    lib.audiomeas_measure_files.argtypes = [ctypes.c_char_p]
    lib.audiomeas_measurements.argtypes = []
    lib.audiomeas_measurements.restype = ctypes.c_char_p
    for name in ("align", "attack_release", "transient_snr", "measure_files"):
        getattr(lib, f"audiomeas_{name}").restype = _result_p
    lib.audiomeas_result_code.argtypes = [_result_p]
    lib.audiomeas_result_code.restype = ctypes.c_int
    lib.audiomeas_result_json.argtypes = [_result_p]
    lib.audiomeas_result_json.restype = ctypes.c_char_p
    lib.audiomeas_result_samples.argtypes = [_result_p, ctypes.POINTER(ctypes.c_int64)]
    lib.audiomeas_result_samples.restype = _c_double_p
    lib.audiomeas_result_free.argtypes = [_result_p]
    lib.audiomeas_result_free.restype = None


def library() -> ctypes.CDLL:
    return _loader.library("audiomeas", _setup)


def measurements() -> dict[str, list[str]]:
    """Each measurement the host layer runs on files, with its signal
    arguments in order (one file each)."""
    return json.loads(library().audiomeas_measurements())


def signal_args(*arrays: np.ndarray) -> list:
    """(pointer, length) pairs lending contiguous float64 arrays to a call."""
    out: list = []
    for a in arrays:
        out += [a.ctypes.data_as(_c_double_p), a.size]
    return out


def collect(result) -> tuple[int, dict, np.ndarray | None]:
    """Exit code, report (or {"error": ...}) and samples of a result, which
    is released."""
    lib = library()
    try:
        code = lib.audiomeas_result_code(result)
        report = json.loads(lib.audiomeas_result_json(result).decode("utf-8"))
        count = ctypes.c_int64()
        data = lib.audiomeas_result_samples(result, ctypes.byref(count))
        samples = np.ctypeslib.as_array(data, shape=(count.value,)).copy() if data else None
    finally:
        lib.audiomeas_result_free(result)
    return code, report, samples


def call(name: str, *args) -> tuple[int, dict, np.ndarray | None]:
    return collect(getattr(library(), f"audiomeas_{name}")(*args))


def _job_path(path) -> str | list[int]:
    """A file name as a job gives it: text, or its bytes when not UTF-8."""
    raw = os.fsencode(path)
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return list(raw)


def measure_files(measurement: str, files, channel: int = 0, *, details: bool = False,
                  pad_samples: int | None = None) -> tuple[int, dict]:
    """One measurement on audio files exactly as ``audiomeas batch`` runs a
    row: the exit code and the report (with the file names), or
    {"error": message} with exit code 2 or 3."""
    job = {"measurement": measurement, "files": [_job_path(f) for f in files],
           "channel": int(channel), "details": bool(details)}
    if pad_samples is not None:
        job["pad_samples"] = int(pad_samples)
    text = json.dumps(job, ensure_ascii=False).encode("utf-8")
    code, report, _ = collect(library().audiomeas_measure_files(text))
    return code, report

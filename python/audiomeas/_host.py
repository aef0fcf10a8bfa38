"""The host layer, libaudiomeas, over ctypes.

Every measurement goes through it: it checks the inputs, runs the three
libraries' own code and returns a JSON report (or an error) with, for align,
the aligned samples. The report's field names are the host layer's; this
package only turns them into Python objects.
"""

from __future__ import annotations

import ctypes
import functools
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
    lib.audiomeas_measure.argtypes = [ctypes.c_char_p, ctypes.POINTER(_c_double_p),
                                      ctypes.POINTER(ctypes.c_int64), ctypes.c_int, ctypes.c_double,
                                      ctypes.c_char_p]
    for name in ("measurements", "measurement_table", "version"):
        getattr(lib, f"audiomeas_{name}").argtypes = []
        getattr(lib, f"audiomeas_{name}").restype = ctypes.c_char_p
    lib.audiomeas_batch_open.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
    lib.audiomeas_batch_record.argtypes = [ctypes.c_void_p, ctypes.c_int64, ctypes.c_int,
                                           ctypes.c_char_p]
    lib.audiomeas_batch_summary.argtypes = [ctypes.c_void_p, ctypes.c_int64]
    lib.audiomeas_batch_free.argtypes = [ctypes.c_void_p]
    lib.audiomeas_batch_free.restype = None
    for name in ("align", "attack_release", "transient_snr", "measure", "measure_files",
                 "batch_open", "batch_record", "batch_summary"):
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


@functools.lru_cache(maxsize=None)
def table() -> dict:
    """The host layer's measurement table (include/audiomeas.h,
    audiomeas_measurement_table): each measurement's arguments and options
    with their types, defaults, limits and units."""
    return json.loads(library().audiomeas_measurement_table())


def version() -> str:
    return library().audiomeas_version().decode("ascii")


def measure(name: str, arrays: list[np.ndarray], sample_rate: float, options: dict):
    """Any measurement of the table on contiguous float64 arrays."""
    count = len(arrays)
    pointers = (_c_double_p * count)(*[a.ctypes.data_as(_c_double_p) for a in arrays])
    lengths = (ctypes.c_int64 * count)(*[a.size for a in arrays])
    text = json.dumps(options).encode("utf-8")
    return collect(library().audiomeas_measure(name.encode("utf-8"), pointers, lengths, count,
                                               sample_rate, text))


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


def measure_files(measurement: str, files, channel: int | str = 0, **options) -> tuple[int, dict]:
    """One measurement on audio files exactly as ``audiomeas batch`` runs a
    row: the exit code and the report (with the file names), or
    {"error": message} with exit code 2 or 3. options: the measurement's, by
    key (details=True, pad_samples=2400, ...)."""
    job = {"measurement": measurement, "files": [_job_path(f) for f in files],
           "channel": channel, **options}
    return measure_job(json.dumps(job, ensure_ascii=False))


def measure_job(job: str) -> tuple[int, dict]:
    """A job as JSON text (a batch's, as audiomeas_batch_open gives it)."""
    code, report, _ = collect(library().audiomeas_measure_files(job.encode("utf-8")))
    return code, report


class Batch:
    """An open batch of the host layer (audiomeas_batch_open): its rows to
    measure, and the results file they are recorded in. Raises
    BatchFailure when it cannot be opened."""

    def __init__(self, request: dict):
        lib = library()
        handle = ctypes.c_void_p()
        code, opened, _ = collect(lib.audiomeas_batch_open(json.dumps(request).encode("utf-8"),
                                                           ctypes.byref(handle)))
        if code != EXIT_OK:
            raise BatchFailure(code, opened.get("error", f"exit code {code}"))
        self._handle = handle
        self.rows, self.done_before = opened["rows"], opened["done_before"]
        self.notes, self.todo = opened["notes"], opened["todo"]

    def record(self, row: int, code: int, report: dict) -> str | None:
        """Appends the row's line; gives what to tell the user now, if anything."""
        text = json.dumps(report, ensure_ascii=False, allow_nan=False, default=str)
        code, answer, _ = collect(library().audiomeas_batch_record(self._handle, row, code,
                                                                   text.encode("utf-8", "replace")))
        if code != EXIT_OK:
            raise BatchFailure(code, answer.get("error", f"exit code {code}"))
        return answer["notice"]

    def summary(self, not_run: int = 0) -> dict:
        _, summary, _ = collect(library().audiomeas_batch_summary(self._handle, not_run))
        return summary

    def close(self) -> None:
        if self._handle:
            library().audiomeas_batch_free(self._handle)
            self._handle = None


class BatchFailure(Exception):
    """A batch that cannot go on, with the tool's exit code."""

    def __init__(self, code: int, message: str):
        super().__init__(message)
        self.code = code

"""The campaign report: one self-contained HTML page over a batch results
file, made by the host layer (audiomeas_campaign_report), the very code of
``audiomeas report``."""

from __future__ import annotations

import ctypes
import os

from . import _host


def report(results, output) -> dict:
    """Writes the page over ``results`` (a results file of ``audiomeas
    batch`` or of :mod:`audiomeas.batch`) to ``output`` and returns its
    summary: rows by status and verdict, the reasons counted, each
    measurement's figures, the page's size. A results file still being
    written gives a page of its complete lines (``summary["torn"]``).
    Raises ValueError when ``output`` is ``results`` or the results cannot
    be read or are no batch's, OSError when the page cannot be written."""
    lib = _host.library()
    function = lib.audiomeas_campaign_report
    function.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    function.restype = ctypes.c_void_p
    code, summary, _ = _host.collect(function(os.fsencode(results), os.fsencode(output)))
    if code == _host.EXIT_OK:
        return summary
    message = summary.get("error", f"exit code {code}")
    if code == _host.EXIT_OUTPUT:
        raise OSError(message)
    raise ValueError(message)

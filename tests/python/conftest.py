"""Shared set-up of the Python tests.

The package is imported from this checkout (python/), ahead of any installed
copy. The libraries come from AUDIOMEAS_LIB_DIR when set (ctest sets it to
the build's library folder), else from the package's usual search.

``raw`` calls the libraries through hand-built ctypes structures, without
the package's own container code, so the wrappers can be compared with the
C results on the same data.
"""

import ctypes
import os
import sys
from pathlib import Path

import numpy as np
import pytest

CHECKOUT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(CHECKOUT / "python"))
sys.path.insert(0, str(CHECKOUT / "tests" / "support"))

from audiomeas import _host, _loader  # noqa: E402
from host_arrays import column, values  # noqa: E402
from schema import validating  # noqa: E402

_host.collect = validating(_host.collect)  # every result the tests get is checked against the schema


class Raw:
    """The C entry points called with host-built containers."""

    def __init__(self):
        self._libs = {}

    def lib(self, name):
        if name not in self._libs:
            lib = ctypes.CDLL(str(_loader.locate(name)), mode=os.RTLD_LOCAL)
            init = {"envelo": "envelo_estimation_initialize", "burstra": "burstra_initialize"}
            if name in init:
                getattr(lib, init[name])()
            self._libs[name] = lib
        return self._libs[name]

    def synkro(self, ref, rec, fs):
        r, kr = column(ref)
        s, ks = column(rec)
        out, ko = column(np.zeros(len(ref)))
        lag, failed = ctypes.c_double(), ctypes.c_double()
        self.lib("synkro").synkro_2(ctypes.byref(r), ctypes.byref(s), ctypes.c_double(fs),
                                    ctypes.byref(out), ctypes.byref(lag), ctypes.byref(failed))
        aligned = values(out)
        assert not out.ownsData, "an output block of full length must be used as it is"
        return aligned, lag.value, failed.value

    def burstra(self, presence, activity, measured, fs):
        cols = [column(x) for x in (presence, activity, measured)]
        d, a, w = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
        self.lib("burstra").burstra(*(ctypes.byref(c[0]) for c in cols), ctypes.c_double(fs),
                                    ctypes.byref(d), ctypes.byref(a), ctypes.byref(w))
        return d.value, a.value, w.value

    def envelo(self, reference, recording):
        """(rise, fall, failed) of envelo_estimation, as the library returns them."""
        (r, kr), (c, kc) = column(reference), column(recording)
        rise, fall, failed = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
        self.lib("envelo").envelo_estimation(
            ctypes.byref(r), ctypes.byref(c), ctypes.c_double(0.0), ctypes.c_double(0.0),
            ctypes.byref(rise), ctypes.byref(fall), ctypes.byref(failed))
        return rise.value, fall.value, failed.value


@pytest.fixture(scope="session")
def raw():
    return Raw()

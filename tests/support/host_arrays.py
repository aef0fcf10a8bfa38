"""emxBuffer_real_T containers built in Python the way a host builds them,
for calling the libraries' C entry points directly (tests, benchmarks)."""
import ctypes

import numpy as np


class Emx(ctypes.Structure):
    _fields_ = [
        ("data", ctypes.c_void_p),
        ("size", ctypes.POINTER(ctypes.c_int32)),
        ("capacity", ctypes.c_int32),
        ("dimCount", ctypes.c_int32),
        ("ownsData", ctypes.c_uint8),
    ]


def column(values, copy=True):
    """(container, keep-alive) of a float64 column over a copy of values (or
    over values themselves, a contiguous float64 array, when copy is false);
    the container does not own its block, which lives as long as keep-alive."""
    a = np.array(values, dtype=np.float64) if copy else np.ascontiguousarray(values, np.float64)
    size = (ctypes.c_int32 * 1)(a.size)
    return Emx(a.ctypes.data, size, a.size, 1, 0), (a, size)


def values(container):
    """A copy of a container's current values."""
    n = container.size[0]
    return np.ctypeslib.as_array(ctypes.cast(container.data, ctypes.POINTER(ctypes.c_double)),
                                 shape=(n,)).copy()

"""The array container that crosses the library boundary, built in ctypes.

All three libraries take signals as ``emxBuffer_real_T``: data pointer, size
pointer, int32 capacity, int32 dimCount, one-byte ownsData (32 bytes on
x86-64). synkro exports no array API, so the package builds every container
itself, for all three libraries alike. An input container only borrows the
numpy array's memory (ownsData false); the caller keeps the array alive for
the duration of the call.
"""

from __future__ import annotations

import ctypes

import numpy as np

from . import _loader

INT32_MAX = 2**31 - 1

c_double_p = ctypes.POINTER(ctypes.c_double)


class EmxBufferReal(ctypes.Structure):
    _fields_ = [
        ("data", c_double_p),
        ("size", ctypes.POINTER(ctypes.c_int32)),
        ("capacity", ctypes.c_int32),
        ("dimCount", ctypes.c_int32),
        ("ownsData", ctypes.c_bool),
    ]


EmxBufferReal_p = ctypes.POINTER(EmxBufferReal)

assert ctypes.sizeof(EmxBufferReal) == 32, "emxBuffer_real_T layout"


class Column:
    """A one-dimensional container over a contiguous float64 numpy array.

    The array's length is both size[0] and the capacity, so a library that
    needs no more elements writes straight into the array. Keeps references
    to the array and the size block so neither is collected during a call.
    """

    __slots__ = ("array", "_size", "struct")

    def __init__(self, array: np.ndarray):
        assert array.dtype == np.float64 and array.ndim == 1
        assert array.flags.c_contiguous and array.size <= INT32_MAX
        self.array = array
        self._size = (ctypes.c_int32 * 1)(array.size)
        self.struct = EmxBufferReal(
            array.ctypes.data_as(c_double_p), self._size, array.size, 1, False
        )

    @property
    def ref(self):
        return ctypes.byref(self.struct)

    def length(self) -> int:
        return int(self._size[0])

    def take(self) -> np.ndarray:
        """The container's contents after a call that may have resized it.

        When the library had to enlarge the block it replaced ``data`` with a
        malloc'd block of its own and set ownsData: the values are copied out
        and that block is released with the C library's free.
        """
        n = self.length()
        data = self.struct.data
        base = self.array.ctypes.data
        if not data or ctypes.cast(data, ctypes.c_void_p).value == base:
            return self.array[:n]
        try:
            out = np.ctypeslib.as_array(data, shape=(n,)).copy() if n > 0 else np.empty(0)
        finally:
            if self.struct.ownsData:
                _loader.libc().free(ctypes.cast(data, ctypes.c_void_p))
            self.struct.data = c_double_p()
            self.struct.capacity = 0
        return out

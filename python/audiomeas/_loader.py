"""Finding and loading the shared libraries.

Search order for ``lib<name>.so``:

1. the folder named by the environment variable ``AUDIOMEAS_LIB_DIR`` (when
   set, nothing else is searched, so a test run never picks up a stale copy);
2. the installed locations: ``lib/`` inside this package (a wheel carries
   the libraries there), then the ``lib`` folders of the install prefixes
   above the package (a CMake install puts the libraries in ``<prefix>/lib``);
3. ``<checkout>/build/lib`` when the package is imported straight from a
   source checkout;
4. the system's libraries, by their SONAME (``lib<name>.so.N``) where the
   dynamic linker finds them, such as the multiarch folder that the Debian
   package ``libaudiomeas1`` installs into.

Nothing about the machine that built the package is recorded in it.

Each library is loaded once per process with RTLD_LOCAL: envelo and burstra
both export ``rms`` and ``sum`` with different signatures, so neither may
resolve the other's symbols.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path

ENV_VAR = "AUDIOMEAS_LIB_DIR"

_PACKAGE_DIR = Path(__file__).resolve().parent

_lock = threading.Lock()
_loaded: dict[str, ctypes.CDLL] = {}
_libc: ctypes.CDLL | None = None


def search_dirs(environ=None) -> list[Path]:
    """Folders searched for the libraries, in order, without duplicates."""
    environ = os.environ if environ is None else environ
    override = environ.get(ENV_VAR)
    if override:
        return [Path(override)]
    dirs = [_PACKAGE_DIR / "lib"]
    # site-packages sits at <prefix>/lib/python3.X/site-packages (or
    # <prefix>/lib/python3/dist-packages on Debian): look in the lib folders
    # of the first few levels above the package, then the interpreter prefix.
    for parent in list(_PACKAGE_DIR.parents)[:4]:
        if parent.name in ("lib", "lib64"):
            dirs.append(parent)
        else:
            dirs.append(parent / "lib")
    dirs.append(Path(sys.prefix) / "lib")
    checkout = _PACKAGE_DIR.parent.parent
    if (checkout / "CMakeLists.txt").is_file():
        dirs.append(checkout / "build" / "lib")
    unique: list[Path] = []
    for d in dirs:
        if d not in unique:
            unique.append(d)
    return unique


def system_library(name: str) -> str | None:
    """The SONAME of lib<name> where the dynamic linker finds it (its cache
    of the system's library folders), None when it finds none."""
    return ctypes.util.find_library(name)


def locate(name: str, environ=None) -> Path | str:
    """Path of lib<name>.so, else the SONAME of a system copy; OSError naming
    every place searched if neither is found."""
    filename = f"lib{name}.so"
    environ = os.environ if environ is None else environ
    dirs = search_dirs(environ)
    for d in dirs:
        candidate = d / filename
        if candidate.is_file():
            return candidate
    if not environ.get(ENV_VAR):
        found = system_library(name)
        if found:
            return found
    searched = ", ".join(str(d) for d in dirs)
    if not environ.get(ENV_VAR):
        searched += " and the system's library folders"
    raise OSError(
        f"audiomeas: cannot find {filename}; searched {searched}. "
        f"Build the libraries or set {ENV_VAR} to the folder that holds them."
    )


def library(name: str, setup=None) -> ctypes.CDLL:
    """The loaded library. On first use it is loaded and ``setup(lib)`` runs
    once (declaring signatures, calling the initialise function) before any
    thread can get hold of it."""
    with _lock:
        lib = _loaded.get(name)
        if lib is None:
            path = locate(name)
            try:
                lib = ctypes.CDLL(str(path), mode=os.RTLD_LOCAL)
            except OSError as exc:
                raise OSError(f"audiomeas: cannot load {path}: {exc}") from exc
            if setup is not None:
                try:
                    setup(lib)
                except AttributeError as exc:  # a missing symbol
                    raise OSError(f"audiomeas: {path} is incomplete: {exc}") from exc
            _loaded[name] = lib
        return lib


def libc() -> ctypes.CDLL:
    """The process's C allocator, whose free() releases blocks that synkro_2
    malloc'd. Looked up in the global scope, where the libraries' own malloc
    resolves too (so an interposed allocator, e.g. a preloaded one, matches)."""
    global _libc
    with _lock:
        if _libc is None:
            c = ctypes.CDLL(None)
            if not hasattr(c, "free"):  # pragma: no cover - unusual platforms
                c = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6")
            c.free.argtypes = [ctypes.c_void_p]
            c.free.restype = None
            _libc = c
        return _libc

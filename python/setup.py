"""Installs the pure-Python package and lets it find the shared libraries.

The build step copies the libraries into the package (audiomeas/lib) when
they are built, from AUDIOMEAS_LIB_DIR or else this checkout's build/lib,
and records that folder as a fallback for libraries built later. Which
libraries there are, the build writes into that folder
(audiomeas-libraries.txt, one name a line).
"""

import os
import re
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

CHECKOUT = Path(__file__).resolve().parent.parent
REGISTRY = "audiomeas-libraries.txt"


def library_dir():
    """Where the built libraries are: AUDIOMEAS_LIB_DIR, else this checkout's build/lib."""
    return Path(os.environ.get("AUDIOMEAS_LIB_DIR") or CHECKOUT / "build" / "lib").resolve()


def project_version():
    """The project's one version number: as the build wrote it beside the
    libraries, else from the checkout's top CMakeLists.txt."""
    written = library_dir() / "audiomeas-version.txt"
    if written.is_file():
        return written.read_text().strip()
    text = (CHECKOUT / "CMakeLists.txt").read_text()
    return re.search(r"project\(audiomeas VERSION ([0-9.]+)", text).group(1)


def library_names(folder):
    """The library names the build registered, none when it has not run."""
    registry = folder / REGISTRY
    if not registry.is_file():
        return []
    return [line.strip() for line in registry.read_text().splitlines() if line.strip()]


class build_py_with_libraries(build_py):
    def run(self):
        super().run()
        source = library_dir()
        target = Path(self.build_lib) / "audiomeas"
        (target / "_install_paths.py").write_text(
            "# Written at install time: where the libraries were built.\n"
            f"LIBRARY_DIRS = [{str(source)!r}]\n"
        )
        for name in library_names(source):
            built = source / f"lib{name}.so"
            if built.is_file():
                (target / "lib").mkdir(exist_ok=True)
                # The versioned file behind the development symlink.
                shutil.copyfile(built.resolve(), target / "lib" / built.name)


setup(version=project_version(), cmdclass={"build_py": build_py_with_libraries})

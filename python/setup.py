"""Builds the package with the shared libraries inside it (audiomeas/lib).

The libraries come from AUDIOMEAS_LIB_DIR when it is set (libraries built
already); otherwise the build configures and builds them from this checkout
with CMake, in a temporary folder. Which libraries there are, the CMake
build writes beside them (audiomeas-libraries.txt, one name a line).

Nothing is written into the source tree: setuptools' build and egg-info
folders live in a temporary folder too (AUDIOMEAS_BUILD_DIR names a folder
to keep and reuse instead). The wheel is tagged with the libraries'
platform; it does not depend on the Python version, as they are loaded
with ctypes.
"""

import atexit
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # pragma: no cover - only an install without wheels
    bdist_wheel = None

CHECKOUT = Path(__file__).resolve().parent.parent
REGISTRY = "audiomeas-libraries.txt"
# The CMake target that builds every registered shared library.
LIBRARIES_TARGET = "audiomeas_shared_libraries"


def build_area():
    """The folder for setuptools' and CMake's work, outside the source tree."""
    chosen = os.environ.get("AUDIOMEAS_BUILD_DIR")
    if chosen:
        Path(chosen).mkdir(parents=True, exist_ok=True)
        return Path(chosen).resolve()
    made = Path(tempfile.mkdtemp(prefix="audiomeas-build-"))
    atexit.register(shutil.rmtree, made, ignore_errors=True)
    return made


BUILD_AREA = build_area()


def project_version():
    """The project's one version number: as the build wrote it beside the
    libraries given, else from the checkout's top CMakeLists.txt."""
    given = os.environ.get("AUDIOMEAS_LIB_DIR")
    written = Path(given) / "audiomeas-version.txt" if given else None
    if written and written.is_file():
        return written.read_text().strip()
    text = (CHECKOUT / "CMakeLists.txt").read_text()
    return re.search(r"project\(audiomeas VERSION ([0-9.]+)", text).group(1)


def library_names(folder):
    """The library names the build registered, none when it has not run."""
    registry = folder / REGISTRY
    if not registry.is_file():
        return []
    return [line.strip() for line in registry.read_text().splitlines() if line.strip()]


def built_libraries():
    """The folder holding the shared libraries: AUDIOMEAS_LIB_DIR, else a
    CMake build of this checkout made now."""
    given = os.environ.get("AUDIOMEAS_LIB_DIR")
    if given:
        return Path(given).resolve()
    if not (CHECKOUT / "CMakeLists.txt").is_file():
        raise SystemExit(f"audiomeas: no CMakeLists.txt in {CHECKOUT}: set AUDIOMEAS_LIB_DIR "
                         "to a folder of built libraries")
    cmake_dir = BUILD_AREA / "cmake"
    subprocess.run(["cmake", "-S", str(CHECKOUT), "-B", str(cmake_dir),
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBUILD_TESTING=OFF",
                    "-DAUDIOMEAS_BENCH=OFF"], check=True)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    subprocess.run(["cmake", "--build", str(cmake_dir), "-j", jobs, "--target", LIBRARIES_TARGET],
                   check=True)
    return cmake_dir / "lib"


class build_py_with_libraries(build_py):
    def run(self):
        super().run()
        source = built_libraries()
        names = library_names(source)
        if not names:
            raise SystemExit(f"audiomeas: no {REGISTRY} in {source}: not a folder of built libraries")
        target = Path(self.build_lib) / "audiomeas" / "lib"
        target.mkdir(exist_ok=True)
        for name in names:
            built = source / f"lib{name}.so"
            if not built.is_file():
                raise SystemExit(f"audiomeas: {built} is missing")
            # The versioned file behind the development link, under the
            # link's name, which the loader looks for; without its debugging
            # sections, which the package does not need.
            copy = target / built.name
            shutil.copyfile(built.resolve(), copy)
            subprocess.run(["strip", "--strip-debug", str(copy)], check=True)


cmdclass = {"build_py": build_py_with_libraries}
if bdist_wheel is not None:

    class bdist_wheel_platform(bdist_wheel):
        """py3-none-<platform>: the libraries are the platform's; any Python 3
        loads them."""

        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self):
            return ("py3", "none", super().get_tag()[2])

    cmdclass["bdist_wheel"] = bdist_wheel_platform

setup(
    version=project_version(),
    cmdclass=cmdclass,
    options={
        "build": {"build_base": str(BUILD_AREA / "setuptools")},
        "egg_info": {"egg_base": str(BUILD_AREA)},
    },
)

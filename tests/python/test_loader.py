"""Finding the libraries: the override, the error, and an installed package.

Fails if a missing library surfaces as anything but an OSError naming where
it was looked for, if the override is not honoured, or if a package
installed with pip cannot find the libraries on its own.
"""

import os
import shutil
import subprocess
import sys
import textwrap

import pytest

from audiomeas import _loader
from conftest import CHECKOUT


def run_python(code, env, cwd):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, cwd=cwd,
                          capture_output=True, text=True, timeout=300)


def test_override_folder_is_the_only_one_searched(tmp_path):
    env = {_loader.ENV_VAR: str(tmp_path)}
    assert _loader.search_dirs(env) == [tmp_path]
    with pytest.raises(OSError) as info:
        _loader.locate("synkro", env)
    assert str(tmp_path) in str(info.value) and "AUDIOMEAS_LIB_DIR" in str(info.value)
    (tmp_path / "libsynkro.so").write_bytes(b"")
    assert _loader.locate("synkro", env) == tmp_path / "libsynkro.so"


def test_missing_library_is_an_oserror_on_first_use(tmp_path):
    """Importing needs no library; the measurements, made from its table, are
    an OSError naming the folders searched when it cannot be found."""
    env = dict(os.environ, AUDIOMEAS_LIB_DIR=str(tmp_path / "nowhere"),
               PYTHONPATH=str(CHECKOUT / "python"))
    r = run_python(
        """
        import audiomeas
        try:
            audiomeas.align([1.0], [1.0], 48000)
        except OSError as e:
            print("OSError:", e)
        """,
        env, tmp_path)
    assert r.returncode == 0, r.stderr
    assert "OSError:" in r.stdout and "libaudiomeas.so" in r.stdout
    assert str(tmp_path / "nowhere") in r.stdout


def test_pip_installed_package_finds_the_libraries(tmp_path):
    pytest.importorskip("pip")
    lib_dir = _loader.locate("audiomeas").parent
    source = tmp_path / "src"
    shutil.copytree(CHECKOUT / "python", source,
                    ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__", "lib"))
    env = dict(os.environ, AUDIOMEAS_LIB_DIR=str(lib_dir))
    env.pop("PYTHONPATH", None)
    site = tmp_path / "site"
    install = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-index",
         "--no-deps", "--quiet", "--target", str(site), str(source)],
        env=env, cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert install.returncode == 0, install.stderr
    env.pop(_loader.ENV_VAR)
    env["PYTHONPATH"] = str(site)
    r = run_python(
        """
        import audiomeas
        print(audiomeas.__file__)
        r = audiomeas.align([0.0, 1.0, 0.0], [0.0, 0.0, 1.0], 48000)
        print(f"total_delay={r.total_delay_samples:.0f}")
        """,
        env, tmp_path)
    assert r.returncode == 0, r.stderr
    assert r.stdout.startswith(str(site))
    assert "total_delay=1" in r.stdout
    assert (site / "audiomeas" / "lib" / "libaudiomeas.so").is_file()
    # Nothing of the machine that built it: the package works wherever it is.
    for f in (site / "audiomeas").rglob("*.py"):
        assert str(lib_dir) not in f.read_text() and str(CHECKOUT) not in f.read_text(), f


@pytest.mark.parametrize("system, found", [("libaudiomeas.so.1", "libaudiomeas.so.1"), (None, None)])
def test_system_library_comes_last(tmp_path, monkeypatch, system, found):
    """Without the override, a library in no searched folder is taken from
    the system (by its SONAME, as the dynamic linker finds it); with the
    override, never."""
    monkeypatch.setattr(_loader, "search_dirs", lambda environ=None: [tmp_path])
    monkeypatch.setattr(_loader, "system_library", lambda name: system)
    if found:
        assert _loader.locate("audiomeas", {}) == found
    else:
        with pytest.raises(OSError, match="system's library folders"):
            _loader.locate("audiomeas", {})
    with pytest.raises(OSError):
        _loader.locate("audiomeas", {_loader.ENV_VAR: str(tmp_path)})


def test_constants_mirror_the_header():
    """The package's copies of the host layer's macros are the header's."""
    import re

    from audiomeas import _host

    header = (CHECKOUT / "include" / "audiomeas.h").read_text()
    macros = dict(re.findall(r"#define AUDIOMEAS_(\w+) (\d+)u?\b", header))
    mirrored = {"OK": _host.EXIT_OK, "FLAGGED": _host.EXIT_FLAGGED, "USAGE": _host.EXIT_USAGE,
                "BAD_INPUT": _host.EXIT_BAD_INPUT, "OUTPUT": _host.EXIT_OUTPUT,
                "DETAILS": _host.DETAILS, "LIBRARY_OUTPUT": _host.LIBRARY_OUTPUT}
    assert {k: int(macros[k]) for k in mirrored} == mirrored

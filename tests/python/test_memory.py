"""Repeated calls leak nothing: the process's resident memory stays flat.

Each loop would grow by tens of MB if a call kept its result (report,
samples), the library's output block or any container.
"""

import os

import numpy as np
import pytest

import audiomeas
from helpers import resident_bytes, transient_case

CALLS = 3000
SLACK = 4 * 2**20  # allocator noise; a leak of one 2000-sample block a call is 48 MB


def grows_by(call):
    for _ in range(200):  # let the allocator and the caches settle
        call()
    before = resident_bytes()
    for _ in range(CALLS):
        call()
    return resident_bytes() - before


@pytest.fixture(scope="module")
def signals():
    rng = np.random.default_rng(11)
    ref = 1000.0 * rng.standard_normal(2000)
    return ref, np.concatenate([np.zeros(17), ref])


def test_align_keeps_memory_flat(signals):
    ref, rec = signals
    assert grows_by(lambda: audiomeas.align(ref, rec, 48000.0)) < SLACK


def test_library_output_and_refusals_keep_memory_flat(signals):
    ref, rec = signals
    assert grows_by(lambda: audiomeas.align(ref, rec, 48000.0, library_output=True,
                                              details=False)) < SLACK
    bad = np.concatenate([rec, [np.nan]])

    def refused():
        with pytest.raises(ValueError):
            audiomeas.align(ref, bad, 48000.0)

    assert grows_by(refused) < SLACK


def test_transient_snr_keeps_memory_flat():
    p, a, m = transient_case(48000.0, frames=40, burst=(10, 30))
    assert grows_by(lambda: audiomeas.transient_snr(p, a, m, 48000.0)) < SLACK


# Under an address-space limit a little above what the process holds: the
# array calls and the file jobs refuse a measurement that would not fit
# before any work (MemoryError, exit 3 with the figures); small ones run.
UNDER_LIMIT = """
import resource, sys
import numpy as np, soundfile
import audiomeas
from audiomeas import _host

x = 0.1 * np.random.default_rng(1).standard_normal(48000 * 60)
soundfile.write(sys.argv[1] + "/long.wav", x, 48000, subtype="PCM_16")
short = x[:48000]
size = next(int(t.split()[1]) * 1024 for t in open("/proc/self/status") if t.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (size + 150 * 2**20,) * 2)
for name, call in [("align", lambda s: audiomeas.align(s, s, 48000)),
                   ("transient", lambda s: audiomeas.transient_snr(s, s, s, 48000))]:
    try:
        call(x)
        print(name, "ran")
    except MemoryError as e:
        print(name, "refused", "needs about" in str(e))
    call(short)
code, report = _host.measure_files("align", [sys.argv[1] + "/long.wav"] * 2)
print("file", code, report["needed_bytes"] > report["available_bytes"])
"""


def test_a_measurement_that_would_not_fit_is_refused_first(tmp_path):
    import subprocess
    import sys

    from conftest import CHECKOUT

    env = dict(os.environ, PYTHONPATH=str(CHECKOUT / "python"))
    out = subprocess.run([sys.executable, "-c", UNDER_LIMIT, str(tmp_path)], capture_output=True,
                         text=True, timeout=300, env=env)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split("\n")[:3] == ["align refused True", "transient ran", "file 3 True"]


# Two threads whose measurements each fit in the memory available, but not
# both at once: the check reserves what the first needs until it ends, so
# the second is refused (MemoryError) rather than both running. A measurement
# that could not have its memory is never a report. The cap is
# AUDIOMEAS_AVAILABLE_MEMORY, which only lowers what the host counts.
TWO_THREADS = """
import os, sys, threading
import numpy as np
import audiomeas
from audiomeas import _host

rng = np.random.default_rng(3)
ref = rng.standard_normal(48000 * 30)
rec = np.concatenate([np.zeros(123), ref[:-123]])
os.environ["AUDIOMEAS_AVAILABLE_MEMORY"] = "1"
code, report, _ = _host.measure("align", [ref, rec], 48000.0, {})
need = report["needed_bytes"]
os.environ["AUDIOMEAS_AVAILABLE_MEMORY"] = str(int(1.5 * need))
start = threading.Barrier(2)
outcomes = []

def one():
    start.wait()
    try:
        r = audiomeas.align(ref, rec, 48000.0)
        outcomes.append(("report", (r.total_delay_samples, r.alignment_failed)))
    except MemoryError as e:
        outcomes.append(("refused", "needs about" in str(e)))

threads = [threading.Thread(target=one) for _ in range(2)]
for t in threads: t.start()
for t in threads: t.join()
print(sorted(outcomes))
"""


def test_concurrent_measurements_reserve_their_memory(tmp_path):
    import subprocess
    import sys

    from conftest import CHECKOUT

    env = dict(os.environ, PYTHONPATH=str(CHECKOUT / "python"))
    out = subprocess.run([sys.executable, "-c", TWO_THREADS], capture_output=True, text=True,
                         timeout=300, env=env)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split("\n")[0] == "[('refused', True), ('report', (123.0, False))]"


@pytest.mark.parametrize("cap, refused", [("1", True), ("1K", True), ("1E", False), ("16E", False),
                                          ("12Q", False), ("", False)])
def test_the_available_memory_cap_only_lowers(signals, monkeypatch, cap, refused):
    # 16E overflows and 12Q is no size: both are ignored, never taken as bytes.
    ref, rec = signals
    monkeypatch.setenv("AUDIOMEAS_AVAILABLE_MEMORY", cap)
    if refused:
        with pytest.raises(MemoryError):
            audiomeas.align(ref, rec, 48000.0)
    else:
        assert audiomeas.align(ref, rec, 48000.0).fine_lag_samples == 17

"""Audio measurements over the synkro, envelo and burstra libraries, through
the project's host layer (libaudiomeas).

    align(reference, recording, sample_rate)         -> AlignReport
    attack_release(reference, recording)             -> AttackReleaseReport
    transient_snr(presence, activity, measured, fs)  -> TransientSnrReport
    report(results, output)                          -> the campaign page's summary

The functions are made from the host layer's measurement table on first
use (a new measurement there is a new function here); each names its
arguments, options and defaults in its signature and docstring. Signals are
any 1-D array-likes of real samples. Reports are frozen
dataclasses with the same field names and values as the JSON of the
audiomeas tool (README, "Reports"). Bad arguments raise ValueError or
TypeError naming the argument; a library that cannot be found raises OSError
naming the folders searched (set AUDIOMEAS_LIB_DIR to choose one). Figures
are in audiomeas.plot (matplotlib), file reading in audiomeas.io (soundfile);
neither is imported here.
"""

import importlib


def __getattr__(name):
    # Submodules that load matplotlib, soundfile or dask on first use.
    if name in ("plot", "io", "generate", "batch"):
        return importlib.import_module(f".{name}", __name__)
    # The campaign page over a results file: audiomeas.report(results, output).
    if name == "report":
        return importlib.import_module("._campaign", __name__).report
    # The measurements and the version come from the host layer, loaded on
    # first use: an import never needs the library.
    if name == "__version__":
        from . import _host

        return _host.version()
    if name in ("__all__",) or not name.startswith("_"):
        from . import _measure

        made = _measure.functions()
        globals().update(made, __all__=sorted(made))
        if name in globals():
            return globals()[name]
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")

"""Audio measurements over the synkro, envelo and burstra libraries, through
the project's host layer (libaudiomeas).

    align(reference, recording, sample_rate)         -> AlignReport
    attack_release(reference, recording)             -> AttackReleaseReport
    transient_snr(presence, activity, measured, fs)  -> TransientSnrReport

Signals are any 1-D array-likes of real samples. Reports are frozen
dataclasses with the same field names and values as the JSON of the
audiomeas tool (README, "Reports"). Bad arguments raise ValueError or
TypeError naming the argument; a library that cannot be found raises OSError
naming the folders searched (set AUDIOMEAS_LIB_DIR to choose one). Figures
are in audiomeas.plot (matplotlib), file reading in audiomeas.io (soundfile);
neither is imported here.
"""

from ._measure import align, attack_release, transient_snr

__version__ = "1.0.0"

__all__ = ["align", "attack_release", "transient_snr"]


def __getattr__(name):
    # Submodules that load matplotlib, soundfile or dask on first use.
    if name in ("plot", "io", "generate", "batch"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")

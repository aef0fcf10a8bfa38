"""Audio measurements over the synkro, envelo and burstra shared libraries.

    align(reference, recording, sample_rate)         -> AlignResult
    attack_release(reference, recording)             -> AttackReleaseResult
    transient_snr(presence, activity, measured, fs)  -> TransientSnrResult

Signals are any 1-D array-likes of real samples. Bad arguments raise
ValueError or TypeError naming the argument; a library that cannot be found
raises OSError naming the folders searched (set AUDIOMEAS_LIB_DIR to choose
one). Figures are in audiomeas.plot (matplotlib), file reading in
audiomeas.io (soundfile); neither is imported here.
"""

from ._measure import (
    AlignResult,
    AttackReleaseResult,
    TransientSnrResult,
    align,
    attack_release,
    transient_snr,
)

__version__ = "1.0.0"

__all__ = [
    "align",
    "attack_release",
    "transient_snr",
    "AlignResult",
    "AttackReleaseResult",
    "TransientSnrResult",
]


def __getattr__(name):
    # audiomeas.plot and audiomeas.io load matplotlib / soundfile on first use.
    if name in ("plot", "io"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")

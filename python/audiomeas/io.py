"""Reading audio files (needs python3-soundfile) into a measurement's scale."""

from __future__ import annotations

from typing import NamedTuple

import numpy as np

__all__ = ["Audio", "load"]

# transient_snr and attack_release take 16-bit sample values (0 dB = RMS
# 32767); align takes any scale, with 0 dB = RMS 1.0 in its activity tests.
SCALES = ("int16", "unit")


class Audio(NamedTuple):
    samples: np.ndarray  # 1-D float64
    sample_rate: int  # Hz


def load(path, *, scale: str = "int16", channel: int | None = None) -> Audio:
    """Read one channel of an audio file as float64 samples.

    scale    "int16": 16-bit sample values, the scale of transient_snr and
             attack_release. Integer files give their values as 16-bit codes
             (a 16-bit file its exact integers, deeper ones with fractions);
             floating-point files map 1.0 to 32767.
             "unit": full scale 1.0, as the file library reads it.
    channel  channel index; required for a file of more than one channel.
    """
    try:
        import soundfile
    except ImportError as exc:  # pragma: no cover - depends on the machine
        raise ImportError("audiomeas.io needs soundfile (Debian package python3-soundfile)") from exc
    if scale not in SCALES:
        raise ValueError(f"scale must be one of {SCALES}, got {scale!r}")
    with soundfile.SoundFile(path) as f:
        channels, rate, subtype = f.channels, f.samplerate, f.subtype
        if channel is None:
            if channels != 1:
                raise ValueError(f"{path} has {channels} channels; choose one with channel=")
            channel = 0
        elif not -channels <= channel < channels:
            raise ValueError(f"channel {channel} does not exist; {path} has {channels}")
        data = f.read(dtype="float64", always_2d=True)
    samples = np.ascontiguousarray(data[:, channel])
    if scale == "int16":
        # Integer files are read divided by 2^(bits-1): undo that on a 16-bit
        # scale so 16-bit codes come back exactly.
        samples *= 32767.0 if subtype in ("FLOAT", "DOUBLE") else 32768.0
    return Audio(samples, int(rate))

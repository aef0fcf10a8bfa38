"""Reading audio files (needs python3-soundfile) into a measurement's scale."""

from __future__ import annotations

from typing import NamedTuple

import numpy as np

__all__ = ["Audio", "load"]

# transient_snr and attack_release take 16-bit sample values (0 dB = RMS
# 32767); align takes any scale, with 0 dB = RMS 1.0 in its activity tests.
SCALES = ("int16", "unit")
INT16_FACTOR = 32768.0


class Audio(NamedTuple):
    samples: np.ndarray  # 1-D float64
    sample_rate: int  # Hz


def load(path, *, scale: str = "int16", channel: int | None = None) -> Audio:
    """Read one channel of an audio file as float64 samples.

    scale    "int16": 16-bit sample values, the scale of transient_snr and
             attack_release: a 16-bit file gives its exact integers, every
             other format is scaled alike (1.0 becomes 32768), as the
             audiomeas tool reads files.
             "unit": full scale 1.0, as the file library reads it (align).
    channel  channel number counted from 1, as the audiomeas tool counts;
             required for a file of more than one channel (a mono file is
             used whatever it says).
    """
    try:
        import soundfile
    except ImportError as exc:  # pragma: no cover - depends on the machine
        raise ImportError("audiomeas.io needs soundfile (Debian package python3-soundfile)") from exc
    if scale not in SCALES:
        raise ValueError(f"scale must be one of {SCALES}, got {scale!r}")
    with soundfile.SoundFile(path) as f:
        channels, rate = f.channels, f.samplerate
        if channels == 1:
            channel = 1
        elif channel is None:
            raise ValueError(f"{path} has {channels} channels; choose one with channel= (from 1)")
        elif not 1 <= channel <= channels:
            raise ValueError(f"channel {channel} does not exist; {path} has {channels} (from 1)")
        data = f.read(dtype="float64", always_2d=True)
    samples = np.ascontiguousarray(data[:, channel - 1])
    if scale == "int16":
        # Integer files are read divided by 2^(bits-1): undo that on a 16-bit
        # scale so 16-bit codes come back exactly.
        samples *= INT16_FACTOR
    return Audio(samples, int(rate))

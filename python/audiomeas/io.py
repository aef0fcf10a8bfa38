"""Reading audio files (needs python3-soundfile) into a measurement's scale."""

from __future__ import annotations

from typing import NamedTuple

import numpy as np

from ._measure import ScaleWarning, python_name

__all__ = ["Audio", "ScaleWarning", "load"]

# What one unit of the file library's reading (full scale 1.0) becomes, by
# the measurement table's scale names. "int16" is the audiomeas tool's 16-bit
# scale: 2^15, so a 16-bit file gives its exact integers and the rescaling
# loses no bit in either direction.
FACTORS = {"unit": 1.0, "int16": 32768.0}
SCALES = tuple(FACTORS)
# Without a measurement or a scale: the 16-bit scale, as load has always
# read (two of the three measurements take it).
DEFAULT_SCALE = "int16"
# Bytes read at a time, whatever the number of channels.
BLOCK_BYTES = 1 << 22


class Audio(NamedTuple):
    samples: np.ndarray  # 1-D float64
    sample_rate: int  # Hz


def measurement_scale(measurement: str) -> str:
    """The scale the audiomeas tool reads a measurement's files in, from the
    host layer's measurement table; measurement by its table name
    ("attack-release") or its Python name ("attack_release")."""
    from . import _host

    table = _host.table()["measurements"]
    for name, entry in table.items():
        if measurement in (name, python_name(name)):
            return entry["scale"]
    raise ValueError(f"measurement must be one of {', '.join(table)}, got {measurement!r}")


def _scale(measurement: str | None, scale: str | None) -> str:
    chosen = scale
    if measurement is not None:
        chosen = measurement_scale(measurement)
        if scale is not None and scale != chosen:
            raise ValueError(f"scale={scale!r} contradicts {measurement}, which takes {chosen!r}")
    if chosen is None:
        return DEFAULT_SCALE
    if chosen not in FACTORS:
        raise ValueError(f"scale must be one of {SCALES}, got {chosen!r}")
    return chosen


def _read_channel(f, index: int) -> np.ndarray:
    """One channel of an open soundfile.SoundFile as float64, read in blocks
    until libsndfile says the end, as the audiomeas tool reads. A stream (a
    FLAC without its length, say) declares 2^63 - 1 frames: soundfile's own
    read would allocate them at once, and its seek after each read fails
    there; libsndfile's read through soundfile's binding does neither."""
    from soundfile import _ffi, _snd

    frames = max(1, BLOCK_BYTES // (8 * f.channels))
    blocks = []
    while True:
        block = np.empty((frames, f.channels))
        n = _snd.sf_readf_double(f._file, _ffi.cast("double *", block.ctypes.data), frames)
        if n <= 0:
            break
        blocks.append(block[:n, index].copy())
    error = _snd.sf_error(f._file)
    if error:
        raise RuntimeError(f"{f.name}: {_ffi.string(_snd.sf_error_number(error)).decode('utf-8', 'replace')}")
    return np.concatenate(blocks) if blocks else np.zeros(0)


def load(path, measurement: str | None = None, *, scale: str | None = None,
         channel: int | None = None) -> Audio:
    """Read one channel of an audio file as float64 samples, in the scale of
    the measurement they are for.

    measurement  the measurement the samples go to ("align",
             "attack-release" or "attack_release", ...): its scale as the
             audiomeas tool reads its files, taken from the host layer's
             measurement table, so that measuring the loaded arrays gives
             the tool's report on the files bit for bit.
    scale    instead of a measurement: "unit", full scale 1.0 as the file
             library reads it (align); "int16", 16-bit sample values (a
             16-bit file gives its exact integers, every other format is
             scaled alike, 1.0 becoming 32768; attack_release,
             transient_snr). With neither: "int16". Both may be given when
             they agree.
    channel  channel number counted from 1, as the audiomeas tool counts;
             required for a file of more than one channel (a mono file is
             used whatever it says).

    A measurement given samples whose peak does not fit its scale warns
    with ScaleWarning (README, "Python").
    """
    chosen = _scale(measurement, scale)
    try:
        import soundfile
    except ImportError as exc:  # pragma: no cover - depends on the machine
        raise ImportError("audiomeas.io needs soundfile (Debian package python3-soundfile)") from exc
    with soundfile.SoundFile(path) as f:
        channels, rate = f.channels, f.samplerate
        if channels == 1:
            channel = 1
        elif channel is None:
            raise ValueError(f"{path} has {channels} channels; choose one with channel= (from 1)")
        elif not 1 <= channel <= channels:
            raise ValueError(f"channel {channel} does not exist; {path} has {channels} (from 1)")
        samples = _read_channel(f, channel - 1)
    # Integer files are read divided by 2^(bits-1); the tool multiplies by
    # the same factor, so the two agree to the bit.
    samples *= FACTORS[chosen]
    return Audio(samples, int(rate))

"""Reports as frozen dataclasses, built from the host layer's JSON.

The field names are the host layer's own (the same as the JSON of the
audiomeas tool); nested objects become nested dataclasses, lists of numbers
numpy arrays, null None ("not found", or a number that could not be formed).
"""

from __future__ import annotations

import dataclasses
import functools

import numpy as np


@functools.lru_cache(maxsize=None)
def _cls(name: str, fields: tuple[str, ...], extra: tuple[str, ...]):
    layout = [(f, object) for f in fields] + [
        (f, object, dataclasses.field(default=None, repr=False, compare=False)) for f in extra
    ]
    return dataclasses.make_dataclass(name, layout, frozen=True, namespace={"__module__": "audiomeas"})


def _camel(key: str) -> str:
    return "".join(part.capitalize() for part in key.split("_"))


def _value(key: str, v):
    if isinstance(v, dict):
        return build(_camel(key), v)
    if isinstance(v, list):
        if not v:
            return ()
        if all(isinstance(x, dict) for x in v):
            return tuple(build(_camel(key), x) for x in v)
        if all(x is None or (isinstance(x, (int, float)) and not isinstance(x, bool)) for x in v):
            return np.array([np.nan if x is None else x for x in v], dtype=np.float64)
        return tuple(v)
    return v


def build(name: str, report: dict, **extra):
    """A frozen dataclass named ``name`` holding ``report``'s fields, then
    ``extra`` (kept out of repr and comparisons: large arrays)."""
    keys = tuple(k.replace("-", "_") for k in report)
    cls = _cls(name, keys, tuple(extra))
    values = {k: _value(k, v) for k, v in zip(keys, report.values())}
    return cls(**values, **extra)

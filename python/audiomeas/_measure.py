"""The measurements over the host layer, made from its measurement table:
typed inputs in, reports out.

Each measurement of the table becomes a function of the package
(``align``, ``attack_release``, ``transient_snr``): its signal arguments in
the table's order, then ``sample_rate`` (a keyword with the table's rate as
default where the measurement takes one rate only), then its options as
keywords with the table's defaults, then ``threads`` (the machine's cores by
default; the results are the same with any count). Python types are checked here (a signal
must be a 1-D array of real numbers, a rate a number, an integer option a
whole number) and raise TypeError or ValueError naming the argument. What a
measurement can take (lengths, finite samples, rates, option limits) is
checked by the host layer before any library code runs; its refusals arrive
here as ValueError with its message, or MemoryError when the measurement
would need more memory than the machine has available. A signal whose peak
does not fit the measurement's scale (the table's ``scale``) warns with
ScaleWarning and is measured as given. Signals are
converted once to contiguous float64 (no copy when they already are) and
lent for the duration of the call.
"""

from __future__ import annotations

import inspect
import numbers
import warnings

import numpy as np

from . import _host, _report

# Python's reports carry the arrays behind the result unless asked not to:
# an interactive user plots them (the tool's default is without).
_PYTHON_DEFAULTS = {"details": True}


# numpy's kinds of samples taken: real floating, signed and unsigned
# integer, boolean. Text, dates and objects would convert to float64 and
# give numbers that were never samples.
SAMPLE_KINDS = "fiub"


def as_signal(x, name: str) -> np.ndarray:
    """x as a contiguous 1-D float64 array; the same object when it is one."""
    if isinstance(x, np.ma.MaskedArray):
        raise TypeError(f"{name} is a masked array, whose mask a measurement would ignore: "
                        f"give the samples to measure (e.g. {name}.compressed() or {name}.filled(...))")
    try:
        # asarray, not ascontiguousarray, which would turn a scalar into 1-D.
        given = np.asarray(x)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{name} must be a 1-D array of real numbers ({exc})") from exc
    if given.dtype.kind == "c":
        raise TypeError(f"{name} must hold real samples, not complex ones")
    if given.dtype.kind not in SAMPLE_KINDS:
        raise TypeError(f"{name} must be a 1-D array of real numbers (floating, integer or "
                        f"boolean), not of {given.dtype}")
    a = np.asarray(given, dtype=np.float64, order="C")
    if a.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got shape {a.shape}")
    return a


def as_rate(sample_rate, name: str = "sample_rate") -> float:
    """A rate (or a number option) as float: an int, a float or a numpy
    number. True and "48000" would pass float() and hide a slip, so bools and
    text are refused with TypeError."""
    value = sample_rate
    if isinstance(value, np.ndarray) and value.ndim == 0:
        value = value[()]  # a 0-d array holds one number: judge that number
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, got {type(sample_rate).__name__} "
                        f"{sample_rate!r}")
    return float(value)


def as_rates(sample_rate, count: int) -> list[float]:
    """One rate for every signal, or a sequence of one rate per signal
    (signals at other rates than the measurement's are converted to it)."""
    if isinstance(sample_rate, (list, tuple)):
        if len(sample_rate) != count:
            raise ValueError(f"sample_rate holds {len(sample_rate)} rates for {count} signals")
        return [as_rate(r, f"sample_rate[{k}]") for k, r in enumerate(sample_rate)]
    return [as_rate(sample_rate)] * count


class ScaleWarning(UserWarning):
    """Samples whose peak says they are on another scale than the
    measurement's (README, "Python")."""


# Each scale of the table in words, and the peaks (exclusive, inclusive]
# that a signal on it can plausibly have. Full-scale-1.0 samples rarely pass
# 1.5 (3.5 dB above full scale); 16-bit samples that stay within +-1.0 are
# at most one code of dither, far likelier full-scale-1.0 samples. A silent
# signal fits either.
SCALE_WORDS = {"unit": "full scale 1.0", "int16": "16-bit scale (full scale 32767)"}
PLAUSIBLE_PEAK = {"unit": (0.0, 1.5), "int16": (1.0, np.inf)}


def warn_on_scale(measurement: str, scale: str, names, arrays) -> None:
    """ScaleWarning for each signal whose peak does not fit the scale; the
    samples are measured as given."""
    low, high = PLAUSIBLE_PEAK[scale]
    for name, a in zip(names, arrays):
        if a.size == 0:
            continue
        peak = max(float(a.max()), -float(a.min()))  # no |a| copy; NaN fails both tests
        if peak > 0.0 and not low < peak <= high:
            bound = f"above {high:g}" if peak > high else f"at most {low:g}"
            warnings.warn(
                f"{name}'s peak {peak:g} is {bound}: unlikely on the {SCALE_WORDS[scale]} that "
                f"{python_name(measurement)} takes; measured as given. Files load in its scale "
                f"with audiomeas.io.load(path, {measurement!r}).",
                ScaleWarning, stacklevel=3)


def _option(entry: dict, value):
    """value as the option's type, for the host layer's JSON."""
    key, kind = entry["key"], entry["type"]
    if kind == "flag":
        return bool(value)
    if kind == "integer":
        if isinstance(value, bool) or not float(value).is_integer():
            raise ValueError(f"{key} must be a whole number of {entry['unit'] or 'units'}, got {value!r}")
        return int(value)
    return as_rate(value, key)


def python_name(measurement: str) -> str:
    return measurement.replace("-", "_")


def report_class(measurement: str) -> str:
    return "".join(part.capitalize() for part in measurement.split("-")) + "Report"


def make(name: str, entry: dict):
    """The package's function for one measurement of the table."""
    arguments = [a["name"] for a in entry["arguments"]]
    options = {o["key"]: o for o in entry["options"]}
    threads = _host.table()["threads"]
    fixed_rate = entry["fixed_rate"]
    signal_out = entry["signal_out"]
    scale = entry["scale"]

    def measure(*args, **kwargs):
        bound = signature.bind(*args, **kwargs)
        bound.apply_defaults()
        values = bound.arguments
        arrays = [as_signal(values[a], a) for a in arguments]
        rates = as_rates(values["sample_rate"], len(arrays))
        # None: the table's default, as the keyword's own default gives it.
        chosen = {k: _option(options[k], values[k]) for k in options if values[k] is not None}
        if len(set(rates)) > 1:
            chosen[_host.table()["sample_rates_key"]] = rates
        chosen[threads["key"]] = _option(threads, values[threads["key"]])
        warn_on_scale(name, scale, arguments, arrays)
        code, report, samples = _host.measure(name, arrays, rates[0], chosen)
        if code not in (_host.EXIT_OK, _host.EXIT_FLAGGED):
            if "needed_bytes" in report:  # refused before any work: too little memory
                raise MemoryError(report["error"])
            raise ValueError(report.get("error", "the measurement failed"))
        extra = {signal_out: samples if samples is not None else np.empty(0)} if signal_out else {}
        return _report.build(report_class(name), report, **extra)

    P = inspect.Parameter
    parameters = [P(a, P.POSITIONAL_OR_KEYWORD) for a in arguments]
    if fixed_rate is None:
        parameters.append(P("sample_rate", P.POSITIONAL_OR_KEYWORD))
    else:
        parameters.append(P("sample_rate", P.KEYWORD_ONLY, default=fixed_rate))
    for key, o in options.items():
        parameters.append(P(key, P.KEYWORD_ONLY, default=_PYTHON_DEFAULTS.get(key, o["default"])))
    parameters.append(P(threads["key"], P.KEYWORD_ONLY, default=threads["default"]))
    signature = inspect.Signature(parameters)

    lines = [f"{entry['summary'][0].upper()}{entry['summary'][1:]}.", ""]
    lines += [f"    {a['name']:<16} {a['help']}" for a in entry["arguments"]]
    rate = (f"Hz (signals at another rate are converted to {fixed_rate:g})" if fixed_rate
            else "Hz: one for every signal, or a sequence of one per signal (converted to the first's)")
    lines.append(f"    {'sample_rate':<16} {rate}")
    for o in entry["options"]:
        unit = f" ({o['unit']})" if o["unit"] else ""
        lines.append(f"    {o['key']:<16} {o['help']}{unit}")
    lines.append(f"    {threads['key']:<16} {threads['help']}")
    lines += ["", f"Signals on the {SCALE_WORDS[scale]} (a peak that does not fit warns: "
              f"ScaleWarning). Returns {report_class(name)} (fields: README, "
              f"'Reports'; its overall verdict is `verdict`, the library's own flag {entry['flag']})"
              + (f", with the {signal_out} signal as ``{signal_out}``." if signal_out else ".")]
    measure.__name__ = measure.__qualname__ = python_name(name)
    measure.__module__ = "audiomeas"
    measure.__signature__ = signature
    measure.__doc__ = "\n".join(lines)
    return measure


def functions() -> dict:
    """Every measurement of the table as the package's function, by its
    Python name."""
    return {python_name(name): make(name, entry) for name, entry in _host.table()["measurements"].items()}

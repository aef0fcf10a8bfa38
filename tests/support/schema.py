"""Validation of the JSON outputs against schema/audiomeas.schema.json.

validate(instance, definition) checks one output against the definition
under $defs that names it; validate_output(instance) chooses the definition
from the output itself, for helpers that see every kind of result.

Stricter than plain JSON Schema in two ways, since both are faults of a
writer: an integer must be written as one (240, not 240.0), and a number
must be finite (Python's json module reads NaN and Infinity, which are not
JSON).
"""

import functools
import json
import math
from pathlib import Path

import jsonschema

SCHEMA_PATH = Path(__file__).resolve().parents[2] / "schema" / "audiomeas.schema.json"


class SchemaViolation(AssertionError):
    """An output that its definition does not describe."""


def _is_integer(checker, x):
    return isinstance(x, int) and not isinstance(x, bool)


def _is_number(checker, x):
    return isinstance(x, (int, float)) and not isinstance(x, bool) and math.isfinite(x)


_items = jsonschema.Draft202012Validator.VALIDATORS["items"]
# The Python types json.loads gives each JSON type (a float must also be finite).
_SCALAR = {"integer": {int}, "number": {int, float}, "null": {type(None)}, "string": {str},
           "boolean": {bool}}


def _typed_items(validator, items, instance, schema):
    """items, with a fast path for arrays whose items need only a type (the
    long arrays of --details): the thorough check runs for a failing item."""
    types = items.get("type") if isinstance(items, dict) and items.keys() == {"type"} else None
    types = [types] if isinstance(types, str) else types
    if not types or not all(t in _SCALAR for t in types) or not validator.is_type(instance, "array"):
        yield from _items(validator, items, instance, schema)
        return
    allowed = set().union(*(_SCALAR[t] for t in types))
    for i, x in enumerate(instance):
        t = type(x)
        if t not in allowed or (t is float and not math.isfinite(x)):
            yield from validator.descend(x, items, path=i)


_Validator = jsonschema.validators.extend(
    jsonschema.Draft202012Validator,
    validators={"items": _typed_items},
    type_checker=jsonschema.Draft202012Validator.TYPE_CHECKER.redefine_many(
        {"integer": _is_integer, "number": _is_number}))


@functools.cache
def schema() -> dict:
    with open(SCHEMA_PATH, encoding="utf-8") as f:
        return json.load(f)


@functools.cache
def _validator(definition: str):
    root = schema()
    if definition not in root["$defs"]:
        raise KeyError(f"{SCHEMA_PATH.name} has no definition {definition!r}")
    # The root with a reference added: every $ref inside resolves against it.
    return _Validator(dict(root, **{"$ref": f"#/$defs/{definition}"}))


def _where(path) -> str:
    return "".join(f"[{p}]" if isinstance(p, int) else f".{p}" for p in path) or "(top)"


def _shown(value) -> str:
    text = json.dumps(value, allow_nan=True)
    return text if len(text) <= 120 else text[:117] + "..."


def validate(instance, definition: str):
    """Raises SchemaViolation naming each place where ``instance`` departs
    from ``$defs/definition``, with the value found there; returns the
    instance, so that a helper can validate in passing."""
    errors = sorted(_leaves(_validator(definition).iter_errors(instance)),
                    key=lambda e: _where(e.absolute_path))
    if errors:
        lines = [f"  at {_where(e.absolute_path)}: {m} (value {_shown(e.instance)})"
                 for e in errors if (m := _message(e, errors)) is not None]
        raise SchemaViolation(f"not a valid {definition!r}:\n" + "\n".join(lines[:20]))
    return instance


def _leaves(errors):
    """The innermost causes: a failed choice (anyOf, oneOf) holds its branches' errors."""
    for e in errors:
        if e.context:
            yield from _leaves(e.context)
        else:
            yield e


def _unevaluated(error, errors) -> list:
    """The properties an unevaluatedProperties error names, less those
    whose value failed below it (which count as not evaluated too)."""
    at = list(error.absolute_path)
    failed = {e.absolute_path[len(at)] for e in errors
              if len(e.absolute_path) > len(at) and list(e.absolute_path)[:len(at)] == at}
    return [k for k in error.instance if repr(k) in error.message and k not in failed]


def _message(error, errors) -> str | None:
    if error.validator != "unevaluatedProperties":
        return error.message
    names = _unevaluated(error, errors)
    return f"undescribed properties {names}" if names else None


def definition_of(instance) -> str | None:
    """Which definition describes a result of the C API: an error, a report
    (on arrays or on files) or a generator's description; None for what the
    schema leaves to its callers (the batch protocol's replies)."""
    if not isinstance(instance, dict):
        return None
    for key, definition in (("error", "error"), ("stimulus", "stimulus"), ("model", "compressor")):
        if key in instance:
            return definition
    if "measurement" not in instance:
        return None
    # The reports on files name their files, and so their channel.
    return "report-files" if "channel" in instance else "report"


def validate_output(instance):
    """Validates a result of the C API or the tool by its kind; returns it."""
    definition = definition_of(instance)
    return instance if definition is None else validate(instance, definition)


def read_lines(path) -> list:
    """The JSON lines of a batch results file, each validated as a line."""
    with open(path, encoding="utf-8") as f:
        return [validate(json.loads(t), "batch-line") for t in f.read().splitlines() if t.strip()]


def validating(collect):
    """``audiomeas._host.collect`` validating every result it reads: each
    report, error and description the package receives from the C API."""

    @functools.wraps(collect)
    def checked(result):
        code, report, samples = collect(result)
        validate_output(report)
        return code, report, samples

    return checked

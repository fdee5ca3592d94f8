"""mimo_file.py: a MIMO tuning's file, written by `Tuning.save` and read back by the package
(`vorn run --config`, `vorn export-c --config`, `read_mimo_file`) to exactly the same doubles.

The YAML loader reads SISO records only; this file is of vorn's own design, YAML-shaped (one
`key: value` line each, so a YAML reader sees a plain mapping) but read by the strict reader
here. Comment lines (starting with #) and blank lines are skipped. The keys, in this order:

    form: mimo-pfdl            mimo-cfdl, mimo-pfdl or mimo-ffdl
    dim: 2                     the channels
    eta: 0.5                   every constructor parameter of the MIMO class, in the
    ...                        constructor's order (l_y and l_u whole numbers, the others
    m_lower: 1e-06             doubles as their repr, .inf / -.inf / .nan as in YAML)
    signs: [1.0, -1.0]         per channel, the sign the controller's input is multiplied by
                               on its way to the plant (vorn.tuning.mimo_signs)
    operating_point: zero      zero (the loop starts with the controller as built) or plant
    pid_kp: [0.5, -0.4]        the decentralised PID tuned beside it, gains per channel with
    pid_ki: [0.1, -0.1]        the channels' signs (optional: all three or none)
    pid_kd: [0.01, -0.02]

Every key but the PID's is required; an unknown, repeated or malformed line is refused with a
ValueError naming its line. The controller's own validation runs when it is built.
"""

from __future__ import annotations

import inspect
import math
import os
from dataclasses import dataclass
from typing import Any, Mapping, Sequence

from vorn.files import read_text, write_file
from vorn.forms import MIMO, ORDERS
from vorn.tuning.mimo_signs import check_signs
from vorn.tuning.save import AT_PLANT, AT_ZERO, START_KEY, number_text

FORM_PREFIX = "mimo-"
SIGNS_KEY = "signs"
PID_KEYS = ("pid_kp", "pid_ki", "pid_kd")
# Every form's MIMO class takes the same parameters in the same order.
PARAMETERS = MIMO["cfdl"].parameters
assert all(f.parameters == PARAMETERS for f in MIMO.values()), "the MIMO classes disagree on their parameters"
KEYS = ("form", *PARAMETERS, SIGNS_KEY, START_KEY, *PID_KEYS)


@dataclass(frozen=True)
class MimoRecord:
    """What a MIMO tuning's file holds."""

    form: str  # "cfdl", "pfdl" or "ffdl"
    params: dict[str, Any]  # the MIMO class's keywords, dim included
    signs: tuple[float, ...]
    operating_point: str | None  # "plant" or None (zero)
    pid: dict[str, list[float]] | None  # the tuned PID's kp, ki, kd, or None

    @property
    def dim(self) -> int:
        return int(self.params["dim"])

    def controller(self) -> Any:
        """A new controller of the record's class with its parameters (the class validates them)."""
        return MIMO[self.form].single(**self.params)


def class_defaults(form: str) -> dict[str, Any]:
    """The MIMO class's default keywords (its signature's)."""
    parameters = inspect.signature(MIMO[form].single).parameters.values()
    return {p.name: p.default for p in parameters if p.default is not inspect.Parameter.empty}


def full_params(form: str, dim: int, params: Mapping[str, Any]) -> dict[str, Any]:
    """Every constructor keyword of the MIMO class of `form`: `params`, the class defaults for
    what is missing, the orders and dim as ints, the rest as floats."""
    merged = {**class_defaults(form), **params, "dim": dim}
    return {k: int(merged[k]) if k in ("dim", *ORDERS) else float(merged[k]) for k in PARAMETERS}


def _list(values: Sequence[float]) -> str:
    return "[" + ", ".join(number_text(float(v)) for v in values) + "]"


def mimo_text(record: MimoRecord, header: str = "") -> str:
    """The file's text for `record`, `header` as its opening comment lines."""
    lines = [f"# {line}" for line in header.splitlines()]
    lines.append(f"form: {FORM_PREFIX}{record.form}")
    for key in PARAMETERS:
        value = record.params[key]
        lines.append(f"{key}: {int(value)}" if key in ("dim", *ORDERS) else f"{key}: {number_text(float(value))}")
    lines.append(f"{SIGNS_KEY}: {_list(record.signs)}")
    lines.append(f"{START_KEY}: {AT_ZERO if record.operating_point is None else AT_PLANT}")
    if record.pid is not None:
        lines += [f"{key}: {_list(record.pid[key[4:]])}" for key in PID_KEYS]
    return "\n".join(lines) + "\n"


def is_mimo_text(text: str) -> bool:
    """Whether `text` is a MIMO tuning's file: its first key is `form` with a mimo- form."""
    for line in text.splitlines():
        stripped = line.strip()
        if stripped and not stripped.startswith("#"):
            return stripped.startswith("form:") and stripped[5:].strip().startswith(FORM_PREFIX)
    return False


def _float(text: str, what: str) -> float:
    spelled = {".inf": math.inf, "+.inf": math.inf, "-.inf": -math.inf, ".nan": math.nan}
    if text.lower() in spelled:
        return spelled[text.lower()]
    try:
        return float(text)
    except ValueError:
        raise ValueError(f"{what} must be a number, not {text!r}") from None


def _whole(text: str, what: str, low: int) -> int:
    if not text.isdigit() or int(text) < low:
        raise ValueError(f"{what} must be a whole number of at least {low}, not {text!r}")
    return int(text)


def _numbers(text: str, what: str) -> list[float]:
    if not (text.startswith("[") and text.endswith("]")):
        raise ValueError(f"{what} must be a list of numbers on one line, such as [1.0, -1.0], not {text!r}")
    inner = text[1:-1].strip()
    return [_float(v.strip(), what) for v in inner.split(",")] if inner else []


def parse_mimo_text(text: str) -> MimoRecord:
    """The record of a MIMO tuning's file text; ValueError naming the line for anything else."""
    values: dict[str, tuple[int, str]] = {}
    for number, line in enumerate(text.splitlines(), start=1):
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        key, colon, value = stripped.partition(":")
        key, value = key.strip(), value.strip()
        if not colon or key not in KEYS:
            raise ValueError(f"line {number}: expected one of the keys {', '.join(KEYS)} as 'key: value', "
                             f"not {stripped[:60]!r}")
        if key in values:
            raise ValueError(f"line {number}: {key} is given twice (first on line {values[key][0]})")
        values[key] = (number, value)
    missing = [k for k in KEYS if k not in values and k not in PID_KEYS]
    if missing:
        raise ValueError(f"missing {', '.join(missing)}: a MIMO tuning's file holds every one of {', '.join(KEYS[:-3])}")

    def field(key: str, parse: Any) -> Any:
        number, value = values[key]
        try:
            return parse(value)
        except ValueError as error:
            raise ValueError(f"line {number}: {error}") from None

    form = field("form", lambda v: _form(v))
    params: dict[str, Any] = {}
    for key in PARAMETERS:
        if key == "dim":
            params[key] = field(key, lambda v: _whole(v, "dim", 1))
        elif key in ORDERS:
            params[key] = field(key, lambda v, k=key: _whole(v, k, 0))
        else:
            params[key] = field(key, lambda v, k=key: _float(v, k))
    dim = int(params["dim"])
    signs = field(SIGNS_KEY, lambda v: check_signs(_numbers(v, SIGNS_KEY), dim))
    start = field(START_KEY, _operating_point)
    given = [k for k in PID_KEYS if k in values]
    if given and len(given) != len(PID_KEYS):
        raise ValueError(f"the tuned PID needs all of {', '.join(PID_KEYS)}, not only {', '.join(given)}")
    pid = {k[4:]: field(k, lambda v, k=k: _channel_gains(_numbers(v, k), k, dim)) for k in given} or None
    return MimoRecord(form, params, signs, start, pid)


def _form(text: str) -> str:
    name = text[len(FORM_PREFIX):] if text.startswith(FORM_PREFIX) else ""
    if name not in MIMO:
        raise ValueError(f"form must be one of {', '.join(FORM_PREFIX + f for f in MIMO)}, not {text!r}")
    return name


def _operating_point(text: str) -> str | None:
    if text not in (AT_PLANT, AT_ZERO):
        raise ValueError(f"{START_KEY} must be {AT_PLANT} or {AT_ZERO}, not {text!r}")
    return None if text == AT_ZERO else AT_PLANT


def _channel_gains(values: list[float], key: str, dim: int) -> list[float]:
    if len(values) != dim or not all(math.isfinite(v) for v in values):
        raise ValueError(f"{key} must hold {dim} finite gains, one per channel, not {len(values)} values")
    return values


def read_mimo_file(path: str | os.PathLike[str]) -> MimoRecord:
    """The record of the MIMO tuning's file at `path` (OSError when it cannot be read,
    ValueError naming the line when it is not such a file)."""
    return parse_mimo_text(read_text(path))


def save_mimo(path: str | os.PathLike[str], record: MimoRecord, header: str = "") -> None:
    """Writes `record` to `path` atomically (vorn.files), after checking that the new file
    reads back to exactly the same record."""
    text = mimo_text(record, header)

    def reads_back(temporary: str) -> None:
        if not same_record(read_mimo_file(temporary), record):
            raise ValueError("the MIMO tuning's file would not read back to the same values")

    write_file(path, text, check=reads_back)


def same_record(a: MimoRecord, b: MimoRecord) -> bool:
    """Whether two records hold the same values, bit for bit (NaN equal to NaN, -0.0 not 0.0)."""
    def bits(values: Mapping[str, Any] | None) -> Any:
        return None if values is None else {k: repr(v) for k, v in values.items()}
    return (a.form, bits(a.params), a.signs, a.operating_point, bits(a.pid)) == \
        (b.form, bits(b.params), b.signs, b.operating_point, bits(b.pid))

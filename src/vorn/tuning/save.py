"""save.py: a controller's keyword arguments written as the YAML configuration file that
`load_config_from_yaml` reads, so that it reads back to exactly the same values.

Doubles are written as their shortest round-trip text (repr), infinities and NaN in YAML's
spelling; the file is written to a temporary file beside the target, read back and compared,
and only then renamed over the target (`vorn.files`), so a reader never sees half a file.

A saved tuning opens with comment lines, which the loader skips as YAML comments: what was
tuned, and two lines in a fixed form that `read_record` reads back:

    # form: cfdl
    # tuned PID: kp=0.5, ki=0.1, kd=0.3          (the PID tuned beside it, if any)

After the eleven keys come the companion keys, which the loader ignores as it ignores every
key it does not know, and which `vorn run --config` and `vorn export-c --config`
(vorn.cli.config) apply, without the warning an unknown key gets:

    rho_vector: [0.25, 1.0, 0.5]     the full form's step factors, one per estimate component
                                     (set_rho_vector), when the tuning searched them
    operating_point: plant           where the loop starts: plant (its initial output; the
                                     comment after it names that level) or zero

Each is one line, each number its repr, so that it reads back to the same double.
"""

from __future__ import annotations

import ast
import math
import os
import re
from typing import Any, Mapping, Sequence

import vorn._vorn_core as core
from vorn.files import write_file
from vorn.forms import FILE_KEYS, PARAMETERS

# The configuration file's keys, in the loader's order, with the keyword each one holds.
KEYS = tuple(zip(FILE_KEYS, PARAMETERS))


def number_text(value: float) -> str:
    """A double as the shortest text that reads back to it (YAML's spelling of inf and NaN)."""
    if math.isnan(value):
        return ".nan"
    if math.isinf(value):
        return ".inf" if value > 0 else "-.inf"
    return repr(float(value))


def config_values(params: Mapping[str, Any], defaults: tuple[Any, ...]) -> tuple[Any, ...]:
    """The loader's 11-tuple for `params`, with `defaults` (the class's) for what is missing."""
    return tuple(params.get(keyword, default) for (_, keyword), default in zip(KEYS, defaults))


def config_text(values: tuple[Any, ...], header: str = "", companions: str = "") -> str:
    """The YAML text of the loader's 11-tuple `values`, then the `companions` lines."""
    lines = [f"# {line}" for line in header.splitlines()]
    for (key, _), value in zip(KEYS, values):
        if value is None:
            lines.append(f"{key}: null")
        elif key in ("L_y", "L_u"):
            lines.append(f"{key}: {int(value)}")
        else:
            lines.append(f"{key}: {number_text(float(value))}")
    return "\n".join(lines + companions.splitlines()) + "\n"


RHO_VECTOR_KEY = "rho_vector"
START_KEY = "operating_point"
COMPANIONS = (RHO_VECTOR_KEY, START_KEY)
# The operating points a file names: the plant's initial output, or zero (the controller
# starts as it was built).
AT_PLANT = "plant"
AT_ZERO = "zero"


def companion_lines(rho_vector: Sequence[float] | None, operating_point: str | None,
                    y0: float | None = None) -> str:
    """The companion keys' lines of a saved tuning."""
    lines = []
    if rho_vector is not None:
        lines.append(f"{RHO_VECTOR_KEY}: [{', '.join(number_text(float(v)) for v in rho_vector)}]")
    if operating_point is None:
        lines.append(f"{START_KEY}: {AT_ZERO}")
    else:
        lines.append(f"{START_KEY}: {AT_PLANT}" + ("" if y0 is None else f"  # its output at rest: {float(y0)!r}"))
    return "\n".join(lines)


def read_companion(key: str, line: str) -> Any:
    """The value of companion `key` from its line of a file (`key: value`, a comment after
    it allowed): a list of floats for rho_vector, "plant" or None for operating_point.
    ValueError, naming what is wrong, for anything else."""
    head, _, value = line.partition(":")
    value = value.split("#", 1)[0].strip()
    if head.strip().strip("'\"") != key:
        raise ValueError(f"{key} must be written as '{key}: value' on one line")
    if key == START_KEY:
        if value not in (AT_PLANT, AT_ZERO):
            raise ValueError(f"{key} must be {AT_PLANT} or {AT_ZERO}, not {value!r}")
        return None if value == AT_ZERO else AT_PLANT
    if not (value.startswith("[") and value.endswith("]")):
        raise ValueError(f"{key} must be a list of numbers on one line, such as [0.5, 1.0], not {value!r}")
    items = [v.strip() for v in value[1:-1].split(",")]
    try:
        numbers = [float(v) for v in items]
    except ValueError:
        raise ValueError(f"{key} must be a list of numbers on one line, such as [0.5, 1.0], not {value!r}") from None
    if not all(math.isfinite(v) for v in numbers):
        raise ValueError(f"{key} must hold finite numbers, not {value!r}")
    return numbers


FORM_LINE = "form: "
PID_LINE = "tuned PID: "


def record(form: str, pid: Mapping[str, Any] | None) -> str:
    """The header lines recording the form a file was tuned for and the tuned PID's keyword
    arguments (each value as its repr, so it reads back exactly)."""
    lines = [FORM_LINE + form]
    if pid is not None:
        lines.append(PID_LINE + ", ".join(f"{key}={value!r}" for key, value in pid.items()))
    return "\n".join(lines)


def _literal(text: str) -> Any:
    try:
        return ast.literal_eval(text)
    except (ValueError, SyntaxError):
        return float(text)  # inf, -inf and nan, as repr writes them


def read_record(text: str) -> dict[str, Any]:
    """What a saved tuning's header records: {"form": ..., "pid": {...}} (each key only when
    its line is there) from the file's text."""
    found: dict[str, Any] = {}
    for line in text.splitlines():
        if not line.startswith("#"):
            break
        comment = line[1:].strip()
        if comment.startswith(FORM_LINE):
            found["form"] = comment[len(FORM_LINE):].strip()
        elif comment.startswith(PID_LINE):
            pairs = re.findall(r"(\w+)=([^,]+)", comment[len(PID_LINE):])
            found["pid"] = {key: _literal(value.strip()) for key, value in pairs}
    return found


def _same(a: tuple[Any, ...], b: tuple[Any, ...]) -> bool:
    # NaN equals NaN here; -0.0 and 0.0 differ.
    return all(repr(float(x)) == repr(float(y)) if isinstance(x, float) or isinstance(y, float)
               else x == y for x, y in zip(a, b))


def save_config(path: str | os.PathLike[str], values: tuple[Any, ...], header: str = "",
                companions: str = "") -> None:
    """Writes `values` (the loader's 11-tuple) to `path` as `vorn.files.write_file` writes
    (atomically, keeping the old file's mode, refusing what is not a regular file), after
    checking that the loader reads the new file back to exactly `values`."""
    def reads_back(temporary: str) -> None:
        back = core.load_config_from_yaml(True, temporary)
        if not _same(tuple(back), values):
            raise ValueError(f"the configuration file would not read back to the same values: {back!r}")

    write_file(path, config_text(values, header, companions), check=reads_back)

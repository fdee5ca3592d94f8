"""save.py: a controller's keyword arguments written as the YAML configuration file that
`load_config_from_yaml` reads, so that it reads back to exactly the same values.

Doubles are written as their shortest round-trip text (repr), infinities and NaN in YAML's
spelling; the file is written to a temporary file beside the target, read back and compared,
and only then renamed over the target (`vorn.files`), so a reader never sees half a file.
"""

from __future__ import annotations

import math
import os
from typing import Any, Mapping

import vorn._vorn_core as core
from vorn.files import write_file
from vorn.forms import FILE_KEYS, PARAMETERS

# The configuration file's keys, in the loader's order, with the keyword each one holds.
KEYS = tuple(zip(FILE_KEYS, PARAMETERS))


def _number(value: float) -> str:
    if math.isnan(value):
        return ".nan"
    if math.isinf(value):
        return ".inf" if value > 0 else "-.inf"
    return repr(float(value))


def config_values(params: Mapping[str, Any], defaults: tuple[Any, ...]) -> tuple[Any, ...]:
    """The loader's 11-tuple for `params`, with `defaults` (the class's) for what is missing."""
    return tuple(params.get(keyword, default) for (_, keyword), default in zip(KEYS, defaults))


def config_text(values: tuple[Any, ...], header: str = "") -> str:
    """The YAML text of the loader's 11-tuple `values`."""
    lines = [f"# {line}" for line in header.splitlines()]
    for (key, _), value in zip(KEYS, values):
        if value is None:
            lines.append(f"{key}: null")
        elif key in ("L_y", "L_u"):
            lines.append(f"{key}: {int(value)}")
        else:
            lines.append(f"{key}: {_number(float(value))}")
    return "\n".join(lines) + "\n"


def _same(a: tuple[Any, ...], b: tuple[Any, ...]) -> bool:
    # NaN equals NaN here; -0.0 and 0.0 differ.
    return all(repr(float(x)) == repr(float(y)) if isinstance(x, float) or isinstance(y, float)
               else x == y for x, y in zip(a, b))


def save_config(path: str | os.PathLike[str], values: tuple[Any, ...], header: str = "") -> None:
    """Writes `values` (the loader's 11-tuple) to `path` as `vorn.files.write_file` writes
    (atomically, keeping the old file's mode, refusing what is not a regular file), after
    checking that the loader reads the new file back to exactly `values`."""
    def reads_back(temporary: str) -> None:
        back = core.load_config_from_yaml(True, temporary)
        if not _same(tuple(back), values):
            raise ValueError(f"the configuration file would not read back to the same values: {back!r}")

    write_file(path, config_text(values, header), check=reads_back)

"""text.py: the pieces both exports build their C from: the state record of fields that
drives a struct, its size and its `NAME_init`, exact C spellings of doubles, and the
package's template files."""

from __future__ import annotations

import math
import struct
from dataclasses import dataclass
from importlib import resources
from typing import Any

# --- the state record: one table drives the struct, its size and NAME_init ---------------

@dataclass(frozen=True)
class Field:
    name: str
    ctype: str           # "double" or "int"
    length: tuple[str, int] | None  # array length: a macro suffix plus a constant; None: scalar
    count: int           # number of entries
    value: Any           # float, int, or list of floats
    comment: str


def scalar(name: str, value: Any, comment: str, ctype: str = "double") -> Field:
    return Field(name, ctype, None, 1, value, comment)


def array(name: str, length: tuple[str, int], values: list[float], comment: str) -> Field:
    return Field(name, "double", length, len(values), values, comment)


def bits(value: float) -> int:
    return int.from_bytes(struct.pack("<d", value), "little")


def assign(target: str, value: float, prefix: str) -> str:
    """`target = value;` with an exact C expression for the double: a hexadecimal literal,
    or for NaN and infinities the bit pattern; the decimal value follows as a comment."""
    if math.isfinite(value):
        return f"{target} = {value.hex()}; /* {value!r} */"
    return f"{target} = {prefix}_bits(UINT64_C({bits(value):#018x})); /* {value!r} */"


def init_lines(fields: list[Field], prefix: str, macro: str, index: str = "int") -> tuple[list[str], list[str]]:
    """NAME_init's statements, and the tables its arrays of differing entries are copied from
    (one statement per entry would take the compiler minutes at large orders)."""
    lines, tables = [], []
    for f in fields:
        if f.ctype == "int":
            lines.append(f"c->{f.name} = {f.value};")
        elif f.length is None:
            lines.append(assign(f"c->{f.name}", float(f.value), prefix))
        elif len({bits(v) for v in f.value}) == 1:
            lines.append(f"for ({index} i = 0; i < {length_of(f, macro)}; ++i) {{ "
                         + assign(f"c->{f.name}[i]", f.value[0], prefix) + " }")
        else:
            table = f"{prefix}_initial_{f.name}"
            tables.append(_table(table, f, macro))
            entry = f"{table}[i]" if all(map(math.isfinite, f.value)) else f"{prefix}_bits({table}[i])"
            lines.append(f"for ({index} i = 0; i < {length_of(f, macro)}; ++i) {{ c->{f.name}[i] = {entry}; }}")
    return [f"    {line}\n" for line in lines], tables


def _table(table: str, f: Field, macro: str) -> str:
    """A static table of the array's initial entries: hexadecimal literals, exact; bit
    patterns instead when an entry is NaN or infinite (no constant expression spells those)."""
    finite = all(map(math.isfinite, f.value))
    entries = [v.hex() if finite else f"UINT64_C({bits(v):#018x})" for v in f.value]
    rows = ",\n".join("    " + ", ".join(entries[i:i + 4]) for i in range(0, len(entries), 4))
    kind = "double" if finite else "uint64_t"
    return f"\nstatic const {kind} {table}[{length_of(f, macro)}] = {{\n{rows}\n}};\n"


def length_of(f: Field, macro: str) -> str:
    assert f.length is not None
    suffix, extra = f.length
    return f"({macro}_{suffix} + {extra})" if extra else f"{macro}_{suffix}"


def struct_lines(fields: list[Field], macro: str) -> list[str]:
    lines = []
    for f in fields:
        decl = f"{f.ctype} {f.name}" + (f"[{length_of(f, macro)}]" if f.length else "") + ";"
        lines.append(f"    {decl:<34}/* {f.comment} */\n")
    return lines


def state_size(fields: list[Field]) -> tuple[int, int, int]:
    # The struct lays out every double before any int, so where doubles are 4-aligned (32-bit
    # x86) it has no padding, and where they are 8-aligned only the tail is padded.
    doubles = sum(f.count for f in fields if f.ctype == "double")
    ints = sum(f.count for f in fields if f.ctype == "int")
    size = 8 * doubles + 4 * ints
    return doubles, ints, size


BITS_HELPER = """
/* The double with the given IEEE 754 bit pattern, NaN sign and payload included. */
static double ${P}_bits(uint64_t bits)
{
    union { uint64_t u; double d; } v;
    v.u = bits;
    return v.d;
}
"""


_TEXTS: dict[str, str] = {}  # the package's template files, each read once


def template(name: str) -> str:
    if name not in _TEXTS:
        _TEXTS[name] = resources.files("vorn.export").joinpath(name).read_text(encoding="utf-8")
    return _TEXTS[name]

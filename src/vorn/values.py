"""values.py: turning the numbers a caller hands the package (set points, plant outputs and
inputs, logged samples, gains, start vectors) into float64 arrays, refusing complex values
instead of letting NumPy drop their imaginary part with only a warning.

    real_array(value, what) -> ndarray of float64

`what` names the value in the refusal ("the set point", "the plant's output at sample 3").
A value NumPy cannot read as numbers raises its own TypeError or ValueError, as before.
"""

from __future__ import annotations

from typing import Any

import numpy as np


class ComplexValueError(ValueError):
    """A complex value where the package needs real numbers."""


def _is_complex(array: np.ndarray) -> bool:
    if array.dtype.kind == "c":
        return True
    if array.dtype.kind == "O":  # a sequence of Python objects: look at each one
        return any(isinstance(v, (complex, np.complexfloating)) for v in array.flat)
    return False


def real_array(value: Any, what: str) -> np.ndarray:
    """`value` as a float64 array; a complex value (even with a zero imaginary part) is refused
    with a ValueError naming `what`."""
    if isinstance(value, np.ndarray):
        if value.dtype.kind == "f" and value.dtype.itemsize == 8:
            return value
        array = value
    elif isinstance(value, float):
        return np.asarray(value)
    else:
        array = np.asarray(value)
    if _is_complex(array):
        raise ComplexValueError(f"{what} must be real numbers, not complex ({array.dtype})"
                                if array.dtype.kind == "c" else f"{what} must be real numbers, not complex")
    return np.asarray(array, dtype=float)

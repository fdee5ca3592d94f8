"""Sequence arguments that export a buffer, made from a list of floats. Whatever the buffer
says, each must convert exactly as its items do (what `list(obj)` gives): a ctypes array
exports no strides, a masked array hides values under its mask, a big-endian or single
precision array has other bytes than native doubles."""

import array
import ctypes
import math
import struct

import numpy as np


def ctypes_vector(xs):
    return (ctypes.c_double * len(xs))(*xs)


def ctypes_matrix(rows):
    """A two-dimensional ctypes array: rows of equal length."""
    width = len(rows[0]) if rows else 0
    return ((ctypes.c_double * width) * len(rows))(*[tuple(r) for r in rows])


def masked(xs):
    return np.ma.array(xs, mask=[i % 2 == 1 for i in range(len(xs))])


VECTOR_KINDS = {
    "ctypes": ctypes_vector,
    "ctypes-float": lambda xs: (ctypes.c_float * len(xs))(*xs),
    "masked": masked,
    "masked-unmasked": lambda xs: np.ma.array(xs),
    "ndarray": lambda xs: np.array(xs, dtype=float),
    "ndarray-reversed": lambda xs: np.array(xs[::-1], dtype=float)[::-1],
    "ndarray-big-endian": lambda xs: np.array(xs, dtype=">f8"),
    "ndarray-2d": lambda xs: np.array(xs, dtype=float).reshape(1, -1),
    "array": lambda xs: array.array("d", xs),
    "memoryview-strided": lambda xs: memoryview(array.array("d", [v for x in xs for v in (x, -9.0)]))[::2],
    "bytearray-cast": lambda xs: memoryview(bytearray(struct.pack(f"={len(xs)}d", *xs))).cast("d"),
    "bytes": lambda xs: bytes(int(abs(x)) % 256 if math.isfinite(x) else 0 for x in xs),
}


def plain(obj):
    """What item access gives: the list of the same items, which a buffer argument must
    convert like."""
    return list(obj)

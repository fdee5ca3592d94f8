"""pid.py: a discrete PID controller, the classical baseline to compare the adaptive ones with.

    PID(kp, ki=0.0, kd=0.0, u_min=None, u_max=None, n=1)
    update(y, yd, out=None) -> float (n = 1, float y) or ndarray (n,)
    reset()
    len(pid) -> n

One sample, with e(k) = yd(k) − y(k) and gains per sample (the sampling period folded in):

    P(k) = kp·e(k)
    I(k) = I(k−1) + ki·e(k)          but, while that would drive the output past a limit,
                                     only up to the value that puts it at the limit, and
                                     held when it is there already (anti-windup)
    D(k) = −kd·(y(k) − y(k−1))       on the measurement, so a set-point step gives no kick;
                                     0 at the first sample
    u(k) = P(k) + I(k) + D(k), then limited to [u_min, u_max]

With `n` > 1 it runs n independent loops at once, like a controller fleet: `y` and `yd` are
arrays of n values (`yd` may be a scalar), and every gain and limit is a scalar or n values.
`out`, if given, must be a writeable float64 array of shape (n,). Every argument is checked
before the step: a refused call (wrong shape, wrong `out`, complex values) changes no state.
"""

from __future__ import annotations

import math
from typing import Any, cast

import numpy as np

from vorn.values import real_array


def _gain(name: str, value: Any, n: int) -> Any:
    array = np.array(real_array(value, name))
    if array.shape not in ((), (n,)):
        raise ValueError(f"{name} must be a number or {n} numbers, got shape {array.shape}")
    if not np.isfinite(array).all():
        raise ValueError(f"{name} must be finite")
    return float(array) if array.shape == () else array


def _limit(name: str, value: Any, n: int) -> Any:
    if value is None:
        return None
    array = np.array(real_array(value, name))
    if array.shape not in ((), (n,)):
        raise ValueError(f"{name} must be None, a number or {n} numbers, got shape {array.shape}")
    if np.isnan(array).any():
        raise ValueError(f"{name} must not be NaN")
    return float(array) if array.shape == () else array


def _number(value: Any, name: str) -> float:
    """A scalar input as a float; a complex one is refused rather than cut to its real part."""
    if type(value) is float:
        return value
    array = real_array(value, name)
    return float(array) if array.ndim == 0 else float(value)


class PID:
    """A discrete PID with anti-windup and derivative on the measurement; see the module's
    docstring for the law."""

    def __init__(self, kp: Any, ki: Any = 0.0, kd: Any = 0.0, u_min: Any = None,
                 u_max: Any = None, n: int = 1) -> None:
        if isinstance(n, bool) or not isinstance(n, (int, np.integer)) or n < 1:
            raise ValueError(f"n must be an integer of at least 1, not {n!r}")
        self.n = int(n)
        self.kp = _gain("kp", kp, self.n)
        self.ki = _gain("ki", ki, self.n)
        self.kd = _gain("kd", kd, self.n)
        self.u_min = _limit("u_min", u_min, self.n)
        self.u_max = _limit("u_max", u_max, self.n)
        if self.u_min is not None and self.u_max is not None and np.any(np.greater(self.u_min, self.u_max)):
            raise ValueError("u_min must not exceed u_max")
        self._scalar = self.n == 1 and all(
            not isinstance(v, np.ndarray) for v in (self.kp, self.ki, self.kd, self.u_min, self.u_max))
        self.reset()

    def reset(self) -> None:
        """Clears the integral and forgets the previous measurement."""
        self.integral: Any = 0.0 if self.n == 1 else np.zeros(self.n)
        self.y_prev: Any = None

    def __len__(self) -> int:
        return self.n

    def __repr__(self) -> str:
        gains = ", ".join(f"{k}={v!r}" for k, v in (("kp", self.kp), ("ki", self.ki), ("kd", self.kd),
                                                    ("u_min", self.u_min), ("u_max", self.u_max)))
        return f"PID({gains}, n={self.n})"

    def update(self, y: Any, yd: Any, out: np.ndarray | None = None) -> Any:
        """The next input from the measured output(s) `y` and the set point(s) `yd`."""
        if self._scalar and out is None and not isinstance(y, np.ndarray):
            return self._update_float(_number(y, "y"), _number(yd, "yd"))
        if out is not None:
            self._check_out(out)  # before the step: a refused call leaves the state as it was
        u = self._update_array(y, yd)
        if out is None:
            return u
        out[...] = u
        return out

    def _check_out(self, out: Any) -> None:
        if not isinstance(out, np.ndarray) or out.dtype != np.float64:
            what = f"a {out.dtype} array" if isinstance(out, np.ndarray) else type(out).__name__
            raise TypeError(f"out must be a float64 array of shape ({self.n},), not {what}")
        if out.shape != (self.n,):
            raise ValueError(f"out must have shape ({self.n},), not {out.shape}")
        if not out.flags.writeable:
            raise ValueError("out must be writeable")

    def _terms(self, y: Any, yd: Any) -> tuple[Any, Any, Any, Any]:
        """P, the integral's step, I before anti-windup, and D; for floats or arrays alike."""
        e = yd - y
        p = self.kp * e
        step = self.ki * e
        i = self.integral + step
        prev = y if self.y_prev is None else self.y_prev
        d = -self.kd * (y - prev)
        return p, step, i, d

    def _update_float(self, y: float, yd: float) -> float:
        p, step, i, d = self._terms(y, yd)
        v = p + i + d
        hi, lo = self.u_max, self.u_min
        if hi is not None and v > hi and step > 0.0:
            i = max(self.integral, hi - p - d)
            v = p + i + d
        elif lo is not None and v < lo and step < 0.0:
            i = min(self.integral, lo - p - d)
            v = p + i + d
        if lo is not None:
            v = max(v, lo) if not math.isnan(v) else v
        if hi is not None:
            v = min(v, hi) if not math.isnan(v) else v
        self.integral, self.y_prev = i, y
        return cast(float, v)

    def _update_array(self, y: Any, yd: Any) -> np.ndarray:
        y = real_array(y, "y")
        yd = real_array(yd, "yd")
        if y.shape != (self.n,) or yd.shape not in ((), (self.n,)):
            raise ValueError(f"y must have shape ({self.n},) and yd () or ({self.n},); "
                             f"got {y.shape} and {yd.shape}")
        p, step, i, d = self._terms(y, yd)
        v = p + i + d
        hi, lo = self.u_max, self.u_min
        # Only the loops pushed past a limit need the anti-windup rule and the clamp.
        high = (v > hi) & (step > 0.0) if hi is not None else None
        low = (v < lo) & (step < 0.0) if lo is not None else None
        if (high is not None and high.any()) or (low is not None and low.any()):
            if high is not None:
                i = np.where(high, np.maximum(self.integral, hi - p - d), i)
            if low is not None:
                i = np.where(low, np.minimum(self.integral, lo - p - d), i)
            v = p + i + d
        if hi is not None or lo is not None:
            v = np.clip(v, lo, hi)
        i = np.array(i, dtype=float).reshape(self.n)
        if self._scalar:  # one loop keeps float state, whichever way it is called
            self.integral, self.y_prev = float(i[0]), float(y[0])
        else:
            self.integral, self.y_prev = i, y.copy()
        return np.array(v, dtype=float).reshape(self.n)

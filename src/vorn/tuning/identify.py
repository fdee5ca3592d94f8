"""identify.py: what the tuner learns of a plant before its search, and a warm start from
logged data.

    initial_phi_from_data(u, y, form="pfdl", l_u=None, l_y=None, ridge=1e-4) -> ndarray
    bump_test(plant, u0=0.0, u_min=None, u_max=None) -> Identified | None
    Logged(u, y)                      logged samples, for `vorn.tune(..., identify=Logged(u, y))`
    from_data(logged) -> Identified | None

`u[k]` is the input applied after `y[k]` was measured, so y[k+1] is its first response (the
layout of a `Run`'s member, or of any log taken once per sample). The estimate solves the
regularised least-squares problem

    min over φ   Σ_k (Δy(k+1) − φᵀ ΔH(k))²  +  α ‖φ‖²

with Δy(k+1) = y[k+1] − y[k] and ΔH(k) the controller's increment vector:
    cfdl:  [Δu(k)]
    pfdl:  [Δu(k), …, Δu(k−l_u+1)]
    ffdl:  [Δy(k), …, Δy(k−l_y+1), Δu(k), …, Δu(k−l_u+1)]
and α = ridge · trace(ΔHᵀΔH) / (number of entries), which keeps the problem well posed when
the input was seldom moved, whatever the data's scale. The problem is solved on increments
divided by their own scale and mapped back, so data logged near 1e300 or 1e-300 gives the
same estimate as data near 1; an estimate that double precision cannot hold (u and y apart
by hundreds of decades, or a ridge that swamps the data) is refused with a ValueError.

The entry of the newest input increment (index 0; l_y in the full form) is the one the
controllers' reset rule checks for its sign, so it must carry the plant's sign. Behind a
dead time that entry is close to zero and the fit may give it either sign; it is then set to
a tenth of the summed input entries (the input's effect over the window, which has the
plant's sign).
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

import numpy as np

from vorn.forms import FORMS, SISO
from vorn.values import real_array
# The newest input entry is kept when it is at least this fraction of the summed input entries.
KEEP = 0.1


def _series(name: str, values: Any) -> np.ndarray:
    array = real_array(values, name)
    if array.ndim != 1:
        raise ValueError(f"{name} must be a 1-D sequence of samples, not shape {array.shape}")
    if not np.isfinite(array).all():
        raise ValueError(f"{name} must be finite")
    return array


def _orders(form: str, l_u: int | None, l_y: int | None) -> tuple[int, int]:
    if form not in FORMS:
        raise ValueError(f"unknown form {form!r}: expected one of {', '.join(FORMS)}")
    defaults = SISO[form].default_orders
    l_y = defaults["l_y"] if l_y is None else l_y
    l_u = defaults["l_u"] if l_u is None else l_u
    for name, value in (("l_y", l_y), ("l_u", l_u)):
        if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < 0:
            raise ValueError(f"{name} must be a whole number >= 0, not {value!r}")
    if l_u < 1:
        raise ValueError("l_u must be at least 1")
    fixed = SISO[form].fixed_orders
    if any({"l_y": l_y, "l_u": l_u}[k] != v for k, v in fixed.items()):
        raise ValueError(f"{form} takes " + " and ".join(f"{k} = {v}" for k, v in fixed.items()))
    return int(l_y), int(l_u)


def increments(u: np.ndarray, y: np.ndarray, l_y: int, l_u: int) -> tuple[np.ndarray, np.ndarray]:
    """(ΔH, Δy): one row of the increment vector per sample k that has a full history, and
    the output increment that followed it."""
    du = np.diff(u)  # du[j] = Δu(j+1) = u[j+1] − u[j]
    dy = np.diff(y)  # dy[j] = Δy(j+1)
    first = max(l_u, l_y)  # the first k with Δu(k−l_u+1) and Δy(k−l_y+1) both logged
    rows = []
    for k in range(first, len(y) - 1):
        past_y = [dy[k - 1 - i] for i in range(l_y)]
        past_u = [du[k - 1 - j] for j in range(l_u)]
        rows.append(past_y + past_u)
    targets = dy[first:len(y) - 1]
    return np.array(rows, dtype=float).reshape(len(targets), l_y + l_u), targets


def _power_of_two(values: np.ndarray) -> float:
    """A power of two near the largest magnitude of `values` (1 when they are all zero):
    dividing by it is exact, and brings the values near 1."""
    top = float(np.max(np.abs(values))) if values.size else 0.0
    return math.ldexp(1.0, math.frexp(top)[1]) if top > 0.0 else 1.0


def _solve(H: np.ndarray, d: np.ndarray, l_y: int, ridge: float) -> np.ndarray:
    """The regularised least-squares estimate, computed on increments divided by their scale
    (powers of two: s_d for the targets Δy(k+1), s_j for column j of ΔH, one for the output
    increments and one for the input's) and mapped back, so that data near 1e300 or 1e-300
    neither overflows nor underflows. The ridge is carried over exactly: entry j of φ is
    s_d/s_j times entry j of the scaled solution, and its penalty α·φ_j² becomes
    (α/s_j²)·(scaled φ_j)² once the objective is divided by s_d²."""
    width = H.shape[1]
    s_y, s_u = _power_of_two(H[:, :l_y]), _power_of_two(H[:, l_y:])
    scale = np.array([s_y] * l_y + [s_u] * (width - l_y))
    with np.errstate(over="ignore", under="ignore", invalid="ignore"):
        s_d = _power_of_two(d)
        Hs, ds = H / scale, d / s_d
        squares = np.sum(Hs * Hs, axis=0)  # the trace of HᵀH, column by column, scaled
        # α / s_j² = ridge · Σ_i (s_i/s_j)² ‖Hs_i‖² / width, every ratio a power of two.
        weights = np.array([ridge * np.sum((scale / s) ** 2 * squares) / width for s in scale])
        gram = Hs.T @ Hs
        try:
            phi_s = np.linalg.solve(gram + np.diag(weights), Hs.T @ ds)
        except np.linalg.LinAlgError:
            phi_s = np.full(width, np.nan)
        phi = phi_s * (s_d / scale)
    lost = np.any((phi == 0.0) & (phi_s != 0.0)) or (not np.any(phi) and np.any(d))  # underflowed
    if not (np.isfinite(weights).all() and np.isfinite(phi).all()) or lost:
        raise ValueError("the estimate is beyond double precision: the logged increments of u and y "
                         "differ in scale by too many decades, or ridge is too large for them "
                         f"(ridge = {ridge!r}); rescale u or y, or lower ridge")
    return phi


def initial_phi_from_data(u: Any, y: Any, form: str = "pfdl", l_u: int | None = None,
                          l_y: int | None = None, ridge: float = 1e-4) -> np.ndarray:
    """The estimate vector (length l_u, or l_y + l_u for ffdl, 1 for cfdl) that the logged
    increments suggest; see the module's docstring."""
    l_y, l_u = _orders(form, l_u, l_y)
    u = _series("u", u)
    y = _series("y", y)
    if len(u) != len(y):
        raise ValueError(f"u and y must have one entry per sample: {len(u)} and {len(y)}")
    ridge = float(ridge)
    if not (ridge > 0.0 and np.isfinite(ridge)):
        raise ValueError(f"ridge must be positive and finite, not {ridge!r}")
    width = l_y + l_u
    H, d = increments(u, y, l_y, l_u)
    if len(d) < width + 1:
        raise ValueError(f"{len(u)} samples are too few to estimate {width} entries; log at least "
                         f"{width + max(l_u, l_y) + 2}")
    if not np.any(H[:, l_y:]):
        raise ValueError("the logged input never changes: its effect on the output cannot be estimated")
    phi = _solve(H, d, l_y, ridge)
    total = float(np.sum(phi[l_y:]))
    newest = float(phi[l_y])
    if total != 0.0 and (newest * total <= 0.0 or abs(newest) < KEEP * abs(total)):
        phi[l_y] = KEEP * total
    return phi


# The bump test: samples held at the operating point before the bump, and samples after it.
SETTLE = 10
WINDOW = 80
# The first sample whose output left its rest level by more than this fraction of the
# largest excursion in the window (or the measured spread at rest, when larger) is the
# first that the bump reached.
ONSET = 0.01


@dataclass(frozen=True)
class Identified:
    """What a bump test (or logged data) told of a plant before the search.

    dead_time   samples between an input move and the first output move it causes (0: the
                next sample already moves)
    gain_sign   +1.0 or -1.0: the sign of the output's move for a rising input
    gain        the output's move at the end of the window over the bump's size
    y0          the plant's output at rest (its reset value)
    bump        the input move applied from the operating point (inside the input limits)
    source      BUMP_TEST, or LOGGED_DATA (from_data: y0 is then the first logged output
                and bump the largest input move in the log)
    """

    dead_time: int
    gain_sign: float
    gain: float
    y0: float
    bump: float
    source: str = "bump test"

    def describe(self) -> str:
        found = (f"identified: dead time {self.dead_time} samples, gain {self.gain:.4g} "
                 f"(sign {'+' if self.gain_sign > 0 else '-'}), ")
        if self.source == LOGGED_DATA:
            return found + f"from logged data (largest input move {self.bump:g})"
        return found + f"from a bump of {self.bump:g} at rest output {self.y0:.6g}"


BUMP_TEST = "bump test"
LOGGED_DATA = "logged data"


def _bump_size(u0: float, u_min: float | None, u_max: float | None) -> float:
    """A move of 1 (or half the room to the nearer limit, when that is smaller), upwards
    unless there is more room below."""
    up = math.inf if u_max is None else u_max - u0
    down = math.inf if u_min is None else u0 - u_min
    room = max(up, down)
    if not room > 0.0:
        return 0.0
    size = min(1.0, room / 2.0)
    return size if up >= down else -size


def bump_test(plant: Any, u0: float = 0.0, u_min: float | None = None,
              u_max: float | None = None) -> Identified | None:
    """A bump test on one copy of `plant` (the plant protocol): SETTLE samples at u0, then
    WINDOW samples at u0 + bump; None when the output does not move (or the input cannot)."""
    bump = _bump_size(float(u0), u_min, u_max)
    if bump == 0.0:
        return None
    with np.errstate(all="ignore"):
        y0 = float(np.asarray(plant.reset(1), dtype=float).reshape(-1)[0])
        rest = [float(np.asarray(plant.step(np.full(1, u0)), dtype=float).reshape(-1)[0]) for _ in range(SETTLE)]
        after = np.array([float(np.asarray(plant.step(np.full(1, u0 + bump)), dtype=float).reshape(-1)[0])
                          for _ in range(WINDOW)])
    level = rest[-1]
    moves = after - level
    if not np.isfinite(moves).all():
        return None
    top = float(np.max(np.abs(moves)))
    spread = float(np.max(rest) - np.min(rest))
    threshold = max(ONSET * top, 3.0 * spread)
    if not top > threshold:
        return None
    first = int(np.argmax(np.abs(moves) > threshold))  # after[0] follows the bump at once
    final = float(np.mean(moves[-WINDOW // 8:]))
    sign = 1.0 if (final if final != 0.0 else moves[first]) * bump > 0.0 else -1.0
    return Identified(first, sign, final / bump, y0, bump)


# Logged data: the step response is read off an impulse-response fit of this many lags (at
# most; fewer for a short log), and it has begun where it leaves its noise by STANDARD_ERRORS
# of its own estimate and ONSET of its largest move.
LAGS = WINDOW // 2
STANDARD_ERRORS = 3.0


@dataclass(frozen=True, init=False)
class Logged:
    """Samples logged on the plant, once per sample, for the tuner to identify its dead time
    and gain sign from instead of a bump test: `u[k]` is the input applied after `y[k]` was
    measured, so y[k+1] is its first response (the layout of a `Run`'s member). Both are 1-D,
    of the same length (at least MIN_LOGGED samples), finite and real; the input must move."""

    u: np.ndarray
    y: np.ndarray

    def __init__(self, u: Any, y: Any) -> None:
        u, y = _series("the logged input u", u), _series("the logged output y", y)
        if len(u) != len(y):
            raise ValueError(f"the logged u and y must have one entry per sample: {len(u)} and {len(y)}")
        if len(u) < MIN_LOGGED:
            raise ValueError(f"{len(u)} logged samples are too few to identify a dead time; log at least "
                             f"{MIN_LOGGED}")
        if not np.any(np.diff(u)):
            raise ValueError("the logged input never changes: its effect on the output cannot be estimated")
        object.__setattr__(self, "u", u.copy())
        object.__setattr__(self, "y", y.copy())


MIN_LOGGED = 40


def check_identify(identify: Any) -> bool | Logged:
    """`tune`'s identify= as True (the bump test), False (none) or Logged samples (a Logged,
    or a (u, y) pair of sequences)."""
    if isinstance(identify, (bool, np.bool_)):
        return bool(identify)
    if isinstance(identify, Logged):
        return identify
    if isinstance(identify, (tuple, list)) and len(identify) == 2:
        return Logged(*identify)
    raise TypeError(f"identify must be True (a bump test), False, or logged samples as "
                    f"vorn.tuning.Logged(u, y) or a (u, y) pair, not {type(identify).__name__}")


def from_data(logged: Logged) -> Identified | None:
    """The dead time, gain and gain sign that `logged` shows: the step response of a
    regularised fit Δy(k+1) = Σ_j h_j Δu(k−j) over up to LAGS lags, s_j = h_0 + … + h_j.
    The dead time is the first j where |s_j| passes both STANDARD_ERRORS standard errors of
    its estimate and ONSET of the largest |s|; the gain is the response at the last lag.
    None when no lag passes (the output does not follow the input)."""
    u, y = logged.u, logged.y
    lags = min(LAGS, max(2, (len(u) - 2) // 4))
    du, dy = np.diff(u), np.diff(y)  # du[k-1] = u[k] − u[k−1]; dy[k] = y[k+1] − y[k]
    rows = np.arange(lags, len(u) - 1)  # samples k with every lag's input increment logged
    X = np.stack([du[rows - 1 - j] for j in range(lags)], axis=1)
    t = dy[rows]
    scale_x, scale_t = _power_of_two(X), _power_of_two(t)
    Xs, ts = X / scale_x, t / scale_t
    gram = Xs.T @ Xs
    alpha = 1e-6 * float(np.trace(gram)) / lags
    with np.errstate(all="ignore"):
        try:
            inverse = np.linalg.inv(gram + alpha * np.eye(lags))
        except np.linalg.LinAlgError:
            return None
        h = inverse @ (Xs.T @ ts)
        residual = ts - Xs @ h
        sigma2 = float(residual @ residual) / max(len(ts) - lags, 1)
        steps = np.tril(np.ones((lags, lags)))
        s = steps @ h
        se = np.sqrt(np.maximum(np.diag(steps @ (sigma2 * inverse @ gram @ inverse) @ steps.T), 0.0))
    if not (np.isfinite(s).all() and np.isfinite(se).all()):
        return None
    top = float(np.max(np.abs(s)))
    moved = (np.abs(s) > STANDARD_ERRORS * se) & (np.abs(s) > ONSET * top)
    if not top > 0.0 or not moved.any():
        return None
    first = int(np.argmax(moved))
    gain = float(s[-1]) * scale_t / scale_x
    sign = 1.0 if (gain if gain != 0.0 else float(s[first])) > 0.0 else -1.0
    return Identified(first, sign, gain, float(y[0]), float(np.max(np.abs(du))), LOGGED_DATA)

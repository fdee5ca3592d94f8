"""builtin.py: the built-in simulated plants to close loops on, and the protocol every plant
follows.

A plant is any object with two methods (`Plant` below):

    reset(n: int) -> ndarray    puts n independent copies at rest and returns their outputs,
                                shape (n,) for a SISO plant, (n, dim) for a MIMO one
    step(u: ndarray) -> ndarray applies one input per copy, shape (n,) or (n, dim), and
                                returns the next outputs in the same shape

A MIMO plant names its number of channels in a `dim` attribute: that is how `vorn.simulate`
knows to hand a fleet (n, dim) arrays and a single controller `dim` values.

The built-in plants follow it, vectorised over copies with NumPy. They also keep a scalar
mode: a fresh plant (or one after `reset()` without `n`) takes and returns plain floats (the
coupled plant: a list of two floats), which is what `vorn.simulate` uses for one controller.
Both modes compute the same difference equation with the same operations, so they agree bit
for bit.

Every built-in plant takes the same options, all drawn from one `numpy.random.Generator` (`rng`)
so that a seeded run repeats exactly:

    noise=0.0             standard deviation of Gaussian noise added to each measured output
    disturbance=None      (size, sample): a load step of `size` added to the plant's input from
                          sample `sample` on
    spread=0.0            each copy's coefficients are the nominal ones times 1 + spread·r,
                          r uniform in [-1, 1), drawn per copy at every reset (Monte Carlo)
"""

from __future__ import annotations

import math
from types import SimpleNamespace
from typing import Any, ClassVar, Protocol, cast, runtime_checkable

import numpy as np

from vorn.values import real_array


@runtime_checkable
class Plant(Protocol):
    """What `vorn.simulate` needs of a plant: see the module's docstring."""

    def reset(self, n: int) -> np.ndarray: ...

    def step(self, u: np.ndarray) -> np.ndarray: ...


def _sin(x: float) -> float:
    # math.sin raises on infinities; a diverging run should yield NaN, not an exception.
    return math.sin(x) if math.isfinite(x) else math.nan


# The functions the difference equations call, for floats and for arrays.
_FLOAT_OPS = SimpleNamespace(sqrt=math.sqrt, maximum=max, sin=_sin)
_ARRAY_OPS = SimpleNamespace(sqrt=np.sqrt, maximum=np.maximum, sin=np.sin)


def parse_disturbance(value: Any) -> tuple[float, int] | None:
    """`None`, or a pair (size, sample) with a finite size and a sample index of at least 0."""
    if value is None:
        return None
    try:
        size, sample = value
    except (TypeError, ValueError):
        raise TypeError(f"disturbance must be a pair (size, sample), not {value!r}") from None
    size = float(size)
    if not math.isfinite(size):
        raise ValueError(f"the disturbance's size must be finite, not {size}")
    if isinstance(sample, float) or int(sample) != sample or int(sample) < 0:
        raise ValueError(f"the disturbance's sample must be an integer of at least 0, not {sample!r}")
    return size, int(sample)


def check_noise(noise: Any) -> float:
    value = float(noise)
    if not (math.isfinite(value) and value >= 0.0):
        raise ValueError(f"noise must be a finite standard deviation of at least 0, not {value}")
    return value


def check_spread(spread: Any) -> float:
    value = float(spread)
    if not 0.0 <= value < 1.0:
        raise ValueError(f"spread must be at least 0 and below 1, not {value}")
    return value


def check_copies(n: Any) -> int:
    if isinstance(n, bool) or int(n) != n or n < 1:
        raise ValueError(f"the number of copies must be an integer of at least 1, not {n!r}")
    return int(n)


class BenchmarkPlant:
    """The common machinery of the built-in plants: copies, options, scalar and array modes.

    A subclass names its nominal `coefficients`, its set-point `levels` and implements
    `_rest(zero)` (state at rest; `zero` is 0.0 or an array of zeros), `_output()` (the true
    output) and `_advance(u, ops, c)` (one sample of its difference equation; `c` holds the
    coefficients, `ops` sqrt/maximum/sin for floats or arrays)."""

    name: ClassVar[str] = ""
    dim: ClassVar[int] = 1
    equation: ClassVar[str] = ""
    levels: ClassVar[tuple[float, ...]] = (1.0, 2.0)
    coefficients: ClassVar[dict[str, float]] = {}

    def __init__(self, *, noise: float = 0.0, disturbance: tuple[float, int] | None = None,
                 spread: float = 0.0, rng: np.random.Generator | None = None) -> None:
        self.noise = check_noise(noise)
        self.disturbance = parse_disturbance(disturbance)
        self.spread = check_spread(spread)
        self.rng = rng if rng is not None else np.random.default_rng()
        self.reset()

    @property
    def n(self) -> int | None:
        """Copies simulated: None in scalar mode."""
        return self._n

    def reset(self, n: int | None = None) -> Any:
        """Puts n copies at rest (None: one copy in scalar mode) and returns their outputs."""
        if n is not None:
            n = check_copies(n)
        self._n = n
        self._k = 0
        self._ops = _FLOAT_OPS if n is None else _ARRAY_OPS
        self._shape: tuple[int, ...] = () if n is None else ((n,) if self.dim == 1 else (n, self.dim))
        self.c = SimpleNamespace(**self._draw_coefficients(n))
        if n is None:
            self._rest(0.0)
        else:
            self._rest(np.zeros(n))
        return self._measure(self._output())

    def step(self, u: Any) -> Any:
        """One sample: input(s) in, measured output(s) out."""
        if self._n is not None:
            u = real_array(u, f"the {self.name} plant's input")
            if u.shape != self._shape:
                raise ValueError(f"the {self.name} plant expects inputs of shape {self._shape}, "
                                 f"got {u.shape}")
        if self.disturbance is not None and self._k >= self.disturbance[1]:
            size = self.disturbance[0]
            u = [v + size for v in u] if self._n is None and self.dim > 1 else u + size
        self._k += 1
        self._advance(u, self._ops, self.c)
        return self._measure(self._output())

    def _draw_coefficients(self, n: int | None) -> dict[str, Any]:
        if self.spread == 0.0:
            return dict(self.coefficients)
        size = None if n is None else n
        return {key: value * (1.0 + self.spread * self.rng.uniform(-1.0, 1.0, size))
                for key, value in self.coefficients.items()}

    def _measure(self, y: Any) -> Any:
        if self.noise == 0.0:
            return y.copy() if isinstance(y, np.ndarray) else y
        shape = None if self._n is None else self._shape
        return y + self.noise * self.rng.standard_normal(shape)

    # Defined by each plant.
    def _rest(self, zero: Any) -> None:
        raise NotImplementedError

    def _output(self) -> Any:
        raise NotImplementedError

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        raise NotImplementedError


class NonlinearPlant(BenchmarkPlant):
    """y(k+1) = y(k) / (1 + y(k)²) + b·u(k)³, b = 1"""

    name = "nonlinear"
    equation = "y(k+1) = y(k) / (1 + y(k)²) + u(k)³"
    levels = (0.5, -0.5)
    coefficients = {"b": 1.0}

    def _rest(self, zero: Any) -> None:
        self.y = zero

    def _output(self) -> Any:
        return self.y

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        y = self.y
        self.y = y / (1.0 + y * y) + c.b * u * u * u


class TimeVaryingPlant(BenchmarkPlant):
    """First half:  y(k+1) = 0.7·y(k) + 0.5·u(k)
    second half: y(k+1) = 0.5·y(k) + 0.2·y(k−1) + 1.2·u(k) + 0.3·u(k−1)

    The switch, at sample `switch_at`, adds an output and an input lag and triples the
    steady-state gain (from 5/3 to 5).
    """

    name = "time-varying"
    equation = ("y(k+1) = 0.7·y(k) + 0.5·u(k) for the first half of the run, then "
                "y(k+1) = 0.5·y(k) + 0.2·y(k−1) + 1.2·u(k) + 0.3·u(k−1)")
    coefficients = {"a": 0.7, "b": 0.5, "a1": 0.5, "a2": 0.2, "b1": 1.2, "b2": 0.3}

    def __init__(self, switch_at: int = 300, **options: Any) -> None:
        self.switch_at = switch_at
        super().__init__(**options)

    def _rest(self, zero: Any) -> None:
        self.y = self.y_prev = self.u_prev = zero

    def _output(self) -> Any:
        return self.y

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        y = self.y
        if self._k <= self.switch_at:  # _k counts this sample already
            y_next = c.a * y + c.b * u
        else:
            y_next = c.a1 * y + c.a2 * self.y_prev + c.b1 * u + c.b2 * self.u_prev
        self.y_prev, self.y, self.u_prev = y, y_next, u


class DeadTimePlant(BenchmarkPlant):
    """y(k+1) = a·y(k) + (1 − a)·g·u(k−3), a = 0.8, g = 2: first order with gain 2 and a time
    constant of about 4.5 samples, behind a dead time of three samples on top of the
    one-sample step."""

    name = "dead-time"
    equation = ("y(k+1) = 0.8·y(k) + 0.4·u(k−3): first order, gain 2, time constant about "
                "4.5 samples, dead time 3 samples")
    coefficients = {"a": 0.8, "gain": 2.0}
    delay = 3

    def _rest(self, zero: Any) -> None:
        self.y = zero
        self.pending: list[Any] = [zero] * self.delay

    def _output(self) -> Any:
        return self.y

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        self.pending.append(u.copy() if isinstance(u, np.ndarray) else u)  # the caller may reuse u
        delayed = self.pending.pop(0)
        self.y = c.a * self.y + (1.0 - c.a) * c.gain * delayed


class TankPlant(BenchmarkPlant):
    """A tank drained through an orifice and filled by a pump that cannot run backwards:
    h(k+1) = max(0, h(k) + β·(max(0, u(k)) − α·√h(k))), β = 0.5, α = 0.5

    The level h is the output. The gain from inflow to level grows with the level (the steady
    state is h = (u/α)²) and the response slows down as the tank fills."""

    name = "tank"
    equation = ("h(k+1) = max(0, h(k) + 0.5·(max(0, u(k)) − 0.5·√h(k))): a tank's level, "
                "filled by a pump, drained through an orifice")
    coefficients = {"beta": 0.5, "alpha": 0.5}

    def _rest(self, zero: Any) -> None:
        self.h = zero

    def _output(self) -> Any:
        return self.h

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        h = self.h
        inflow = ops.maximum(u, 0.0)
        self.h = ops.maximum(h + c.beta * (inflow - c.alpha * ops.sqrt(h)), 0.0)


class RationalPlant(BenchmarkPlant):
    """A third-order rational nonlinearity whose input gain shrinks as the output moves:
    y(k+1) = (y(k)·y(k−1)·y(k−2)·u(k−1)·(y(k−2) − 1) + b·u(k)) / (1 + y(k−1)² + y(k−2)²), b = 1"""

    name = "rational"
    equation = ("y(k+1) = (y(k)·y(k−1)·y(k−2)·u(k−1)·(y(k−2) − 1) + u(k)) / "
                "(1 + y(k−1)² + y(k−2)²)")
    levels = (0.5, -0.5)
    coefficients = {"b": 1.0}

    def _rest(self, zero: Any) -> None:
        self.y = self.y1 = self.y2 = self.u_prev = zero

    def _output(self) -> Any:
        return self.y

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        y, y1, y2 = self.y, self.y1, self.y2
        self.y = (y * y1 * y2 * self.u_prev * (y2 - 1.0) + c.b * u) / (1.0 + y1 * y1 + y2 * y2)
        self.y1, self.y2, self.u_prev = y, y1, u


class CoupledPlant(BenchmarkPlant):
    """The coupled 2×2 nonlinear benchmark:
    y1(k+1) = 0.9·y1(k) − 0.3·y1(k−1)/(1 + y2(k−1)²) + 0.7·u1(k) + 0.1·y1(k−1)²·y2(k)²
              + 0.3·sin(u1(k−1)) − 0.7·u2(k) + 0.6·u2(k−1)
    y2(k+1) = −0.1·y2(k−1) + 0.3·y1(k−1)·y2(k) + 0.8·sin(u1(k)) + 0.1·u1(k−1)
              + 0.9·u2(k) + 0.2·u2(k−1) + 0.1·u2(k−1)²

    In scalar mode it takes and returns a list of two floats; with n copies, arrays (n, 2).
    The spread varies the direct gains 0.7 (of u1 on y1) and 0.9 (of u2 on y2).
    """

    name = "coupled"
    dim = 2
    equation = "see CoupledPlant's docstring"
    levels = (1.0, 0.5)
    coefficients = {"g1": 0.7, "g2": 0.9}

    def _rest(self, zero: Any) -> None:
        self.y = self.y_prev = self.u_prev = (zero, zero)

    def _output(self) -> Any:
        y1, y2 = self.y
        return [y1, y2] if self._n is None else np.stack(self.y, axis=-1)

    def _advance(self, u: Any, ops: SimpleNamespace, c: SimpleNamespace) -> None:
        (y1, y2), (p1, p2) = self.y, self.y_prev
        (v1, v2) = self.u_prev
        u1, u2 = (u[0], u[1]) if self._n is None else (u[:, 0], u[:, 1])
        n1 = (0.9 * y1 - 0.3 * p1 / (1.0 + p2 * p2) + c.g1 * u1 + 0.1 * p1 * p1 * y2 * y2
              + 0.3 * ops.sin(v1) - 0.7 * u2 + 0.6 * v2)
        n2 = (-0.1 * p2 + 0.3 * p1 * y2 + 0.8 * ops.sin(u1) + 0.1 * v1
              + c.g2 * u2 + 0.2 * v2 + 0.1 * v2 * v2)
        self.y_prev, self.y, self.u_prev = self.y, (n1, n2), (u1, u2)

    def _measure(self, y: Any) -> Any:
        if self._n is None and self.noise != 0.0:
            return [v + self.noise * self.rng.standard_normal() for v in y]
        return super()._measure(y)


class Perturbed:
    """Any plant with measurement noise and a load disturbance at its input, as the built-in
    plants' options add them; follows the plant protocol."""

    def __init__(self, plant: Plant, *, noise: float = 0.0, disturbance: tuple[float, int] | None = None,
                 rng: np.random.Generator | None = None) -> None:
        self.plant = plant
        self.name = getattr(plant, "name", type(plant).__name__)
        self.noise = check_noise(noise)
        self.disturbance = parse_disturbance(disturbance)
        self.rng = rng if rng is not None else np.random.default_rng()
        self._k = 0

    def reset(self, n: int) -> np.ndarray:
        self._k = 0
        return cast(np.ndarray, self._measure(self.plant.reset(n)))

    def step(self, u: np.ndarray) -> np.ndarray:
        if self.disturbance is not None and self._k >= self.disturbance[1]:
            u = u + self.disturbance[0]
        self._k += 1
        return cast(np.ndarray, self._measure(self.plant.step(u)))

    def _measure(self, y: Any) -> Any:
        if self.noise == 0.0:
            return y
        y = real_array(y, f"the {self.name} plant's output")
        return y + self.noise * self.rng.standard_normal(y.shape)


PLANTS: dict[str, type[BenchmarkPlant]] = {
    cls.name: cls for cls in (NonlinearPlant, TimeVaryingPlant, DeadTimePlant, TankPlant,
                              RationalPlant, CoupledPlant)
}


def plant_class(name: str) -> type[BenchmarkPlant]:
    try:
        return PLANTS[name]
    except KeyError:
        raise ValueError(f"unknown plant {name!r}; the built-in plants are {', '.join(PLANTS)}") from None


def make(name: str, steps: int | None = None, **options: Any) -> BenchmarkPlant:
    """A built-in plant by name, with `options`; the time-varying plant switches halfway
    through a run of `steps` samples (at sample 300 when `steps` is None)."""
    cls = plant_class(name)
    if cls is TimeVaryingPlant and steps is not None:
        return TimeVaryingPlant(switch_at=steps // 2, **options)
    return cls(**options)

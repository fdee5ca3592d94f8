"""adapters.py: a user's own system as a plant that follows the plant protocol.

    from_control(system, dt=None, delay=0, ...)   a python-control StateSpace, TransferFunction
                                                  or NonlinearIOSystem (continuous ones sampled
                                                  every `dt` with the input held in between)
    from_scipy(system, delay=0, ...)              a SciPy discrete-time system (dlti)
    from_scalar(factory, delay=0, ...)            a plant class written for floats: `factory()`
                                                  makes one copy with reset() -> y0 and
                                                  step(u) -> y; the plant runs n of them

Each runs n independent copies (`reset(n)`), SISO (arrays (n,)) or MIMO with as many inputs as
outputs (arrays (n, dim)). `delay` is a dead time at the input, in samples: the system sees
u(k − delay), zero before the first input. Each takes the built-in plants' options, drawn from
`rng`: `noise` (on the measured outputs), `disturbance` ((size, sample): a load step added to
the input from `sample` on) and `spread` (each copy's input gain is 1 + spread·r, r uniform in
[-1, 1), drawn per copy at every reset: a user's system has no named coefficients to vary).

Timing: `reset(n)` returns y(0) and `step(u(k))` returns y(k + 1), as a sampled process is
read after each hold interval. A linear system whose output depends on its present input
(D ≠ 0) therefore needs a dead time of at least one sample; a nonlinear system's output
function is given the input the system holds at that instant.
"""

from __future__ import annotations

import math
from collections import deque
from typing import Any, Callable

import numpy as np

from vorn.plants.builtin import check_copies, check_noise, check_spread, parse_disturbance
from vorn.values import real_array

# How closely a continuous nonlinear system is integrated over each sample.
RTOL = 1e-9
ATOL = 1e-12


def _control() -> Any:
    try:
        import control  # type: ignore[import-untyped,import-not-found,unused-ignore]
    except ImportError:
        raise ImportError("vorn.plants.from_control needs python-control: pip install 'vorn[control]'") from None
    return control


def _check_delay(delay: Any) -> int:
    if isinstance(delay, (bool, float)) or int(delay) != delay or delay < 0:
        raise ValueError(f"delay must be a whole number of samples of at least 0, not {delay!r}")
    return int(delay)


def _check_dt(dt: Any) -> float:
    value = float(dt)
    if not (math.isfinite(value) and value > 0.0):
        raise ValueError(f"dt must be a positive sampling time, not {dt!r}")
    return value


def _square(inputs: int, outputs: int, what: str) -> int:
    if inputs != outputs or inputs < 1:
        raise ValueError(f"{what} has {inputs} inputs and {outputs} outputs; a plant needs as many "
                         "inputs as outputs (one loop per output)")
    return inputs


class AdaptedPlant:
    """What every adapter shares: the copies, the input's dead time and the options. A
    subclass implements `_start(n)` (the copies at rest; outputs (n, dim)) and
    `_advance(v, held)` (one sample with the system's inputs v, (n, dim); `held` is the input
    it holds after the sample, known when there is a dead time, else None; outputs (n, dim))."""

    def __init__(self, name: str, dim: int, *, delay: int = 0, noise: float = 0.0,
                 disturbance: tuple[float, int] | None = None, spread: float = 0.0,
                 rng: np.random.Generator | None = None) -> None:
        self.name = name
        self.dim = dim
        self.delay = _check_delay(delay)
        self.noise = check_noise(noise)
        self.disturbance = parse_disturbance(disturbance)
        self.spread = check_spread(spread)
        self.rng = rng if rng is not None else np.random.default_rng()
        self._n: int | None = None

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.name!r}, dim {self.dim}, delay {self.delay}>"

    @property
    def n(self) -> int | None:
        """Copies simulated: None before the first reset."""
        return self._n

    def _shape(self) -> tuple[int, ...]:
        assert self._n is not None
        return (self._n,) if self.dim == 1 else (self._n, self.dim)

    def reset(self, n: int) -> np.ndarray:
        """Puts n copies at rest and returns their measured outputs."""
        n = check_copies(n)
        y = self._start(n)
        self._n = n
        self._k = 0
        self._gain = (np.ones((n, 1)) if self.spread == 0.0
                      else 1.0 + self.spread * self.rng.uniform(-1.0, 1.0, (n, 1)))
        self._pending: deque[np.ndarray] = deque(np.zeros((n, self.dim)) for _ in range(self.delay))
        return self._measure(y)

    def step(self, u: Any) -> np.ndarray:
        """One sample: the copies' inputs in, their measured outputs out."""
        if self._n is None:
            raise RuntimeError(f"the {self.name} plant steps after reset(n)")
        shape = self._shape()
        u = real_array(u, f"the {self.name} plant's input")
        if u.shape != shape:
            raise ValueError(f"the {self.name} plant expects inputs of shape {shape}, got {u.shape}")
        u = u.reshape(self._n, self.dim)
        if self.disturbance is not None and self._k >= self.disturbance[1]:
            u = u + self.disturbance[0]
        v = u * self._gain  # a new array: the caller may reuse u
        self._k += 1
        held = None
        if self.delay:
            self._pending.append(v)
            v = self._pending.popleft()
            held = self._pending[0]
        return self._measure(self._advance(v, held))

    def _measure(self, y: np.ndarray) -> np.ndarray:
        y = y.reshape(self._shape())
        if self.noise == 0.0:
            return y
        return y + self.noise * self.rng.standard_normal(y.shape)

    def _start(self, n: int) -> np.ndarray:
        raise NotImplementedError

    def _advance(self, v: np.ndarray, held: np.ndarray | None) -> np.ndarray:
        raise NotImplementedError


class StateSpacePlant(AdaptedPlant):
    """x(k+1) = A·x(k) + B·v(k), y(k) = C·x(k) + D·v(k), from rest (x = 0), per copy."""

    def __init__(self, name: str, a: Any, b: Any, c: Any, d: Any, **options: Any) -> None:
        self.a, self.b, self.c, self.d = (np.atleast_2d(real_array(m, f"the {name} system's {w}"))
                                          for m, w in zip((a, b, c, d), "ABCD"))
        states = self.a.shape[0]
        if (self.a.shape != (states, states) or self.b.shape[0] != states or self.c.shape[1] != states
                or self.d.shape != (self.c.shape[0], self.b.shape[1])):
            raise ValueError(f"the {name} system's matrices do not fit together: A {self.a.shape}, "
                             f"B {self.b.shape}, C {self.c.shape}, D {self.d.shape}")
        dim = _square(self.b.shape[1], self.c.shape[0], f"the {name} system")
        self.feedthrough = bool(np.any(self.d != 0.0))
        super().__init__(name, dim, **options)
        if self.feedthrough and self.delay == 0:
            raise ValueError(f"the {name} system's output depends on its present input (D ≠ 0): "
                             "give it a dead time of at least one sample (delay=1)")

    def _start(self, n: int) -> np.ndarray:
        self.x = np.zeros((n, self.a.shape[0]))
        return self.x @ self.c.T

    def _advance(self, v: np.ndarray, held: np.ndarray | None) -> np.ndarray:
        self.x = self.x @ self.a.T + v @ self.b.T
        y = self.x @ self.c.T
        if self.feedthrough:
            assert held is not None
            y = y + held @ self.d.T
        return y


class NonlinearSystemPlant(AdaptedPlant):
    """A python-control NonlinearIOSystem, copy by copy: discrete ones step their update
    function; continuous ones are integrated over each sample of length dt with the input held."""

    def __init__(self, system: Any, dt: float | None, x0: Any = None, params: Any = None,
                 **options: Any) -> None:
        name = str(system.name)
        dim = _square(system.ninputs, system.noutputs, f"the {name} system")
        self.system = system
        self.params = params
        self.continuous = system.isctime(strict=True)
        if self.continuous:
            if dt is None:
                raise ValueError(f"the {name} system is continuous: give dt, the sampling time")
            self.dt = _check_dt(dt)
        else:
            self.dt = 1.0 if system.dt is True else float(system.dt)
        states = system.nstates
        self.x0 = np.zeros(states) if x0 is None else real_array(x0, f"the {name} system's x0").reshape(states)
        super().__init__(name, dim, **options)

    def _outputs(self, t: float, states: np.ndarray, v: np.ndarray) -> np.ndarray:
        return np.array([self.system.output(t, x, u, params=self.params) for x, u in zip(states, v)],
                        dtype=float).reshape(len(states), self.dim)

    def _start(self, n: int) -> np.ndarray:
        states = np.tile(self.x0, (n, 1))
        y = self._outputs(0.0, states, np.zeros((n, self.dim)))
        self.x, self._t = states, 0.0
        return y

    def _advance(self, v: np.ndarray, held: np.ndarray | None) -> np.ndarray:
        t = self._t
        if self.continuous:
            from scipy.integrate import solve_ivp  # type: ignore[import-untyped,import-not-found,unused-ignore]

            states = self.x.shape[1]

            def rhs(time: float, z: np.ndarray) -> np.ndarray:
                return np.concatenate([np.asarray(self.system.dynamics(time, x, u, params=self.params),
                                                  dtype=float).reshape(states)
                                       for x, u in zip(z.reshape(-1, states), v)])

            end = t + self.dt
            solved = solve_ivp(rhs, (t, end), self.x.ravel(), rtol=RTOL, atol=ATOL)
            if not solved.success:
                raise ValueError(f"the {self.name} system could not be integrated at t = {t}: {solved.message}")
            self.x = solved.y[:, -1].reshape(self.x.shape)
        else:
            self.x = np.array([self.system.dynamics(t, x, u, params=self.params) for x, u in zip(self.x, v)],
                              dtype=float).reshape(self.x.shape)
        self._t = t + self.dt
        return self._outputs(self._t, self.x, v if held is None else held)


class ScalarCopies(AdaptedPlant):
    """n copies of a plant written for floats, each made by `factory()`, stepped one by one."""

    def __init__(self, factory: Callable[[], Any], name: str | None = None, **options: Any) -> None:
        if not callable(factory):
            raise TypeError(f"from_scalar needs a class or function that makes one plant, not {factory!r}")
        self.factory = factory
        label = str(name or getattr(getattr(factory, "func", factory), "__name__", type(factory).__name__))
        probe = self._make(label)
        try:
            y0 = real_array(probe.reset(), f"the {label} plant's reset()")
        except (TypeError, ValueError) as error:
            raise TypeError(f"the {label} plant's reset() must return a number, or one number per "
                            f"output: {error}") from None
        if y0.ndim > 1:
            raise TypeError(f"the {label} plant's reset() must return a number, or one number per "
                            f"output, not an array of shape {y0.shape}")
        super().__init__(label, 1 if y0.ndim == 0 else len(y0), **options)
        self._scalar = y0.ndim == 0

    def _make(self, label: str) -> Any:
        plant = self.factory()
        if not (callable(getattr(plant, "reset", None)) and callable(getattr(plant, "step", None))):
            raise TypeError(f"the {label} plant must have reset() -> y0 and step(u) -> y; "
                            f"{type(plant).__name__} does not")
        return plant

    def _collect(self, values: list[Any], what: str) -> np.ndarray:
        y = real_array(values, f"the {self.name} plant's {what}")
        expected = (len(values),) if self._scalar else (len(values), self.dim)
        if y.shape != expected:
            raise ValueError(f"the {self.name} plant's {what} gave outputs of shape {y.shape[1:]}, "
                             f"expected {expected[1:]}")
        return y.reshape(len(values), self.dim)

    def _start(self, n: int) -> np.ndarray:
        copies = [self._make(self.name) for _ in range(n)]
        y = self._collect([copy.reset() for copy in copies], "reset()")
        self._copies = copies  # only once every copy is at rest: a failed reset changes nothing
        return y

    def _advance(self, v: np.ndarray, held: np.ndarray | None) -> np.ndarray:
        inputs = v[:, 0].tolist() if self._scalar else v.tolist()
        return self._collect([copy.step(u) for copy, u in zip(self._copies, inputs)], "step(u)")


def from_control(system: Any, dt: float | None = None, delay: int = 0, *, x0: Any = None,
                 params: Any = None, name: str | None = None, noise: float = 0.0,
                 disturbance: tuple[float, int] | None = None, spread: float = 0.0,
                 rng: np.random.Generator | None = None) -> AdaptedPlant:
    """A python-control system as a plant: a StateSpace or TransferFunction (a continuous one
    sampled every `dt` with a zero-order hold), or a NonlinearIOSystem (from `x0`, with
    `params`); `delay` samples of dead time at the input. See the module's docstring."""
    control = _control()
    options = dict(delay=delay, noise=noise, disturbance=disturbance, spread=spread, rng=rng)
    if isinstance(system, control.LTI):
        label = name or str(system.name)
        if system.isctime(strict=True):
            if dt is None:
                raise ValueError(f"the {label} system is continuous: give dt, the sampling time")
            system = control.sample_system(system, _check_dt(dt), method="zoh")
        elif dt is not None and system.dt is not True and not math.isclose(_check_dt(dt), system.dt):
            raise ValueError(f"the {label} system is sampled every {system.dt}, not every {dt}")
        if x0 is not None:
            raise ValueError("a linear system starts at rest; x0 is for nonlinear systems")
        ss = control.ss(system)
        return StateSpacePlant(label, ss.A, ss.B, ss.C, ss.D, **options)
    if isinstance(system, control.NonlinearIOSystem):
        plant = NonlinearSystemPlant(system, dt, x0, params, **options)
        if name:
            plant.name = name
        return plant
    raise TypeError(f"from_control takes a python-control StateSpace, TransferFunction or "
                    f"NonlinearIOSystem, not {type(system).__name__}")


def from_scipy(system: Any, delay: int = 0, *, name: str | None = None, noise: float = 0.0,
               disturbance: tuple[float, int] | None = None, spread: float = 0.0,
               rng: np.random.Generator | None = None) -> AdaptedPlant:
    """A SciPy discrete-time system (`scipy.signal.dlti`: StateSpace, TransferFunction or
    ZerosPolesGain with a `dt`) as a plant; see the module's docstring."""
    from scipy import signal  # type: ignore[import-untyped,import-not-found,unused-ignore]

    if isinstance(system, signal.lti):
        raise ValueError("the system is continuous: sample it first, e.g. system.to_discrete(dt)")
    if not isinstance(system, signal.dlti):
        raise TypeError(f"from_scipy takes a scipy.signal discrete-time system (dlti), not {type(system).__name__}")
    ss = system.to_ss()
    return StateSpacePlant(name or type(system).__name__, ss.A, ss.B, ss.C, ss.D, delay=delay,
                           noise=noise, disturbance=disturbance, spread=spread, rng=rng)


def from_scalar(factory: Callable[[], Any], delay: int = 0, *, name: str | None = None,
                noise: float = 0.0, disturbance: tuple[float, int] | None = None, spread: float = 0.0,
                rng: np.random.Generator | None = None) -> AdaptedPlant:
    """A plant written for floats as a plant of n copies: `factory()` (a class, or a function
    such as `functools.partial(Rig, gain=2)`) makes one copy, whose `reset()` returns its
    output at rest (a float; a MIMO plant: one float per output) and `step(u)` takes a float
    (a list of floats) and returns the next output. One copy is made and reset at once, to
    learn the plant's dimension. See the module's docstring."""
    return ScalarCopies(factory, name, delay=delay, noise=noise, disturbance=disturbance,
                        spread=spread, rng=rng)

"""Complex numbers are refused wherever the package takes numbers from a caller, a plant or a
controller, with the message naming what was complex; NumPy would keep only the real part."""

import warnings

import numpy as np
import pytest

import vorn
from vorn import plants
from vorn.loop import metrics

STEPS = 40
Z = np.full(STEPS, 1.0 + 0.5j)


class Lag:
    def __init__(self, complex_at=None):
        self.complex_at = complex_at

    def reset(self, n):
        self.k, self.y = 0, np.zeros(n)
        return self._out()

    def step(self, u):
        self.k += 1
        self.y = 0.7 * self.y + 0.3 * u
        return self._out()

    def _out(self):
        return self.y + 0.5j if self.k == self.complex_at else self.y.copy()


class ComplexFleet:
    """A batch controller whose inputs turn complex."""

    def __len__(self):
        return 2

    def update(self, y, yd):
        return np.asarray(yd - y) * (1 + 1j)


class ComplexSingle:
    def update(self, y, yd):
        return np.complex128(yd - y)


def stepped(plant, u):
    plant.reset(len(u))
    return plant.step(u)


def logged():
    u = np.random.default_rng(0).standard_normal(200)
    y = np.concatenate(([0.0], 0.5 * u[:-1]))
    return u, y


CASES = {
    "simulate set point": (lambda: vorn.simulate(vorn.PID(1.0), Lag(), Z), "the set point"),
    "simulate plant reset": (lambda: vorn.simulate(vorn.PID(1.0, n=2), Lag(complex_at=0), np.ones(STEPS)),
                             "the plant's output at sample 0"),
    "simulate plant step": (lambda: vorn.simulate(vorn.PID(1.0, n=2), Lag(complex_at=3), np.ones(STEPS)),
                            "the plant's output at sample 2"),
    "simulate batch controller": (lambda: vorn.simulate(ComplexFleet(), Lag(), np.ones(STEPS)),
                                  "ComplexFleet's output at sample 0"),
    "simulate single controller": (lambda: vorn.simulate(ComplexSingle(), Lag(), np.ones(STEPS)),
                                   "ComplexSingle's output at sample 0"),
    "tune set point": (lambda: vorn.tune("cfdl", Lag(), Z, max_generations=1, pid=False), "the set point"),
    "tune start": (lambda: vorn.tune("cfdl", Lag(), np.ones(STEPS), start=[0.5 + 1j],
                                     max_generations=1, pid=False), "start"),
    "tune plant output": (lambda: vorn.tune("cfdl", Lag(complex_at=2), np.ones(STEPS), max_generations=1,
                                            pid=False), "the plant's step output"),
    "identify u": (lambda: vorn.initial_phi_from_data(logged()[0] + 0j, logged()[1]), "u"),
    "identify y": (lambda: vorn.initial_phi_from_data(logged()[0], list(logged()[1] + 1j)), "y"),
    "pid gain": (lambda: vorn.PID(1.0 + 2j), "kp"),
    "pid limit": (lambda: vorn.PID(1.0, u_max=[1.0, 1j], n=2), "u_max"),
    "pid scalar y": (lambda: vorn.PID(1.0).update(np.complex128(1 + 1j), 0.0), "y"),
    "pid batch yd": (lambda: vorn.PID(1.0, n=2).update(np.zeros(2), np.array([1j, 0])), "yd"),
    "built-in plant input": (lambda: stepped(plants.make("dead-time"), np.zeros(2) + 1j), "plant's input"),
    "perturbed plant output": (lambda: plants.Perturbed(Lag(complex_at=0), noise=0.1).reset(2),
                               "plant's output"),
    "metrics": (lambda: metrics.compute(np.ones((5, 1)), np.ones((5, 1)) * 1j, np.ones((5, 1)),
                                        np.array([5]), np.array([False])), "y"),
}


@pytest.mark.parametrize("case", CASES)
def test_complex_values_are_refused_naming_what_was_complex(case):
    call, what = CASES[case]
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a ComplexWarning would mean the value got through
        with pytest.raises(ValueError, match="must be real numbers, not complex") as caught:
            call()
    assert what in str(caught.value)


def test_real_values_of_every_numeric_kind_still_pass():
    run = vorn.simulate(vorn.PID(1.0, 0.2, n=2), Lag(), np.ones(STEPS, dtype=np.float32))
    assert run.u.dtype == np.float64 and np.isfinite(run.u).all()
    assert vorn.PID(np.int64(1), u_max=[1, 2], n=2).update([0, 0], 1).tolist() == [1.0, 1.0]
    assert vorn.initial_phi_from_data(*logged(), form="cfdl")[0] == pytest.approx(0.5, rel=1e-3)

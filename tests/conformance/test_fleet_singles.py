"""Every fleet face against its single class, bit for bit: random parameters per member
(NaN and infinities among them), setters and resets between updates, NaN and infinite
samples, scalar and per-member set points. Each member must return, record and hold what
the single controller built with its parameters does."""

import math
import random

import numpy as np
import pytest

from tests.conformance.faces import FLEETS, MIMO_FLEETS, Face
from tests.running import LONG, SANITIZED
from vorn import _vorn_fleet

SEEDS = 12 if LONG else 1 if SANITIZED else 2
SPECIAL = [math.nan, math.inf, -math.inf, 0.0, -0.0]


def bits(values):
    """Bit patterns, signed zeros included; every NaN counts as one (which of two NaN
    operands an operation passes on is the compiler's choice)."""
    a = np.asarray(values, dtype=np.float64).ravel().copy()
    a[np.isnan(a)] = np.nan
    return a.view(np.uint64).tolist()


def _value(rng, lo, hi):
    return rng.choice(SPECIAL) if rng.random() < 0.06 else rng.uniform(lo, hi)


def build(face: Face, rng, n):
    orders = rng.choice((*face.orders, {}))
    columns = {"eta": (0.05, 2.0), "mu": (0.01, 3.0), "rho": (0.05, 1.0), "lambda_": (0.001, 1.0),
               "eps": (1e-9, 1e-3), "initial_phi": (-2.0, 2.0), "u0": (-1.0, 1.0)}
    params = {k: [math.nan if rng.random() < 0.05 else rng.uniform(lo, hi) for _ in range(n)]
              for k, (lo, hi) in columns.items()}
    params["initial_phi"] = [_value(rng, -2, 2) for _ in range(n)]
    lo = [rng.uniform(-3, 0) if rng.random() < 0.5 else math.nan for _ in range(n)]
    hi = [rng.uniform(0, 3) if rng.random() < 0.8 else None for _ in range(n)]
    fleet = face.cls(n, **{k: np.array(v) for k, v in params.items()}, **orders, u_min=np.array(lo))
    singles = [face.single(**{k: v[i] for k, v in params.items()}, **orders, u_min=lo[i]) for i in range(n)]
    fleet.set_u_max(np.array([math.inf if h is None else h for h in hi]))
    for s, h in zip(singles, hi):
        s.set_u_max(math.inf if h is None else h)
    return fleet, singles


def record(single, y, yd):
    if not hasattr(single, "update_logged"):
        u, dy, du, e, phi = single.update(y, yd)
        return u, dy, [du], e, [phi]
    return single.update_logged(y, yd)


def set_both(fleet, singles, name, values, each=float):
    """Setter `name` on the fleet with `values`, and on single i with each(values[i])."""
    getattr(fleet, name)(values)
    for s, v in zip(singles, values):
        getattr(s, name)(each(v))


def setter(rng, fleet, singles):
    """One random setter (or a reset) on the fleet and on every single."""
    n, m = len(singles), fleet.get_phi().shape[1]
    names = [s for s in dir(fleet) if s.startswith("set_")] + ["reset"]
    name = rng.choice(names)
    if name == "reset":
        for o in (fleet, *singles):
            o.reset()
        return
    if name in ("set_u_min", "set_u_max") and rng.random() < 0.3:
        for o in (fleet, *singles):
            getattr(o, name)(None)
        return
    # The compact form's reset value is a number; every other estimate setter takes a vector.
    vector_form = hasattr(singles[0], "update_logged")
    if name in ("set_phi_hat", "set_rho_vector") or name == "set_initial_phi" and vector_form:
        set_both(fleet, singles, name, np.array([[_value(rng, 0.1, 1.5) for _ in range(m)] for _ in range(n)]), list)
    else:
        set_both(fleet, singles, name, np.array([_value(rng, -0.5, 2.0) for _ in range(n)]))


@pytest.mark.parametrize("face", FLEETS, ids=str)
@pytest.mark.parametrize("seed", range(SEEDS))
def test_members_compute_what_their_single_controllers_compute(face, seed):
    rng = random.Random(f"{face}-{seed}")
    n = 37  # a ragged last block
    fleet, singles = build(face, rng, n)
    for step in range(60):
        y = np.array([_value(rng, -2, 2) if rng.random() < 0.05 else rng.uniform(-2, 2) for _ in range(n)])
        yd = rng.uniform(-1, 1) if step % 2 else np.array([rng.uniform(-1, 1) for _ in range(n)])
        yds = [yd] * n if np.isscalar(yd) else list(yd)
        records = [record(s, float(y[i]), float(yds[i])) for i, s in enumerate(singles)]
        if step % 3 == 0:
            got = fleet.update_logged(y, yd)
            for k in range(5):
                assert bits(got[k]) == bits([x for r in records for x in np.ravel(r[k])]), (step, k)
        else:
            assert bits(fleet.update(y, yd)) == bits([r[0] for r in records]), step
        if rng.random() < 0.4:
            setter(rng, fleet, singles)
    for i in (0, n // 2, n - 1):
        assert repr(fleet[i]) == repr(singles[i])
        assert bits(fleet[i].get_phi()) == bits(singles[i].get_phi())
        member, single = (_vorn_fleet._full_state(c) for c in (fleet[i], singles[i]))
        assert member.keys() == single.keys()
        for key in member:
            if isinstance(member[key], (float, list)):
                assert bits(member[key]) == bits(single[key]), key
            else:
                assert member[key] == single[key], key


def build_mimo(face: Face, rng, n, dim):
    orders = rng.choice((*face.orders, {}))
    columns = {"eta": (0.05, 2.0), "mu": (0.01, 3.0), "rho": (0.05, 1.0), "lambda_": (0.001, 1.0),
               "eps": (1e-9, 1e-3), "u0": (-1.0, 1.0), "m_upper": (2.0, 50.0), "m_lower": (1e-6, 0.1)}
    params = {k: [math.nan if rng.random() < 0.05 else rng.uniform(lo, hi) for _ in range(n)]
              for k, (lo, hi) in columns.items()}
    params["initial_phi"] = [_value(rng, -2, 2) for _ in range(n)]
    fleet = face.cls(n, dim, **{k: np.array(v) for k, v in params.items()}, **orders)
    singles = [face.single(dim, **{k: v[i] for k, v in params.items()}, **orders) for i in range(n)]
    return fleet, singles


def mimo_setter(rng, fleet, singles):
    """One random setter (or a reset) on the MIMO fleet and on every single."""
    names = [s for s in dir(fleet) if s.startswith("set_")] + ["reset"]
    name = rng.choice(names)
    if name == "reset":
        for o in (fleet, *singles):
            o.reset()
    elif name == "set_phi_hat":
        phi = fleet.get_phi()
        values = np.array([[_value(rng, -1.5, 1.5) for _ in range(phi[0].size)] for _ in singles]).reshape(phi.shape)
        set_both(fleet, singles, name, values, np.ndarray.tolist)
    else:
        # m_lower below m_upper's range, so that a setter seldom crosses the bounds.
        set_both(fleet, singles, name, np.array([_value(rng, 1e-3 if name == "set_m_lower" else -0.5, 2.0)
                                                 for _ in singles]))


@pytest.mark.parametrize("face", MIMO_FLEETS, ids=str)
@pytest.mark.parametrize("seed", range(SEEDS))
def test_mimo_members_compute_what_their_single_controllers_compute(face, seed):
    rng = random.Random(f"{face}-{seed}")
    n, dim = 19, rng.choice((1, 2, 3, 5))
    fleet, singles = build_mimo(face, rng, n, dim)
    for step in range(60):
        y = np.array([[_value(rng, -2, 2) if rng.random() < 0.05 else rng.uniform(-2, 2) for _ in range(dim)]
                      for _ in range(n)])
        shared = step % 2 == 1
        yd = np.array([rng.uniform(-1, 1) for _ in range(dim)]) if shared else \
            np.array([[rng.uniform(-1, 1) for _ in range(dim)] for _ in range(n)])
        want = [s.update(y[i].tolist(), (yd if shared else yd[i]).tolist()) for i, s in enumerate(singles)]
        assert bits(fleet.update(y, yd)) == bits(want), step
        if rng.random() < 0.4:
            mimo_setter(rng, fleet, singles)
    for i in (0, n // 2, n - 1):
        assert repr(fleet[i]) == repr(singles[i])
        assert bits(fleet[i].get_phi()) == bits(singles[i].get_phi())
        y = [0.25] * dim
        assert bits(fleet[i].update(y, y)) == bits(singles[i].update(y, y))

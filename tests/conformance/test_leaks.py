"""Leaks over every face: loops of one call (every method, each of its refusals and
conversion failures) must leave the interpreter's objects, the C heap and the resident
memory where they were (tests/conformance/leak_loop.py measures)."""

import copy
import pickle

import numpy as np
import pytest

from tests.conformance.faces import FACES, Face
from tests.conformance.leak_loop import Boom, RaisingFloat, assert_no_growth, refused, write_report

pytestmark = pytest.mark.serial


class _Reentrant:
    """A float whose conversion reads the object it is being given to."""

    def __init__(self, obj):
        self.obj = obj

    def __float__(self):
        self.obj.get_phi()
        return 1.0


def siso_cases(face: Face):
    cls = face.cls
    n = len(cls().get_phi())
    c = cls()
    state = c.__getstate__()
    missing = dict(state)
    del missing["phi_hat"]
    bad_value = dict(state, eta="x")
    vec = [0.5] * n
    cases = {
        "construct": lambda: cls(),
        "update": lambda: c.update(0.1, 1.0),
        "reset": c.reset,
        "get_phi": c.get_phi,
        "set_phi_hat": lambda: c.set_phi_hat(vec),
        "set_eta": lambda: c.set_eta(1.0),
        "set_u_min": lambda: c.set_u_min(-1.0),
        "set_u_max none": lambda: c.set_u_max(None),
        "repr": lambda: repr(c),
        "getnewargs": c.__getnewargs__,
        "getstate": c.__getstate__,
        "setstate": lambda: c.__setstate__(state),
        "pickle": lambda: pickle.loads(pickle.dumps(c)),
        "deepcopy": lambda: copy.deepcopy(c),
        "refuse eta": refused(ValueError, cls, eta=3.0),
        "refuse form": refused(ValueError, cls, l_u=0),
        "refuse l_y negative": refused(OverflowError, cls, l_y=-1),
        "refuse l_u float": refused(TypeError, cls, l_u=1.0),
        "refuse y str": refused(TypeError, c.update, "y", 1.0),
        "refuse y huge int": refused(OverflowError, c.update, 10 ** 400, 1.0),
        "refuse y raising": refused(Boom, c.update, RaisingFloat(), 1.0),
        "refuse phi str": refused(TypeError, c.set_phi_hat, "ab"),
        "refuse phi item": refused(TypeError, c.set_phi_hat, [0.5, "x"] + vec),
        "refuse phi non-sequence": refused(TypeError, c.set_phi_hat, {1.0}),
        "refuse setstate missing": refused(KeyError, c.__setstate__, missing),
        "refuse setstate value": refused(TypeError, c.__setstate__, bad_value),
        "refuse setstate not dict": refused(TypeError, c.__setstate__, [1]),
        "refuse too many args": refused(TypeError, c.update, 1.0, 2.0, 3.0),
        "refuse unknown keyword": refused(TypeError, c.set_eta, eta_=1.0),
        "refuse missing args": refused(TypeError, c.update),
        "refuse re-entry": refused(RuntimeError, c.update, _Reentrant(c), 1.0),
    }
    if face.form == "cfdl":
        cases["refuse phi length"] = refused(ValueError, c.set_phi_hat, [0.5, 0.5])
        cases["set_initial_phi"] = lambda: c.set_initial_phi(0.5)
    else:
        cases["update_logged"] = lambda: c.update_logged(0.1, 1.0)
        cases["set_initial_phi"] = lambda: c.set_initial_phi(vec)
        cases["refuse initial_phi number"] = refused(TypeError, c.set_initial_phi, 0.5)
        cases["refuse memory"] = refused(MemoryError, cls, l_u=2 ** 40)
        cases["refuse setstate orders"] = refused(ValueError, c.__setstate__, dict(state, l_u=0))
    if face.form == "ffdl":
        cases["set_rho_vector"] = lambda: c.set_rho_vector(vec)
    return cases


def mimo_cases(face: Face):
    cls = face.cls
    c = cls(2)
    layers = len(c.get_phi())
    eye = [[1.0, 0.0], [0.0, 1.0]]
    return {
        "construct": lambda: cls(2),
        "update": lambda: c.update([0.1, 0.2], [1.0, 2.0]),
        "reset": c.reset,
        "get_phi": c.get_phi,
        "dim": lambda: c.dim,
        "repr": lambda: repr(c),
        "set_phi_hat": lambda: c.set_phi_hat([eye] * layers),
        "set_m_upper": lambda: c.set_m_upper(1e6),
        "set_initial_phi": lambda: c.set_initial_phi(0.5),
        "refuse eta": refused(ValueError, cls, 2, eta=3.0),
        "refuse orders": refused(ValueError, cls, 2, l_u=0),
        "refuse dim": refused(OverflowError, cls, -1),
        "refuse memory": refused((MemoryError, OverflowError), cls, 2 ** 40),
        "refuse y length": refused(ValueError, c.update, [0.1], [1.0, 2.0]),
        "refuse y str": refused(TypeError, c.update, "ab", [1.0, 2.0]),
        "refuse yd item": refused(TypeError, c.update, [0.1, 0.2], [1.0, None]),
        "refuse layers": refused(ValueError, c.set_phi_hat, [eye] * (layers + 1)),
        "refuse rows": refused(ValueError, c.set_phi_hat, [[[1.0, 0.0]]] * layers),
        "refuse columns": refused(ValueError, c.set_phi_hat, [[[1.0, 0.0], [0.0]]] * layers),
        "refuse row str": refused(TypeError, c.set_phi_hat, [["ab", [0.0, 1.0]]] * layers),
        "refuse setter": refused(TypeError, c.set_mu, "x"),
        "refuse missing args": refused(TypeError, c.update, [0.0, 0.0]),
        "refuse pickle": refused(TypeError, pickle.dumps, c),
        "refuse re-entry": refused(RuntimeError, c.set_eta, _Reentrant(c)),
    }


def shared_fleet_cases(cls, lead):
    """What every fleet face is given alike, on a fleet cls(*lead) of its own."""
    n = lead[0]
    f = cls(*lead)
    state = f.__getstate__()
    phi = f.get_phi()
    members = [f[i] for i in range(n)]
    return f, {
        "construct": lambda: cls(*lead, eta=np.full(n, 0.5)),
        "reset": f.reset,
        "get_phi": f.get_phi,
        "set_phi_hat": lambda: f.set_phi_hat(phi),
        "set_eta": lambda: f.set_eta(np.full(n, 1.0)),
        "repr": lambda: repr(f),
        "item": lambda: f[1],
        "from_controllers": lambda: cls.from_controllers(members),
        "pickle": lambda: pickle.loads(pickle.dumps(f)),
        "deepcopy": lambda: copy.deepcopy(f),
        "setstate": lambda: f.__setstate__(state),
        "refuse eta": refused(ValueError, cls, *lead, eta=3.0),
        "refuse form": refused(ValueError, cls, *lead, l_u=0),
        "refuse item": refused(IndexError, f.__getitem__, n),
        "refuse setstate member": refused(ValueError, f.__setstate__, dict(state, eta=np.full(n, 5.0))),
        "refuse memory": refused((MemoryError, OverflowError), cls, 2 ** 40, *lead[1:]),
    }


def fleet_cases(face: Face):
    cls = face.cls
    n = 4
    f, shared = shared_fleet_cases(cls, (n,))
    y, out = np.linspace(0.0, 0.3, n), np.zeros(n)
    return {
        **shared,
        "update": lambda: f.update(y, 1.0),
        "update out": lambda: f.update(y, np.ones(n), out=out),
        "update_logged": lambda: f.update_logged(y, 1.0),
        "set_u_min none": lambda: f.set_u_min(None),
        "refuse y shape": refused(ValueError, f.update, np.zeros((n, 1, 1)), 1.0),
        "refuse y str": refused(TypeError, f.update, "ab", 1.0),
        "refuse yd raising": refused(Boom, f.update, y, RaisingFloat()),
        "refuse out dtype": refused(TypeError, f.update, y, 1.0, out=np.zeros(n, np.float32)),
        "refuse setstate missing": refused(KeyError, f.__setstate__, {"l_y": 0, "l_u": 1}),
        "refuse empty orders": refused((OverflowError, MemoryError, ValueError), cls, 0, l_y=2**59, l_u=2**59),
        "refuse re-entry": refused(RuntimeError, f.update, y, _Reentrant(f)),
    }


def mimo_fleet_cases(face: Face):
    cls = face.cls
    n, dim = 4, 2
    f, shared = shared_fleet_cases(cls, (n, dim))
    y, out = np.linspace(0.0, 0.3, n * dim).reshape(n, dim), np.zeros((n, dim))
    phi = f.get_phi()
    return {
        **shared,
        "update": lambda: f.update(y, [1.0, 0.5]),
        "update out": lambda: f.update(y, np.ones((n, dim)), out=out),
        "set_phi_hat shared": lambda: f.set_phi_hat(phi[0]),
        "set_initial_phi": lambda: f.set_initial_phi(0.5),
        "refuse y shape": refused(ValueError, f.update, np.zeros((n, dim + 1)), [1.0, 0.5]),
        "refuse y str": refused(TypeError, f.update, "ab", [1.0, 0.5]),
        "refuse eta raising": refused(Boom, f.set_eta, RaisingFloat()),
        "refuse yd object": refused(TypeError, f.update, y, [object(), 1.0]),
        "refuse out dtype": refused(TypeError, f.update, y, [1.0, 0.5], out=np.zeros((n, dim), np.float32)),
        "refuse layers": refused(ValueError, f.set_phi_hat, np.zeros((n, phi.shape[1] + 1, dim, dim))),
        "refuse setstate missing": refused(KeyError, f.__setstate__, {"dim": dim, "l_y": 0, "l_u": 1}),
        "refuse re-entry": refused(RuntimeError, f.set_eta, _Reentrant(f)),
    }


BUILDERS = {"siso": siso_cases, "mimo": mimo_cases, "fleet": fleet_cases, "mimo fleet": mimo_fleet_cases}
CASES = [(f"{face} {name}", call) for face in FACES for name, call in BUILDERS[face.family](face).items()]


@pytest.fixture(scope="module", autouse=True)
def report():
    yield
    write_report()


@pytest.mark.parametrize("name, call", CASES, ids=[c[0] for c in CASES])
def test_no_growth(name, call):
    assert_no_growth(name, call)

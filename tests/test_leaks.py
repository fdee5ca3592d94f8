"""Loops of one call, repeated many times, over every method and function and over each of
their refusals and conversion failures: the interpreter's object count, the C heap in use
and the process's resident memory must not grow beyond a small fixed margin.

10^4 calls per loop by default, 10^5 with VORN_LONG=1. VORN_LEAK_REPORT=<file> writes the
figures (before and after each loop) to that file. Under the sanitizers (VORN_SANITIZED=1)
the loops are short and the leak checker at exit does the judging."""

import copy
import ctypes
import gc
import os
import pathlib
import pickle
import sys
import tempfile

import pytest

from tests.running import LONG, SANITIZED
from vorn import _vorn_core as m

N = 300 if SANITIZED else 100_000 if LONG else 10_000
# Interpreter blocks: a leak grows with the calls (one block per call is N blocks); the
# interpreter's own caches drift by a few hundred at most.
OBJECT_MARGIN = max(50, N // 20)
HEAP_MARGIN = 64 * 1024     # bytes of C heap in use
RSS_MARGIN = (2 if LONG else 1) * 1024 * 1024

PAGE = os.sysconf("SC_PAGE_SIZE")
FIGURES = []


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


try:
    _libc = ctypes.CDLL(None)
    _libc.mallinfo2.restype = _Mallinfo2
except (OSError, AttributeError):
    _libc = None


def heap_in_use():
    """Bytes the C allocator has handed out and not had back, or None where unknown."""
    if _libc is None or SANITIZED:
        return None
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


# --- the calls --------------------------------------------------------------------------

class Boom(Exception):
    pass


class RaisingFloat:
    def __float__(self):
        raise Boom


def refused(exc, fn, *args, **kwargs):
    """A call that must raise `exc`."""
    def run():
        try:
            fn(*args, **kwargs)
        except exc:
            return
        raise AssertionError(f"{fn} did not raise {exc.__name__}")
    return run


def reentrant_update(c):
    """update() whose argument calls back into the same controller: RuntimeError inside."""
    class Back:
        def __float__(self):
            c.get_phi()
            return 0.0
    back = Back()
    return refused(RuntimeError, c.update, back, 1.0)


SCRATCH = pathlib.Path(tempfile.mkdtemp(prefix="vorn-leaks-"))
(SCRATCH / "good.yaml").write_text("rho: 0.5\nL_u: 2\nu_min: -1\nu_max: 1\nextra: [1, {a: b}]\n")
(SCRATCH / "broken.yaml").write_text("eta: [1, 2\n")
(SCRATCH / "invalid.yaml").write_text("eta: 3.0\n")
(SCRATCH / "alias.yaml").write_text("a: &x 0.5\nrho: *x\nrho: 1\n")
(SCRATCH / "latin1.yaml").write_bytes(b"eta: 1.0 # \xe9\n")


def siso_cases(cls, n):
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
        "refuse re-entry": reentrant_update(c),
    }
    if cls is m.CFDLController:
        cases["refuse phi length"] = refused(ValueError, c.set_phi_hat, [0.5, 0.5])
        cases["set_initial_phi"] = lambda: c.set_initial_phi(0.5)
    else:
        cases["update_logged"] = lambda: c.update_logged(0.1, 1.0)
        cases["set_initial_phi"] = lambda: c.set_initial_phi(vec)
        cases["refuse initial_phi number"] = refused(TypeError, c.set_initial_phi, 0.5)
        cases["refuse memory"] = refused(MemoryError, cls, l_u=2 ** 40)
        cases["refuse setstate orders"] = refused(ValueError, c.__setstate__, dict(state, l_u=0))
    if cls is m.FFDLController:
        cases["set_rho_vector"] = lambda: c.set_rho_vector(vec)
    return [(f"{cls.__name__} {k}", v) for k, v in cases.items()]


def mimo_cases(cls, layers):
    c = cls(2)
    eye = [[1.0, 0.0], [0.0, 1.0]]
    cases = {
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
    }
    return [(f"{cls.__name__} {k}", v) for k, v in cases.items()]


def function_cases():
    pf, ff, ff1 = m.PFDLController(), m.FFDLController(), m.FFDLController(l_u=1)
    good, missing = str(SCRATCH / "good.yaml"), str(SCRATCH / "missing.yaml")
    cases = {
        "pid_to_pfdl": lambda: m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5),
        "zn_response_to_pfdl": lambda: m.zn_response_to_pfdl(1.0, 4.0, 2.0, 0.5, order=2),
        "critical_proportional_to_pfdl": lambda: m.critical_proportional_to_pfdl(2.0, 4.0, 0.5),
        "apply_pfdl_initial_guess": lambda: m.apply_pfdl_initial_guess(pf, [0.3, 0.2]),
        "ffdl_zn_tuning": lambda: m.ffdl_zn_tuning(ff1, 1.0, 4.0, 2.0, 0.5),
        "apply_ffdl_zn_tuning": lambda: m.apply_ffdl_zn_tuning(ff1, 1.0, 4.0, 2.0, 0.5),
        "ffdl_critical_tuning": lambda: m.ffdl_critical_tuning(ff1, 2.0, 4.0, 0.5),
        "apply_ffdl_critical_tuning": lambda: m.apply_ffdl_critical_tuning(ff1, 2.0, 4.0, 0.5),
        "load defaults": lambda: m.load_config_from_yaml(False),
        "load file": lambda: m.load_config_from_yaml(True, good),
        "refuse order": refused(ValueError, m.pid_to_pfdl, 1.0, 1.0, 0.25, 0.5, order=4),
        "refuse order negative": refused(OverflowError, m.pid_to_pfdl, 1.0, 1.0, 0.25, 0.5, order=-1),
        "refuse order float": refused(TypeError, m.pid_to_pfdl, 1.0, 1.0, 0.25, 0.5, order=2.0),
        "refuse tuning data": refused(ValueError, m.zn_response_to_pfdl, 0.0, 4.0, 2.0, 0.5),
        "refuse psi length": refused(ValueError, m.apply_pfdl_initial_guess, pf, [0.3, 0.2, 0.1]),
        "refuse psi str": refused(TypeError, m.apply_pfdl_initial_guess, pf, "ab"),
        "refuse wrong controller": refused(TypeError, m.ffdl_zn_tuning, pf, 1.0, 4.0, 2.0, 0.5),
        "refuse None controller": refused(TypeError, m.apply_pfdl_initial_guess, None, [0.3]),
        "refuse ffdl orders": refused(ValueError, m.ffdl_critical_tuning, ff, 2.0, 4.0, 0.5),
        "refuse ffdl data": refused(ValueError, m.apply_ffdl_zn_tuning, ff1, 0.0, 4.0, 2.0, 0.5),
        "refuse real raising": refused(Boom, m.ffdl_zn_tuning, ff1, RaisingFloat(), 4.0, 2.0, 0.5),
        "refuse missing file": refused(ValueError, m.load_config_from_yaml, True, missing),
        "refuse directory": refused(ValueError, m.load_config_from_yaml, True, str(SCRATCH)),
        "refuse syntax": refused(ValueError, m.load_config_from_yaml, True, str(SCRATCH / "broken.yaml")),
        "refuse validation": refused(ValueError, m.load_config_from_yaml, True, str(SCRATCH / "invalid.yaml")),
        "refuse duplicate": refused(ValueError, m.load_config_from_yaml, True, str(SCRATCH / "alias.yaml")),
        "refuse not utf-8": refused(ValueError, m.load_config_from_yaml, True, str(SCRATCH / "latin1.yaml")),
        "refuse read int": refused(TypeError, m.load_config_from_yaml, 1),
        "refuse path object": refused(TypeError, m.load_config_from_yaml, True, SCRATCH / "good.yaml"),
        "refuse missing args": refused(TypeError, m.pid_to_pfdl, 1.0),
    }
    return [(f"function {k}", v) for k, v in cases.items()]


def fleet_cases(cls):
    import numpy as np
    from vorn import _vorn_fleet as fl
    cls = getattr(fl, cls)
    n = 4
    f = cls(n)
    state = f.__getstate__()
    y, out = np.linspace(0.0, 0.3, n), np.zeros(n)
    phi = f.get_phi()
    members = [f[i] for i in range(n)]
    cases = {
        "construct": lambda: cls(n, eta=np.full(n, 0.5)),
        "update": lambda: f.update(y, 1.0),
        "update out": lambda: f.update(y, np.ones(n), out=out),
        "update_logged": lambda: f.update_logged(y, 1.0),
        "get_phi": f.get_phi,
        "set_phi_hat": lambda: f.set_phi_hat(phi),
        "set_eta": lambda: f.set_eta(np.full(n, 1.0)),
        "set_u_min none": lambda: f.set_u_min(None),
        "item": lambda: f[1],
        "from_controllers": lambda: cls.from_controllers(members),
        "pickle": lambda: pickle.loads(pickle.dumps(f)),
        "setstate": lambda: f.__setstate__(state),
        "refuse eta": refused(ValueError, cls, n, eta=3.0),
        "refuse y shape": refused(ValueError, f.update, np.zeros((n, 1, 1)), 1.0),
        "refuse yd raising": refused(Boom, f.update, y, RaisingFloat()),
        "refuse out dtype": refused(TypeError, f.update, y, 1.0, out=np.zeros(n, np.float32)),
        "refuse setstate member": refused(ValueError, f.__setstate__, dict(state, eta=np.full(n, 5.0))),
        "refuse setstate missing": refused(KeyError, f.__setstate__, {"l_y": 0, "l_u": 1}),
        "refuse empty orders": refused((OverflowError, MemoryError, ValueError), cls, 0, l_y=2**59, l_u=2**59),
        "refuse re-entry": refused(RuntimeError, f.update, y, _Reentrant(f)),
    }
    return [(f"{cls.__name__} {k}", v) for k, v in cases.items()]


class _Reentrant:
    def __init__(self, fleet):
        self.fleet = fleet

    def __float__(self):
        self.fleet.get_phi()
        return 1.0


CASES = (siso_cases(m.CFDLController, 1) + siso_cases(m.PFDLController, 2) + siso_cases(m.FFDLController, 3)
         + mimo_cases(m.MimoCfdlController, 1) + mimo_cases(m.MimoPfdlController, 2)
         + mimo_cases(m.MimoFfdlController, 3) + function_cases()
         + fleet_cases("CFDLFleet") + fleet_cases("PFDLFleet") + fleet_cases("FFDLFleet"))


@pytest.fixture(scope="module", autouse=True)
def report():
    yield
    path = os.environ.get("VORN_LEAK_REPORT")
    if path and FIGURES:
        with open(path, "w") as f:
            f.write(f"{'loop':52} {'calls':>7} {'rss before':>11} {'rss after':>11} {'heap +':>8} {'objects +':>9}\n")
            for name, n, r0, r1, dh, db in FIGURES:
                f.write(f"{name:52} {n:7d} {r0:11d} {r1:11d} {dh if dh is not None else '-':>8} {db:9d}\n")


@pytest.mark.parametrize("name, call", CASES, ids=[c[0] for c in CASES])
def test_no_growth(name, call):
    # Warm-up: free lists, caches and the first exception of each kind settle first.
    for _ in range(min(N, 2000)):
        call()
    gc.collect()
    blocks0, heap0, rss0 = sys.getallocatedblocks(), heap_in_use(), rss()
    for _ in range(N):
        call()
    gc.collect()
    blocks1, heap1, rss1 = sys.getallocatedblocks(), heap_in_use(), rss()
    heap_growth = None if heap0 is None else heap1 - heap0
    FIGURES.append((name, N, rss0, rss1, heap_growth, blocks1 - blocks0))
    if SANITIZED:
        return  # the quarantine of freed memory makes these figures meaningless
    assert blocks1 - blocks0 <= OBJECT_MARGIN, f"{blocks1 - blocks0} interpreter objects more after {N} calls"
    if heap_growth is not None:
        assert heap_growth <= HEAP_MARGIN, f"C heap grew by {heap_growth} bytes over {N} calls"
    assert rss1 - rss0 <= RSS_MARGIN, f"resident memory grew by {rss1 - rss0} bytes over {N} calls"

"""Loops of one call, repeated many times, over every module function and over each of its
refusals and conversion failures: the interpreter's object count, the C heap in use and the
process's resident memory must not grow beyond a small fixed margin. The classes' and the
fleets' loops are the conformance suite's (tests/conformance/test_leaks.py), and so is the
loop machinery (tests/conformance/leak_loop.py)."""

import pathlib
import tempfile

import pytest

from tests.conformance.leak_loop import Boom, RaisingFloat, assert_no_growth, refused, write_report
from vorn import _vorn_core as m

pytestmark = pytest.mark.serial

SCRATCH = pathlib.Path(tempfile.mkdtemp(prefix="vorn-leaks-"))
(SCRATCH / "good.yaml").write_text("rho: 0.5\nL_u: 2\nu_min: -1\nu_max: 1\nextra: [1, {a: b}]\n")
(SCRATCH / "broken.yaml").write_text("eta: [1, 2\n")
(SCRATCH / "invalid.yaml").write_text("eta: 3.0\n")
(SCRATCH / "alias.yaml").write_text("a: &x 0.5\nrho: *x\nrho: 1\n")
(SCRATCH / "latin1.yaml").write_bytes(b"eta: 1.0 # \xe9\n")


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


CASES = function_cases()


@pytest.fixture(scope="module", autouse=True)
def report():
    yield
    write_report()


@pytest.mark.parametrize("name, call", CASES, ids=[c[0] for c in CASES])
def test_no_growth(name, call):
    assert_no_growth(name, call)

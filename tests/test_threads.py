"""Threads calling the module functions on shared controllers at once. The classes' and
the fleets' thread checks are the conformance suite's (tests/conformance/test_threads.py)."""

import struct

from tests.conformance.concurrency import STEPS, THREADS, fast_switching, run_threads  # noqa: F401
from vorn import _vorn_core as m


def bits(x):
    if isinstance(x, float):
        return struct.pack("<d", x)
    if isinstance(x, (list, tuple)):
        return tuple(bits(v) for v in x)
    if isinstance(x, dict):
        return tuple((k, bits(v)) for k, v in x.items())
    return x


def test_shared_tuning_and_loader():
    """The module functions called from many threads at once on shared controllers."""
    ff = m.FFDLController(l_u=1)
    expected = m.ffdl_zn_tuning(ff, 1.0, 4.0, 2.0, 0.5)
    pf = m.PFDLController()
    out = []

    def work():
        for k in range(STEPS):
            out.append(bits(m.ffdl_zn_tuning(ff, 1.0, 4.0, 2.0, 0.5)))
            m.apply_ffdl_zn_tuning(ff, 1.0, 4.0, 2.0, 0.5)
            m.apply_pfdl_initial_guess(pf, [0.3, 0.2])
            assert m.load_config_from_yaml(False)[0] == 1.0
            assert m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5) == [-0.5, 1.5, -0.5]

    run_threads([work] * THREADS)
    assert set(out) == {bits(expected)}
    assert bits(ff.__getstate__()["rho_vector"]) == bits(expected)
    assert pf.get_phi() == [0.3, 0.2]

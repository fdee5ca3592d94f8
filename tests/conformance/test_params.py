"""vorn.params over every face: a SISO controller (a fleet's member included) reads as its
constructor arguments and state, which rebuild an equal controller; fleets and the MIMO
classes, which hold no such record, are refused."""

import inspect

import pytest

import vorn
from tests.conformance.faces import FACES, Face



def _controller(face: Face):
    obj = face.make(**(face.orders[-1] if face.orders else {}), eta=0.7, u_max=2.0)
    for k in range(4):
        face.step(obj, k)
    return obj[face.lead[0] - 1] if face.family == "fleet" else obj


@pytest.mark.parametrize("face", [f for f in FACES if not f.mimo], ids=str)
def test_params_rebuild_the_controller(face):
    c = _controller(face)
    p = vorn.params(c)
    names = list(inspect.signature(type(c)).parameters)  # the constructor's own order
    assert list(p)[:len(names)] == names
    assert (p["eta"], p["u_max"], p["u_min"]) == (0.7, 2.0, None)
    twin = type(c)(**{k: p[k] for k in names})
    twin.__setstate__(c.__getstate__())
    assert vorn.params(twin) == p
    assert twin.update(0.1, 1.0) == c.update(0.1, 1.0)


@pytest.mark.parametrize("face", [f for f in FACES if f.family != "siso"], ids=str)
def test_params_refuse_what_holds_no_siso_record(face):
    with pytest.raises(TypeError, match=r"params\(\) takes a CFDLController, PFDLController or FFDLController"):
        vorn.params(face.make())

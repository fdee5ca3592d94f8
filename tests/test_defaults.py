"""The defaults each class documents in its signature are the ones its constructor uses."""

import inspect

import pytest

import vorn._vorn_core as m

SISO = [m.CFDLController, m.PFDLController, m.FFDLController]
MIMO = [m.MimoCfdlController, m.MimoPfdlController, m.MimoFfdlController]


def documented_defaults(cls):
    """The keyword defaults of the class's signature line."""
    params = inspect.signature(cls).parameters.values()
    return {p.name: p.default for p in params if p.default is not inspect.Parameter.empty}


def inputs(controller, steps=20):
    """The first input of each step of a short closed loop, as exact hex strings."""
    mimo = hasattr(controller, "dim")
    y, out = 0.0, []
    for _ in range(steps):
        u = controller.update([y] * controller.dim, [1.0] * controller.dim) if mimo else controller.update(y, 1.0)
        u = u[0] if isinstance(u, (list, tuple)) else u
        out.append(u.hex())
        y = 0.8 * y + 0.3 * u
    return out


@pytest.mark.parametrize("cls", SISO)
def test_siso_documented_defaults_are_the_constructors(cls):
    documented = documented_defaults(cls)
    assert list(documented) == list(inspect.signature(cls).parameters)
    assert cls().__getnewargs__() == tuple(documented.values())
    assert cls(**documented).__getnewargs__() == cls().__getnewargs__()


@pytest.mark.parametrize("cls", MIMO)
def test_mimo_documented_defaults_are_the_constructors(cls):
    documented = documented_defaults(cls)
    assert "dim" not in documented and len(documented) == 11
    assert inputs(cls(2, **documented)) == inputs(cls(2))


def test_the_loader_default_is_the_compact_forms():
    assert m.load_config_from_yaml(False) == m.CFDLController().__getnewargs__()


@pytest.mark.parametrize("cls, l_y, l_u", [(m.CFDLController, 0, 1), (m.PFDLController, 0, 2),
                                           (m.FFDLController, 1, 2)])
def test_each_form_has_its_own_pseudo_order_defaults(cls, l_y, l_u):
    args = cls().__getnewargs__()
    assert (args[5], args[6]) == (l_y, l_u)
    assert inputs(cls()) == inputs(cls(l_y=l_y, l_u=l_u))

"""MIMO controllers at dims that cross the vector widths and the determinant's column
panels, bit for bit against a plain-Python model of the update cycle: random layers,
singular and sign-changing layers, the bound rule, and the setters that change what
an update reads."""

import math
import random

import pytest

from tests.models import MimoModel
from vorn import _vorn_core as m

C, P, F = m.MimoCfdlController, m.MimoPfdlController, m.MimoFfdlController


def make(form, dim, **kw):
    l_y, l_u = kw.pop("l_y", 0), kw.pop("l_u", 1)
    model = MimoModel(form, dim, l_y=l_y, l_u=l_u, phi0=kw.get("initial_phi", 0.5), m_up=kw.get("m_upper", 1e6))
    cls = {"C": C, "P": P, "F": F}[form]
    orders = {} if form == "C" else {"l_u": l_u} if form == "P" else {"l_y": l_y, "l_u": l_u}
    return cls(dim, **orders, **kw), model


def random_layers(rng, count, dim, phi0, spread, shape):
    layers = []
    for _ in range(count):
        a = [[(phi0 if i == j else 0.0) + rng.uniform(-spread, spread) for j in range(dim)] for i in range(dim)]
        if shape == "zero column" and dim > 2:
            for row in a:
                row[1] = 0.0
        elif shape == "repeated row" and dim > 3:
            a[3] = a[0][:]
        elif shape == "negative" and dim:
            a[0] = [-x for x in a[0]]
        layers.append(a)
    return layers


def run(ctl, model, rng, dim, steps, layers=None):
    if layers is not None:
        ctl.set_phi_hat(layers)
        model.layers = [[r[:] for r in a] for a in layers]
    yd = [1.0 + 0.25 * rng.uniform(-1, 1) for _ in range(dim)]
    for _ in range(steps):
        y = [v + rng.uniform(-0.2, 0.2) for v in yd]
        assert ctl.update(y, yd) == model.update(y, yd)
        assert ctl.get_phi() == model.layers


@pytest.mark.parametrize("dim", [4, 5, 9, 15, 16, 17, 33])
@pytest.mark.parametrize("shape", ["dense", "zero column", "repeated row", "negative"])
def test_compact_form_with_its_determinant(dim, shape):
    rng = random.Random(dim * 31 + len(shape))
    ctl, model = make("C", dim, initial_phi=1.0)
    run(ctl, model, rng, dim, 4, random_layers(rng, 1, dim, 1.0, 0.4, shape))


@pytest.mark.parametrize("form, orders, dim", [
    ("P", dict(l_u=3), 7), ("P", dict(l_u=2), 18), ("F", dict(l_y=1, l_u=2), 9),
    ("F", dict(l_y=2, l_u=2), 13), ("F", dict(l_y=0, l_u=2), 10), ("P", dict(l_u=1), 21),
])
@pytest.mark.parametrize("m_upper", [1e6, 0.0])
def test_partial_and_full_forms(form, orders, dim, m_upper):
    # m_upper just above ‖M0‖_F makes the bound rule restore a corrected layer now and then.
    rng = random.Random(dim)
    m_upper = m_upper or 0.5 * math.sqrt(dim) * 1.02
    ctl, model = make(form, dim, m_upper=m_upper, **orders)
    run(ctl, model, rng, dim, 5, random_layers(rng, sum(orders.values()), dim, 0.5, 0.05, "dense"))


@pytest.mark.parametrize("form", ["C", "P", "F"])
def test_setters_between_updates(form):
    # The lead layer's norm after set_phi_hat, set_initial_phi and reset.
    dim, rng = 11, random.Random(3)
    ctl, model = make(form, dim, l_y=1, l_u=2) if form == "F" else make(form, dim, l_u=2) if form == "P" \
        else make(form, dim)
    count = len(model.layers)
    run(ctl, model, rng, dim, 2)
    run(ctl, model, rng, dim, 2, random_layers(rng, count, dim, 0.5, 0.3, "dense"))
    ctl.set_initial_phi(1.5)
    model.init = [[1.5 if i == j else 0.0 for j in range(dim)] for i in range(dim)]
    run(ctl, model, rng, dim, 2)
    ctl.reset()
    model.__init__(form, dim, l_y=model.l_y, l_u=model.l_u, phi0=1.5)
    run(ctl, model, rng, dim, 3)

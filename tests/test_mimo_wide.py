"""MIMO controllers at dims that cross the vector widths and the determinant's column
panels, bit for bit against a plain-Python model of the update cycle: random layers,
singular and sign-changing layers, the bound rule, and the setters that change what
an update reads."""

import math
import random

import pytest

from vorn import _vorn_core as m

C, P, F = m.MimoCfdlController, m.MimoPfdlController, m.MimoFfdlController


def total(terms, start):
    for t in terms:
        start = start + t
    return start


def matvec(a, x):
    n = len(x)
    return [total((a[i][j] * x[j] for j in range(1, n)), a[i][0] * x[0]) for i in range(n)]


def frob(a):
    n = len(a)
    return total((total((a[i][j] * a[i][j] for i in range(n)), 0.0) for j in range(n)), 0.0)


def det(a):
    """Closed forms to 3×3, then the textbook LU with partial pivoting, column by column."""
    n = len(a)
    if n == 0:
        return 1.0
    if n == 1:
        return a[0][0]
    if n == 2:
        return a[0][0] * a[1][1] - a[1][0] * a[0][1]
    if n == 3:
        t0 = a[0][0] * (a[1][1] * a[2][2] - a[2][1] * a[1][2])
        t1 = a[0][1] * (a[1][0] * a[2][2] - a[2][0] * a[1][2])
        t2 = a[0][2] * (a[1][0] * a[2][1] - a[2][0] * a[1][1])
        return t0 - t1 + t2
    lu = [row[:] for row in a]
    odd = False
    for c in range(n):
        p, best = c, abs(lu[c][c])
        for r in range(c + 1, n):
            if abs(lu[r][c]) > best:
                p, best = r, abs(lu[r][c])
        pivot = lu[p][c]
        if pivot == 0.0:
            continue
        if p != c:
            lu[p], lu[c] = lu[c], lu[p]
            odd = not odd
        for r in range(c + 1, n):
            lu[r][c] = lu[r][c] / pivot
            l = lu[r][c]
            for j in range(c + 1, n):
                lu[r][j] = lu[r][j] - l * lu[c][j]
    d = 1.0
    for i in range(n):
        d = d * lu[i][i]
    return -d if odd else d


def signum(x):
    return x if math.isnan(x) else math.copysign(1.0, x)


class Model:
    """One core: layers with their increment histories in pair order (output pairs first)."""

    def __init__(self, form, dim, l_y=0, l_u=1, eta=1.0, mu=1.0, rho=0.5, lam=0.02, eps=1e-5, phi0=0.5,
                 m_up=1e6, m_lo=1e-6):
        self.form, self.dim, self.l_y, self.l_u = form, dim, l_y, l_u
        self.eta, self.mu, self.rho, self.lam, self.eps, self.m_up, self.m_lo = eta, mu, rho, lam, eps, m_up, m_lo
        self.init = [[phi0 if i == j else 0.0 for j in range(dim)] for i in range(dim)]
        self.layers = [[r[:] for r in self.init] for _ in range(l_y + l_u)]
        self.hist = [[0.0] * dim for _ in range(l_y + l_u)]
        self.y_prev, self.u_prev = [0.0] * dim, [0.0] * dim

    def restore(self, k):
        self.layers[k] = [r[:] for r in self.init]

    def bound(self, k):
        n2 = frob(self.layers[k])
        if n2 > self.m_up * self.m_up or n2 < self.m_lo * self.m_lo:
            self.restore(k)

    def update(self, y, yd):
        n, ly, lay, hist = self.dim, self.l_y, self.layers, self.hist
        dy = [a - b for a, b in zip(y, self.y_prev)]
        e = [a - b for a, b in zip(yd, y)]
        terms = ([matvec(lay[0], dy)] if ly else []) + [matvec(lay[i], hist[i - 1]) for i in range(1, ly)]
        terms += [matvec(lay[ly + j], hist[ly + j - 1]) for j in range(1, self.l_u)]
        s = [0.0] * n
        for t in terms:
            s = [a + b for a, b in zip(s, t)]
        w = [a - b for a, b in zip(e, s)]
        lead = lay[ly]
        g = self.rho / (self.lam + frob(lead))
        du = [total((lead[i][j] * w[i] for i in range(1, n)), lead[0][j] * w[0]) * g for j in range(n)] if n else []
        u = [a + b for a, b in zip(self.u_prev, du)]
        p = [0.0] * n
        for a, d in zip(lay, hist):
            p = [x + t for x, t in zip(p, matvec(a, d))]
        r = [a - b for a, b in zip(dy, p)]
        den = self.mu
        for d in hist:
            den = den + total((x * x for x in d), 0.0)
        if den > self.eps:
            f = self.eta / den
            for k, (a, d) in enumerate(zip(lay, hist)):
                for i in range(n):
                    for j in range(n):
                        a[i][j] = (r[i] * d[j]) * f + a[i][j]
                if self.form != "C":
                    self.bound(k)
        if self.form == "C":
            if math.sqrt(total((x * x for x in du), 0.0)) <= self.eps:
                self.restore(0)
            else:
                self.bound(0)
                d0 = det(self.init)
                if abs(d0) > self.eps and signum(det(lay[0])) != signum(d0):
                    self.restore(0)
        hist[:ly] = ([dy] + hist[:ly - 1]) if ly else []
        hist[ly:] = [du] + hist[ly:-1]
        self.y_prev, self.u_prev = y, u
        return u


def make(form, dim, **kw):
    l_y, l_u = kw.pop("l_y", 0), kw.pop("l_u", 1)
    model = Model(form, dim, l_y=l_y, l_u=l_u, phi0=kw.get("initial_phi", 0.5), m_up=kw.get("m_upper", 1e6))
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

"""The MIMO fleets against the single MIMO controllers: member i of a fleet must compute bit
for bit what the controller built with member i's parameters computes from the same samples,
through resets, setters, set_phi_hat, NaN and infinity, pickling and conversions."""

import copy
import pickle

import numpy as np
import pytest

import vorn
from vorn import _vorn_core as core
from vorn import _vorn_fleet as fleets

FORMS = {
    "cfdl": (fleets.MimoCfdlFleet, core.MimoCfdlController, [(0, 1)]),
    "pfdl": (fleets.MimoPfdlFleet, core.MimoPfdlController, [(0, 1), (0, 2), (0, 3)]),
    "ffdl": (fleets.MimoFfdlFleet, core.MimoFfdlController, [(1, 1), (1, 2), (2, 1), (0, 2)]),
}
REALS = ("eta", "mu", "rho", "lambda_", "eps", "initial_phi", "u0", "m_upper", "m_lower")


def bits(a):
    """Bits of every value, NaN as one pattern (payloads aside)."""
    a = np.array(a, dtype=np.float64)
    return np.where(np.isnan(a), np.nan, a).tobytes()


def random_params(rng, n):
    """Per-member values that every form accepts, some shared as scalars."""
    p = {"eta": rng.uniform(0.1, 2.0, n), "mu": rng.uniform(0.1, 3.0, n), "rho": rng.uniform(0.05, 1.0, n),
         "lambda_": rng.uniform(0.01, 1.0, n), "eps": 10.0 ** rng.uniform(-8, -2, n),
         "initial_phi": rng.choice([-0.6, 0.3, 0.5, 1.2], n), "u0": rng.normal(size=n),
         "m_upper": rng.choice([2.0, 10.0, 1e6], n), "m_lower": rng.choice([1e-6, 0.05], n)}
    for key in rng.choice(REALS, 3, replace=False):
        p[key] = float(p[key][0])
    return p


def member_params(p, i):
    return {k: (v if np.isscalar(v) else float(v[i])) for k, v in p.items()}


def sample(rng, n, dim, k):
    y = rng.normal(size=(n, dim))
    if k % 11 == 5:
        y[rng.integers(n), rng.integers(dim)] = rng.choice([np.nan, np.inf, -np.inf])
    yd = rng.normal(size=dim) if k % 3 == 0 else rng.normal(size=(n, dim))
    return y, yd


def assert_members(fleet, singles):
    phi = fleet.get_phi()
    assert phi.shape[0] == len(singles) == len(fleet)
    for i, s in enumerate(singles):
        assert bits(phi[i]) == bits(s.get_phi())


@pytest.mark.parametrize("seed", range(12))
@pytest.mark.parametrize("form", FORMS)
def test_members_are_the_single_controllers(form, seed):
    fleet_cls, single_cls, orders = FORMS[form]
    rng = np.random.default_rng(seed * 7 + len(form))
    n, dim = int(rng.integers(1, 18)), int(rng.integers(1, 7))
    l_y, l_u = orders[seed % len(orders)]
    p = random_params(rng, n)
    fleet = fleet_cls(n, dim, l_y=l_y, l_u=l_u, **p)
    singles = [single_cls(dim, l_y=l_y, l_u=l_u, **member_params(p, i)) for i in range(n)]
    for k in range(40):
        y, yd = sample(rng, n, dim, k)
        u = fleet.update(y, yd)
        assert u.shape == (n, dim)
        for i, s in enumerate(singles):
            assert bits(u[i]) == bits(s.update(list(y[i]), list(yd if yd.ndim == 1 else yd[i])))
        if k % 9 == 4:
            key = str(rng.choice(["eta", "rho", "lambda", "m_upper", "initial_phi", "u0"]))
            values = rng.uniform(0.2, 0.9, n)
            getattr(fleet, "set_" + key)(values)
            for i, s in enumerate(singles):
                getattr(s, "set_" + key)(float(values[i]))
        if k == 17:
            layers = fleet.get_phi().shape[1]
            phi = rng.normal(size=(layers, dim, dim))
            fleet.set_phi_hat(phi)
            for s in singles:
                s.set_phi_hat(phi.tolist())
        if k == 25:
            fleet.reset()
            for s in singles:
                s.reset()
        if k == 30:
            fleet = pickle.loads(pickle.dumps(fleet))
    assert_members(fleet, singles)


@pytest.mark.parametrize("form", FORMS)
def test_members_copies_and_conversions_continue_alike(form):
    fleet_cls, single_cls, orders = FORMS[form]
    rng = np.random.default_rng(3)
    n, dim = 5, 3
    l_y, l_u = orders[-1]
    fleet = fleet_cls(n, dim, l_y=l_y, l_u=l_u, **random_params(rng, n))
    for k in range(8):
        fleet.update(*sample(rng, n, dim, k))
    members = [fleet[i] for i in range(n)]
    assert type(fleet[-1]) is single_cls and bits(fleet[-1].get_phi()) == bits(members[-1].get_phi())
    again = fleet_cls.from_controllers(members)
    twins = [copy.deepcopy(fleet), copy.copy(fleet), pickle.loads(pickle.dumps(fleet)), again]
    for k in range(8, 20):
        y, yd = sample(rng, n, dim, k)
        u = fleet.update(y, yd)
        for twin in twins:
            assert bits(twin.update(y, yd)) == bits(u)
        for i, m in enumerate(members):
            assert bits(m.update(list(y[i]), list(yd if yd.ndim == 1 else yd[i]))) == bits(u[i])


@pytest.mark.parametrize("form", FORMS)
def test_out_receives_the_inputs(form):
    fleet_cls = FORMS[form][0]
    a, b = fleet_cls(4, 2), fleet_cls(4, 2)
    y = np.arange(8.0).reshape(4, 2)
    out = np.empty((4, 2))
    assert a.update(y, [1.0, 2.0], out=out) is out
    assert bits(out) == bits(b.update(y, [1.0, 2.0]))
    # An input that is also the output still reads as it was given.
    y2 = y.copy()
    assert bits(a.update(y2, y2, out=y2)) == bits(b.update(y, y))
    with pytest.raises(ValueError, match=r"out has shape \(4,\), expected \(4, 2\)"):
        a.update(y, y, out=np.empty(4))
    with pytest.raises(TypeError):
        a.update(y, y, out=np.empty((4, 2), dtype=np.float32))


@pytest.mark.parametrize("form", FORMS)
def test_an_empty_fleet_steps_and_pickles(form):
    fleet_cls = FORMS[form][0]
    fleet = fleet_cls(0, 3)
    assert len(fleet) == 0 and fleet.update(np.empty((0, 3)), [1.0, 2.0, 3.0]).shape == (0, 3)
    assert fleet.get_phi().shape[0] == 0
    assert len(pickle.loads(pickle.dumps(fleet))) == 0
    assert len(fleet_cls.from_controllers([])) == 0
    with pytest.raises(IndexError):
        fleet[0]


def state(fleet):
    return pickle.dumps(fleet.__getstate__())


REFUSALS = [
    ("update", lambda f: f.update(np.zeros((3, 3)), np.zeros(2)), ValueError, r"y has shape \(3, 3\), expected \(3, 2\)"),
    ("update yd", lambda f: f.update(np.zeros((3, 2)), np.zeros(3)), ValueError, "yd has shape"),
    ("update complex", lambda f: f.update(np.zeros((3, 2)) + 1j, np.zeros(2)), TypeError, "real numbers"),
    ("layers", lambda f: f.set_phi_hat(np.zeros((3, 9, 2, 2))), ValueError, "的 phi 层数应为"),
    ("rows", lambda f: f.set_phi_hat(np.zeros((3, f.get_phi().shape[1], 3, 2))), ValueError, "行数 3 ≠ dim 2"),
    ("columns", lambda f: f.set_phi_hat(np.zeros((f.get_phi().shape[1], 2, 5))), ValueError, "列数 5 ≠ dim 2"),
    ("phi shape", lambda f: f.set_phi_hat(np.zeros(4)), ValueError, "phi has shape"),
    ("setter", lambda f: f.set_eta([1.0, 2.0]), ValueError, "eta has shape"),
    ("setter type", lambda f: f.set_rho("x"), TypeError, None),
    ("state", lambda f: f.__setstate__({"dim": 2}), KeyError, None),
]


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("name, call, error, message", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_refusals_leave_the_fleet_unchanged(form, name, call, error, message):
    fleet = FORMS[form][0](3, 2, eta=[0.5, 0.6, 0.7])
    fleet.update(np.ones((3, 2)), [2.0, 1.0])
    before = state(fleet)
    with pytest.raises(error, match=message):
        call(fleet)
    assert state(fleet) == before


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("kwargs, message", [
    ({"rho": [0.5, 0.5, 2.0]}, "rho 必须满足 0 < rho <= 1"),
    ({"eta": [1.0, 0.0, 1.0], "mu": [1.0, 1.0, -1.0]}, "eta 必须满足 0 < eta <= 2"),
    ({"m_lower": [1e-6, 1e-6, 5.0], "m_upper": 1.0}, "m_lower 不能大于 m_upper"),
])
def test_members_are_judged_as_the_class_judges(form, kwargs, message):
    fleet_cls, single_cls = FORMS[form][:2]
    with pytest.raises(ValueError, match=message) as caught:
        fleet_cls(3, 2, **kwargs)
    bad = next(i for i in range(3) if any(not np.isscalar(v) and v[i] != v[0] for v in kwargs.values()))
    assert caught.value.__notes__ == [f"member {bad}"]
    with pytest.raises(ValueError, match=message):
        single_cls(2, **{k: (v if np.isscalar(v) else v[bad]) for k, v in kwargs.items()})


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("n", [0, 2])
def test_refused_orders_and_sizes(form, n):
    fleet_cls, single_cls = FORMS[form][:2]
    with pytest.raises(ValueError) as fleet_error:
        fleet_cls(n, 2, l_u=0)
    with pytest.raises(ValueError) as single_error:
        single_cls(2, l_u=0)
    assert str(fleet_error.value) == str(single_error.value)
    with pytest.raises((MemoryError, OverflowError)):
        fleet_cls(2 ** 40, 4)
    with pytest.raises((MemoryError, OverflowError)):
        fleet_cls(n, 2 ** 40)
    with pytest.raises(OverflowError):
        fleet_cls(2 ** 64, 2)


def test_from_controllers_refuses_mixed_members():
    with pytest.raises(ValueError, match=r"controllers\[1\] has dim=3"):
        fleets.MimoPfdlFleet.from_controllers([core.MimoPfdlController(2), core.MimoPfdlController(3)])
    with pytest.raises(ValueError, match=r"controllers\[1\] has dim=2, l_y=0, l_u=3"):
        fleets.MimoPfdlFleet.from_controllers([core.MimoPfdlController(2), core.MimoPfdlController(2, l_u=3)])
    with pytest.raises(TypeError) as caught:
        fleets.MimoCfdlFleet.from_controllers([core.MimoCfdlController(2), core.MimoPfdlController(2)])
    assert caught.value.__notes__ == ["controllers[1]"]


def test_the_package_and_the_registry_name_the_fleets():
    names = ["MimoCfdlFleet", "MimoPfdlFleet", "MimoFfdlFleet"]
    assert vorn.__all__[vorn.__all__.index("FFDLFleet") + 1:][:3] == names
    from vorn import forms
    fleet = vorn.MimoPfdlFleet(2, 2)
    assert forms.form_of(fleet) is not None and forms.form_of(fleet).fleet is vorn.MimoPfdlFleet


REFUSED_ON_LOADING = {
    "eta": (5.0, "eta 必须满足 0 < eta <= 2"), "mu": (0.0, "mu 必须为正"), "rho": (1.5, "rho 必须满足 0 < rho <= 1"),
    "lambda": (-1.0, "lambda 必须为正"), "eps": (0.0, "eps 必须为正"), "m_upper": (-1.0, "m_upper 必须为正"),
    "m_lower": (0.0, "m_lower 必须为正"), "m_lower above m_upper": (1e7, "m_lower 不能大于 m_upper"),
}


@pytest.mark.parametrize("key", REFUSED_ON_LOADING)
@pytest.mark.parametrize("form", FORMS)
def test_a_stored_value_its_class_refuses_is_refused_on_loading(form, key):
    # As the SISO fleets and classes do: what the constructor refuses does not load, whichever
    # member holds it, and the fleet given that state stays as it was.
    value, message = REFUSED_ON_LOADING[key]
    fleet = FORMS[form][0](3, 2)
    fleet.update(np.ones((3, 2)), [0.5, 1.5])
    stored = fleet.__getstate__()
    column = stored[key.split()[0]].copy()
    column[2] = value
    target = FORMS[form][0](4, 2, eta=0.25)
    before = state(target)
    with pytest.raises(ValueError) as caught:
        target.__setstate__({**stored, key.split()[0]: column})
    assert str(caught.value) == message and caught.value.__notes__ == ["member 2"]
    assert state(target) == before
    getattr(fleet, "set_" + key.split()[0])(column)
    with pytest.raises(ValueError, match=message):
        pickle.loads(pickle.dumps(fleet))


@pytest.mark.parametrize("form", FORMS)
def test_values_no_rule_refuses_survive_pickling(form):
    # NaN passes every ordered rule, and u0 and initial_phi have none.
    fleet = FORMS[form][0](3, 2)
    fleet.update(np.ones((3, 2)), [0.5, 1.5])
    fleet.set_eta([0.5, 2.0, np.nan])
    fleet.set_u0([np.inf, -3.0, np.nan])
    fleet.set_initial_phi([-7.0, 0.0, np.nan])
    again = pickle.loads(pickle.dumps(fleet))
    assert state(again) == state(fleet)
    y = np.full((3, 2), 0.25)
    assert bits(again.update(y, y)) == bits(fleet.update(y, y))
    with pytest.raises(ValueError, match="伪阶数不满足当前控制器格式要求"):
        again.__setstate__({**fleet.__getstate__(), "l_u": 0})


def awkward_layer(rng, dim, kind):
    """A dim×dim layer that walks the determinant's LU through one of its branches: row
    exchanges, zero pivots, ties of magnitude, signed zeros, NaN and infinity."""
    a = rng.normal(size=(dim, dim))
    if kind == "exchanges":
        a = np.triu(a)[rng.permutation(dim)]
    elif kind == "zero column":
        a[:, rng.integers(dim)] = 0.0
    elif kind == "ties":
        a[:, 0] = rng.choice([-1.0, 1.0], dim)
        a[:, -1] = -a[:, 0]
    elif kind == "signed zeros":
        a[a < 0.3] = -0.0
    elif kind == "repeated row":
        a[-1] = a[0]
    elif kind == "not finite":
        a[rng.integers(dim), rng.integers(dim)] = rng.choice([np.nan, np.inf, -np.inf])
    return a


LAYER_KINDS = ("dense", "exchanges", "zero column", "ties", "signed zeros", "repeated row", "not finite")


@pytest.mark.parametrize("dim", [1, 2, 3, 4, 5])
@pytest.mark.parametrize("form", FORMS)
def test_small_dimensions_agree_through_every_rule(form, dim):
    # Each member starts from its own awkward layers. mu below eps: the first step corrects
    # nothing, so the compact form's sign rule sees those very layers; later steps correct,
    # bound and reset them as usual.
    fleet_cls, single_cls, orders = FORMS[form]
    rng = np.random.default_rng(40 + dim)
    n = 4 * len(LAYER_KINDS)
    for l_y, l_u in orders:
        p = {"mu": 1e-6, "eps": 1e-5, "initial_phi": rng.choice([-0.9, 0.8, 1.1], n),
             "m_upper": rng.choice([3.0, 1e6], n)}
        fleet = fleet_cls(n, dim, l_y=l_y, l_u=l_u, **p)
        layers = fleet.get_phi().shape[1]
        phi = np.array([[awkward_layer(rng, dim, LAYER_KINDS[i % len(LAYER_KINDS)]) for _ in range(layers)]
                        for i in range(n)])
        fleet.set_phi_hat(phi)
        singles = [single_cls(dim, l_y=l_y, l_u=l_u, **member_params(p, i)) for i in range(n)]
        for i, s in enumerate(singles):
            s.set_phi_hat(phi[i].tolist())
        for k in range(12):
            y, yd = sample(rng, n, dim, k)
            u = fleet.update(y * 0.1 * k, yd)
            for i, s in enumerate(singles):
                want = s.update(list(y[i] * 0.1 * k), list(yd if yd.ndim == 1 else yd[i]))
                assert bits(u[i]) == bits(want), (l_y, l_u, k, i)
            assert_members(fleet, singles)


@pytest.mark.parametrize("dim", [2, 4])
@pytest.mark.parametrize("form, orders", [("cfdl", {}), ("pfdl", {"l_u": 2}), ("ffdl", {"l_y": 1, "l_u": 2})])
def test_the_benchmarks_numpy_peer_follows_the_fleets(form, orders, dim):
    # The benchmark's batched NumPy update is a fair peer only while it computes the same
    # update (to rounding): same closed loop, same inputs.
    from bench.mimo_fleet_peers import NumpyMimoFleet

    n = 6
    fleet, peer = FORMS[form][0](n, dim, **orders), NumpyMimoFleet(n, dim, form=form, **orders)
    rng = np.random.default_rng(dim)
    gain = np.eye(dim) + 0.2 * rng.uniform(-1, 1, (n, dim, dim))
    y = np.zeros((n, dim))
    for _ in range(30):
        u = fleet.update(y, np.ones(dim))
        np.testing.assert_allclose(peer.update(y, np.ones(dim)), u, rtol=1e-9, atol=1e-12)
        y = 0.7 * y + np.einsum("nij,nj->ni", gain, u)
    np.testing.assert_allclose(peer.layers, fleet.get_phi(), rtol=1e-9, atol=1e-12)

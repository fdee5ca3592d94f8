"""MIMO controllers: construction and validation, the update cycle bit for bit, the bound,
small-increment and determinant-sign rules, shape checks and their messages, sizes."""

import math

import pytest

from tests.models import MimoModel
from vorn import _vorn_core as m

C, P, F = m.MimoCfdlController, m.MimoPfdlController, m.MimoFfdlController
CLASSES = [C, P, F]
I2 = [[0.5, 0.0], [0.0, 0.5]]
YD = [1.0, 2.0]
YS = [[0.0, 0.0], [0.3, 0.6], [0.5, 1.1]]
L2 = [[0.513295591010465, 0.02659118202092984], [0.02659118202092984, 0.5531823640418597]]
L3 = [[0.5153063639908618, 0.030612727981723473], [0.052099062908823414, 0.6041981258176469]]


def identity(n, x=1.0):
    return [[x if i == j else 0.0 for j in range(n)] for i in range(n)]


# --- worked values ---------------------------------------------------------------------

@pytest.mark.parametrize("cls, us, layers", [
    (C, [[0.4807692307692307, 0.9615384615384615], [0.8173076923076923, 1.6346153846153846],
         [1.0547261674628785, 2.0671437965069375]], [[I2], [L2], [L3]]),
    (P, [[0.4807692307692307, 0.9615384615384615], [0.7017381656804733, 1.4034763313609466]],
     [[I2, I2], [L2, I2]]),
    (F, [[0.4807692307692307, 0.9615384615384615], [0.6296227810650887, 1.2592455621301775]],
     [[I2, I2, I2], [I2, L2, I2]]),
])
def test_worked_values(cls, us, layers):
    c = cls(2)
    for y, u, phi in zip(YS, us, layers):
        got = c.update(y=y, yd=YD)
        assert type(got) is list and got == u
        assert c.get_phi() == phi


@pytest.mark.parametrize("cls, l_y, l_u, dim", [
    (P, 0, 3, 3), (P, 0, 1, 2), (F, 0, 2, 2), (F, 2, 3, 3), (F, 3, 1, 4),
])
def test_long_run_matches_the_cycle(cls, l_y, l_u, dim):
    ys = [[math.sin(0.7 * k + i) * 0.5 for i in range(dim)] for k in range(12)]
    yds = [[1.0 + 0.25 * i for i in range(dim)] for _ in range(12)]
    kw = dict(l_u=l_u) if cls is P else dict(l_y=l_y, l_u=l_u)
    c = cls(dim, m_upper=3.0, **kw)
    model = MimoModel("P" if cls is P else "F", dim, l_y=l_y, l_u=l_u, m_up=3.0)
    for y, yd in zip(ys, yds):
        assert c.update(y, yd) == model.update(y, yd)
        assert c.get_phi() == model.layers


# --- construction and validation -------------------------------------------------------

@pytest.mark.parametrize("cls, kw, message", [
    (C, dict(eta=2.0000001), "eta 必须满足 0 < eta <= 2"),
    (C, dict(eta=0.0, mu=0.0), "eta 必须满足 0 < eta <= 2"),
    (P, dict(mu=-1.0), "mu 必须为正"),
    (F, dict(rho=1.5), "rho 必须满足 0 < rho <= 1"),
    (C, dict(lambda_=0.0), "lambda 必须为正"),
    (P, dict(eps=-1e-9), "eps 必须为正"),
    (C, dict(m_upper=0.0, l_u=2), "m_upper 必须为正"),
    (F, dict(m_lower=0.0), "m_lower 必须为正"),
    (P, dict(m_upper=1e-6, m_lower=1e-5), "m_lower 不能大于 m_upper"),
    (C, dict(l_u=2), "伪阶数不满足当前控制器格式要求"),
    (C, dict(l_y=1), "伪阶数不满足当前控制器格式要求"),
    (C, dict(eta=3.0, l_u=2), "eta 必须满足 0 < eta <= 2"),
    (P, dict(l_y=1), "伪阶数不满足当前控制器格式要求"),
    (P, dict(l_u=0), "伪阶数不满足当前控制器格式要求"),
    (F, dict(l_u=0), "伪阶数不满足当前控制器格式要求"),
    (C, dict(dim=2 ** 40, eta=5.0), "eta 必须满足 0 < eta <= 2"),
])
def test_validation(cls, kw, message):
    with pytest.raises(ValueError) as info:
        cls(**{"dim": 2, **kw})
    assert info.value.args == (message,)


@pytest.mark.parametrize("cls, kw, layers", [
    (C, dict(eta=2.0, rho=1.0, m_lower=1.0, m_upper=1.0), 1),
    (C, dict(eta=math.nan), 1),
    (P, dict(l_u=4), 4),
    (F, dict(l_y=0, l_u=1), 1),
    (F, dict(l_y=3, l_u=2), 5),
])
def test_accepted_parameters(cls, kw, layers):
    assert len(cls(2, **kw).get_phi()) == layers


@pytest.mark.parametrize("kw, exc, name", [
    (dict(dim=-1), OverflowError, "dim"),
    (dict(dim=2.0), TypeError, "dim"),
    (dict(dim=2, l_u=-1), OverflowError, "l_u"),
    (dict(dim=2, lambda_="x"), TypeError, "lambda_"),
    (dict(dim=2, m_lower=None), TypeError, "m_lower"),
])
def test_constructor_conversion_notes(kw, exc, name):
    with pytest.raises(exc) as info:
        F(**kw)
    assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize("make, exc", [
    (lambda: C(2 ** 40), OverflowError),
    (lambda: P(2, l_u=2 ** 62), OverflowError),
    (lambda: F(2, l_y=2 ** 63, l_u=2 ** 63), OverflowError),
    (lambda: C(2 ** 64 - 1), OverflowError),
    (lambda: F(2 ** 22), MemoryError),
    (lambda: P(1, l_u=2 ** 58), MemoryError),
])
def test_huge_sizes_raise(make, exc):
    with pytest.raises(exc):
        make()


@pytest.mark.parametrize("cls, lu_default, ly_default", [(C, 1, 0), (P, 2, 0), (F, 2, 1)])
def test_class_surface(cls, lu_default, ly_default):
    name = cls.__name__
    assert (cls.__module__, cls.__qualname__) == ("vorn._vorn_core", name)
    assert cls.__text_signature__ == (f"(dim, eta=1.0, mu=1.0, rho=0.5, lambda_=0.02, eps=1e-5, l_y={ly_default}, "
                                      f"l_u={lu_default}, initial_phi=0.5, u0=0.0, m_upper=1e6, m_lower=1e-6)")
    assert cls.__doc__ == f"Python 侧 `{name}` 绑定。"
    methods = ["update", "reset", "get_phi", "set_phi_hat", "set_eta", "set_mu", "set_rho", "set_lambda",
               "set_eps", "set_m_upper", "set_m_lower", "set_u0", "set_initial_phi"]
    assert [k for k in vars(cls) if k in methods] == methods
    assert cls.set_lambda.__text_signature__ == "($self, lambda_)"
    assert all(getattr(cls, k).__doc__ is None for k in methods)
    for absent in ("__getstate__", "__setstate__", "__getnewargs__", "update_logged"):
        assert absent not in vars(cls)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    c = cls(3)
    assert repr(c) == str(c) == f"{name}(dim=3)" and c.dim == 3
    with pytest.raises(AttributeError):
        c.dim = 4
    with pytest.raises(AttributeError):
        c.other = 1


# --- update ----------------------------------------------------------------------------

@pytest.mark.parametrize("y, yd, exc, message, note", [
    ([0.0], [1.0, 2.0], ValueError, "y 长度 1 ≠ dim 2", None),
    ([0.0, 0.0], [1.0, 2.0, 3.0], ValueError, "yd 长度 3 ≠ dim 2", None),
    ([0.0], [1.0], ValueError, "y 长度 1 ≠ dim 2", None),
    ("ab", [1.0, 2.0], TypeError, "Can't extract `str` to `Vec`", "y"),
    ([0.0], "ab", TypeError, "Can't extract `str` to `Vec`", "yd"),
    ([0.0], 5, TypeError, "'int' object is not an instance of 'Sequence'", "yd"),
    ([0.0, "x"], [1.0, 2.0], TypeError, None, "y"),
])
def test_update_argument_checks(y, yd, exc, message, note):
    c = C(2)
    with pytest.raises(exc) as info:
        c.update(y, yd)
    if message is not None:
        assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == (None if note is None else [f"while processing '{note}'"])
    assert c.update([0.0, 0.0], YD) == [0.4807692307692307, 0.9615384615384615]


@pytest.mark.parametrize("cls, layers", [(C, [[]]), (P, [[], []]), (F, [[], [], []])])
def test_dim_zero(cls, layers):
    c = cls(0)
    assert c.dim == 0 and repr(c) == f"{cls.__name__}(dim=0)"
    assert c.update([], []) == [] and c.update((), ()) == []
    assert c.get_phi() == layers
    c.set_phi_hat(layers)
    c.reset()


# --- reset rules -----------------------------------------------------------------------

def lead_index(cls):
    return 1 if cls is F else 0


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("kw, fires", [
    (dict(m_upper=0.75), True),  # ‖L2‖²_F ≈ 0.5713 > 0.5625
    (dict(m_upper=0.76), False),
    (dict(m_lower=0.76), True),  # 0.5713 < 0.5776
    (dict(m_lower=0.75), False),
])
def test_bound_rule(cls, kw, fires):
    c = cls(2, **kw)
    c.update(YS[0], YD)
    c.update(YS[1], YD)
    assert c.get_phi()[lead_index(cls)] == (I2 if fires else L2)


def diag(*d):
    return [[d[i] if i == j else 0.0 for j in range(len(d))] for i in range(len(d))]


def perm(*cols):
    return [[1.0 if j == c else 0.0 for j in range(len(cols))] for c in cols]


M4 = [[1.0, 2.0, 3.0, 4.0], [5.0, 6.0, 7.0, 8.0], [2.0, 6.0, 4.0, 8.0], [3.0, 1.0, 1.0, 2.0]]  # det 72
T5 = [[2.0 if i == j else 1.0 if abs(i - j) == 1 else 0.0 for j in range(5)] for i in range(5)]  # det 6


def negate_row(a, i):
    return [[-v for v in r] if k == i else r for k, r in enumerate(a)]


@pytest.mark.parametrize("phi, kept", [
    (diag(2.0), True), (diag(-2.0), False),
    (perm(1, 0), False), (diag(1.0, 2.0), True),
    ([[1.0, 2.0, 0.0], [3.0, 4.0, 0.0], [0.0, 0.0, 1.0]], False),  # det −2
    (perm(1, 2, 0), True),
    # From 4×4 on, LU with partial pivoting; hand-checked determinants.
    (M4, True), (negate_row(M4, 0), False),
    (perm(1, 0, 2, 3), False), (perm(1, 0, 3, 2), True),
    (T5, True), (negate_row(T5, 4), False),
    # Singular: the zero keeps the sign of the product, negated after an odd number of swaps.
    (diag(1.0, 1.0, 1.0, 0.0), True), (diag(-1.0, 1.0, 1.0, 0.0), False),
    ([[0.0, 1.0, 0.0, 0.0], [1.0, 0.0, 0.0, 0.0], [0.0, 0.0, 1.0, 0.0], [0.0, 0.0, 0.0, 0.0]], False),
    ([[1.0, 2.0, 3.0, 4.0], [2.0, 4.0, 6.0, 8.0], [1.0, 1.0, 1.0, 1.0], [0.0, 0.0, 1.0, 1.0]], True),
])
def test_sign_rule(phi, kept):
    # The first call's regressor is zero, so only the reset rules can change the layer.
    dim = len(phi)
    c = C(dim)
    c.set_phi_hat([phi])
    c.update([0.0] * dim, [1.0] * dim)
    assert c.get_phi() == [phi if kept else identity(dim, 0.5)]


def test_sign_rule_follows_set_initial_phi():
    swap = [[0.0, 1.0], [1.0, 0.0]]
    c = C(2)
    c.set_initial_phi(0.001)  # det0 = 1e-6 ≤ eps: no sign test
    c.set_phi_hat([swap])
    c.update([0.0, 0.0], YD)
    assert c.get_phi() == [swap]
    c.set_initial_phi(-2.0)  # det0 = 4 > 0 again
    c.update([0.1, 0.1], YD)
    assert c.get_phi() == [identity(2, -2.0)]


@pytest.mark.parametrize("cls, kw, resets", [
    (C, {}, True),
    (C, dict(initial_phi=0.0), True),
    (P, dict(l_u=1), False),
])
def test_small_increment_rule(cls, kw, resets):
    x = [[1.0, 0.25], [0.0, 1.0]]
    c = cls(2, **kw)
    c.set_phi_hat([x])
    assert c.update([1.0, 2.0], [1.0, 2.0]) == [0.0, 0.0]  # e = 0, so Δu = 0
    assert c.get_phi() == [identity(2, kw.get("initial_phi", 0.5)) if resets else x]


def test_nan_layer():
    nan = [[math.nan, 0.0], [0.0, 1.0]]
    c = C(2)  # the sign rule replaces a NaN layer
    c.set_phi_hat([nan])
    assert all(math.isnan(v) for v in c.update([0.0, 0.0], YD))
    assert c.get_phi() == [I2]
    p = P(2, l_u=1)  # the bound rule keeps it
    p.set_phi_hat([nan])
    p.update([0.0, 0.0], YD)
    assert math.isnan(p.get_phi()[0][0][0])


@pytest.mark.parametrize("cls", [P, F])
@pytest.mark.parametrize("mu, corrected", [(1e-6, False), (1.0, True)])
def test_no_bound_rule_without_correction(cls, mu, corrected):
    # m_lower² = 0.64 exceeds ‖0.5·I‖²_F: the bound rule resets any layer it inspects.
    x = [[0.55, 0.0], [0.0, 0.55]]
    c = cls(2, mu=mu, m_lower=0.8)
    n = len(c.get_phi())
    c.set_phi_hat([x] * n)
    c.update([0.0, 0.0], YD)
    assert c.get_phi() == ([I2] * n if corrected else [x] * n)


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("from_setter", [False, True])
def test_nan_mu_leaves_every_layer_unchanged(cls, from_setter):
    # d = mu + Σ‖δ_m‖² is NaN, and the correction runs only when d > eps. The layers stay
    # inside the bounds and keep the sign of det0, so no reset rule touches them either.
    x = [[0.55, 0.05], [-0.05, 0.6]]
    c = cls(2, mu=1.0 if from_setter else math.nan)
    n = len(c.get_phi())
    c.update([0.1, 0.2], YD)  # non-zero increments in the histories from here on
    if from_setter:
        c.set_mu(math.nan)
    c.set_phi_hat([x] * n)
    for y in YS:
        assert all(math.isfinite(v) for v in c.update(y, YD))
        assert c.get_phi() == [x] * n


# --- layers, setters and reset ----------------------------------------------------------

@pytest.mark.parametrize("cls, phi, message", [
    (C, [I2, I2], "CFDL 的 phi 层数应为 1，实际为 2"),
    (C, [], "CFDL 的 phi 层数应为 1，实际为 0"),
    (P, [I2], "PFDL 的 phi 层数应为 2，实际为 1"),
    (F, [I2, I2], "FFDL 的 phi 层数应为 3，实际为 2"),
    (F, [I2, [[1.0, 2.0, 3.0]], [[1.0]]], "phi[1] 行数 1 ≠ dim 2"),
    (C, [[[1.0, 0.0], [0.0]]], "phi 列数 1 ≠ dim 2"),
    (C, [[[1.0, 0.0], [0.0, 1.0], [0.0, 0.0]]], "phi 行数 3 ≠ dim 2"),
    (P, [I2, [[1.0, 0.0], [0.0, 1.0], [0.0, 0.0]]], "phi[1] 行数 3 ≠ dim 2"),
    (P, [[[1.0, 0.0], [0.0, 1.0, 2.0]], [[1.0]]], "phi[0] 列数 3 ≠ dim 2"),
    (P, [[[1.0], [0.0]], [[1.0]]], "phi[0] 列数 1 ≠ dim 2"),
])
def test_set_phi_hat_shape_messages(cls, phi, message):
    c = cls(2)
    before = c.get_phi()
    with pytest.raises(ValueError) as info:
        c.set_phi_hat(phi)
    assert info.value.args == (message,)
    assert c.get_phi() == before


@pytest.mark.parametrize("phi", ["ab", ["ab"], [["ab", "cd"], ["ef", "gh"]]])
def test_set_phi_hat_refuses_str_at_every_level(phi):
    with pytest.raises(TypeError) as info:
        C(2).set_phi_hat(phi)
    assert info.value.args == ("Can't extract `str` to `Vec`",)
    assert info.value.__notes__ == ["while processing 'phi'"]


@pytest.mark.parametrize("cls", CLASSES)
def test_set_phi_hat_get_phi_and_reset(cls):
    c = cls(2)
    n = len(c.get_phi())
    given = [[[float(k), 1.0], [2.0, -float(k)]] for k in range(n)]
    c.set_phi_hat(tuple(tuple(tuple(r) for r in a) for a in given))
    got = c.get_phi()
    assert got == given
    got[0][0][0] = 99.0
    assert c.get_phi() == given
    c.set_initial_phi(2.0)
    assert c.get_phi() == given
    c.reset()
    assert c.get_phi() == [identity(2, 2.0)] * n


@pytest.mark.parametrize("cls", CLASSES)
def test_set_u0_takes_effect_at_reset(cls):
    c = cls(2)
    c.set_u0(3.0)
    assert c.update([0.0, 0.0], YD) == [0.4807692307692307, 0.9615384615384615]
    c.reset()
    assert c.update([0.0, 0.0], YD) == [3.0 + 0.4807692307692307, 3.0 + 0.9615384615384615]


def test_setters_store_unvalidated():
    c = P(2)
    for name in ("set_eta", "set_mu", "set_eps", "set_m_upper", "set_m_lower"):
        getattr(c, name)(-5.0)
    c.set_rho(0.25)
    c.set_lambda(lambda_=0.5)
    assert c.update([0.0, 0.0], YD) == [0.5 * (0.25 / 1.0), 1.0 * (0.25 / 1.0)]
    with pytest.raises(TypeError) as info:
        c.set_m_upper("x")
    assert info.value.__notes__ == ["while processing 'm_upper'"]


def test_reentry_is_refused():
    c = C(2)

    class Sneaky:
        def __init__(self, call):
            self.call = call

        def __float__(self):
            self.call()
            return 0.0

    for call, message in [(lambda: c.update([Sneaky(c.get_phi), 0.0], YD), "Already mutably borrowed"),
                          (lambda: c.update([0.0, 0.0], [Sneaky(c.reset), 2.0]), "Already borrowed"),
                          (lambda: c.set_eta(Sneaky(lambda: c.dim)), "Already mutably borrowed")]:
        with pytest.raises(RuntimeError) as info:
            call()
        assert info.value.args == (message,)
    assert c.update([0.0, 0.0], YD) == [0.4807692307692307, 0.9615384615384615]

"""The tuning functions: PFDL initial-vector mappings and their writer, FFDL step-factor
tuning, with their worked values, test order, conversions and access rules."""

import math

import pytest

from vorn import _vorn_core as m

UNSUPPORTED = "整定不支持当前伪阶数"
INVALID = "整定参数非法"

TUNING_FUNCTIONS = [
    ("pid_to_pfdl", "(kp, ti, td, ts, order=3)", "格式 A：由 PID 参数映射到 PFDL-VORN 伪梯度初值。"),
    ("zn_response_to_pfdl", "(k, tau, time_delay, ts, order=3)",
     "格式 B：Ziegler-Nichols 响应曲线法映射到 PFDL-VORN 伪梯度初值。"),
    ("critical_proportional_to_pfdl", "(ku, tu, ts, order=3)", "格式 C：临界比例度法映射到 PFDL-VORN 伪梯度初值。"),
    ("apply_pfdl_initial_guess", "(controller, psi)", "将伪梯度初值注入 PFDL 控制器。"),
    ("ffdl_zn_tuning", "(controller, k, tau, time_delay, ts)", "间接型 FFDL 的 Z-N 响应曲线法步长因子整定。"),
    ("apply_ffdl_zn_tuning", "(controller, k, tau, time_delay, ts)",
     "将 Z-N 响应曲线法整定的步长因子应用到 FFDL 控制器。"),
    ("ffdl_critical_tuning", "(controller, ku, tu, ts)", "间接型 FFDL 的临界比例度法步长因子整定。"),
    ("apply_ffdl_critical_tuning", "(controller, ku, tu, ts)", "将临界比例度法整定的步长因子应用到 FFDL 控制器。"),
]


def ffdl(l_y=1, **kw):
    return m.FFDLController(l_y=l_y, l_u=1, **kw)


def rho_vector(c):
    return c.__getstate__()["rho_vector"]


@pytest.mark.parametrize("name,signature,body", TUNING_FUNCTIONS)
def test_documentation(name, signature, body):
    f = getattr(m, name)
    assert f.__text_signature__ == signature
    assert f.__doc__ == body
    assert f.__module__ == "vorn._vorn_core"


@pytest.mark.parametrize("call,expected", [
    (lambda: m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5), [-0.5, 1.5, -0.5]),
    (lambda: m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5, 3), [-0.5, 1.5, -0.5]),
    (lambda: m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5, 2), [-0.5, 1.5]),
    (lambda: m.pid_to_pfdl(1, 1, 0.25, 0.5, order=1), [-1.0]),
    (lambda: m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5, order=True), [-1.0]),
    (lambda: m.pid_to_pfdl(1.0, 1.0, 0.0, 0.5), [-0.5, 1.0, -0.0]),
    (lambda: m.pid_to_pfdl(0.0, 1.0, 0.25, 0.5), [-0.0, 0.0, -0.0]),
    (lambda: m.pid_to_pfdl(-1.0, 1.0, 0.25, 0.5), [0.5, -1.5, 0.5]),
    (lambda: m.zn_response_to_pfdl(1.0, 4.0, 2.0, 0.5), [-0.3, 7.199999999999999, -4.8]),
    (lambda: m.zn_response_to_pfdl(k=1.0, tau=4.0, time_delay=2.0, ts=0.5, order=1), [-2.4]),
    (lambda: m.critical_proportional_to_pfdl(2.0, 4.0, 0.5), [-0.3, 2.4, -1.2]),
    (lambda: m.critical_proportional_to_pfdl(2.0, 4.0, 0.5, 2), [-0.3, 2.4]),
])
def test_pfdl_mappings_worked_values(call, expected):
    got = call()
    assert type(got) is list
    assert got == expected
    assert [math.copysign(1, x) for x in got] == [math.copysign(1, x) for x in expected]


@pytest.mark.parametrize("call", [
    lambda o: m.pid_to_pfdl(1.0, 0.0, -1.0, 0.0, o),
    lambda o: m.zn_response_to_pfdl(0.0, -4.0, 0.0, 0.0, o),
    lambda o: m.critical_proportional_to_pfdl(0.0, 0.0, -1.0, o),
])
@pytest.mark.parametrize("order", [0, 4, 2**64 - 1])
def test_order_is_tested_before_the_real_arguments(call, order):
    with pytest.raises(ValueError) as info:
        call(order)
    assert info.value.args == (UNSUPPORTED,)


@pytest.mark.parametrize("call", [
    lambda: m.pid_to_pfdl(1.0, 0.0, 0.25, 0.5),
    lambda: m.pid_to_pfdl(1.0, 0.0, 0.25, 0.5, 1),  # order 1 uses neither ti nor td
    lambda: m.pid_to_pfdl(1.0, 1.0, -0.1, 0.5, 1),
    lambda: m.pid_to_pfdl(1.0, 1.0, 0.25, 0.0),
    lambda: m.pid_to_pfdl(1.0, -1.0, 0.25, 0.5),
    lambda: m.zn_response_to_pfdl(0.0, 4.0, 2.0, 0.5),
    lambda: m.zn_response_to_pfdl(-1.0, 4.0, 2.0, 0.5),
    lambda: m.zn_response_to_pfdl(1.0, 0.0, 2.0, 0.5),
    lambda: m.zn_response_to_pfdl(1.0, 4.0, 0.0, 0.5),
    lambda: m.zn_response_to_pfdl(1.0, 4.0, 2.0, -0.5),
    lambda: m.critical_proportional_to_pfdl(0.0, 4.0, 0.5),
    lambda: m.critical_proportional_to_pfdl(2.0, 0.0, 0.5),
    lambda: m.critical_proportional_to_pfdl(2.0, 4.0, 0.0),
])
def test_invalid_real_arguments(call):
    with pytest.raises(ValueError) as info:
        call()
    assert info.value.args == (INVALID,)


def test_nan_passes_the_tests_and_propagates():
    got = m.pid_to_pfdl(1.0, math.nan, 0.25, 0.5)
    assert math.isnan(got[0]) and got[1:] == [1.5, -0.5]
    assert all(math.isnan(x) for x in m.zn_response_to_pfdl(math.nan, 4.0, 2.0, 0.5))


@pytest.mark.parametrize("kwargs,exc,note", [
    ({"order": -1}, OverflowError, "order"),
    ({"order": 2**64}, OverflowError, "order"),
    ({"order": 2.0}, TypeError, "order"),
    ({"ts": "0.5"}, TypeError, "ts"),
    ({"kp": None}, TypeError, "kp"),
])
def test_conversion_errors_name_the_parameter(kwargs, exc, note):
    args = {"kp": 1.0, "ti": 1.0, "td": 0.25, "ts": 0.5, **kwargs}
    with pytest.raises(exc) as info:
        m.pid_to_pfdl(**args)
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_objects_with_float_and_index_convert():
    class F:
        def __float__(self):
            return 0.5

    class I:
        def __index__(self):
            return 2

    assert m.pid_to_pfdl(1.0, 1.0, 0.25, F(), I()) == [-0.5, 1.5]


@pytest.mark.parametrize("call,message", [
    (lambda: m.pid_to_pfdl(1.0),
     "pid_to_pfdl() missing 3 required positional arguments: 'ti', 'td', and 'ts'"),
    (lambda: m.pid_to_pfdl(1, 2, 3, 4, 5, 6), "pid_to_pfdl() takes from 4 to 5 positional arguments but 6 were given"),
    (lambda: m.critical_proportional_to_pfdl(1, 2, 3, ts=4),
     "critical_proportional_to_pfdl() got multiple values for argument 'ts'"),
    (lambda: m.zn_response_to_pfdl(1, 2, 3, 4, delay=5), "zn_response_to_pfdl() got an unexpected keyword argument 'delay'"),
    (lambda: m.ffdl_critical_tuning(ffdl(), 1, 2, 3, 4),
     "ffdl_critical_tuning() takes 4 positional arguments but 5 were given"),
    (lambda: m.apply_pfdl_initial_guess(psi=[1.0]),
     "apply_pfdl_initial_guess() missing 1 required positional argument: 'controller'"),
])
def test_call_shape_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


# --- apply_pfdl_initial_guess ---

def test_apply_pfdl_initial_guess_writes_estimate_and_reset_value():
    c = m.PFDLController()
    assert m.apply_pfdl_initial_guess(c, [0.3, 0.2]) is None
    assert c.get_phi() == [0.3, 0.2]
    for y in (0.1, 0.4, 0.2):
        c.update(y, 1.0)
    assert c.get_phi() != [0.3, 0.2]
    c.reset()
    assert c.get_phi() == [0.3, 0.2]
    assert c.__getnewargs__()[7] == 0.5  # the scalar initial_phi is untouched


@pytest.mark.parametrize("psi", [(0.0, -1.0), [math.nan, 2.0]])
def test_apply_pfdl_initial_guess_writes_values_unchanged(psi):
    c = m.PFDLController()
    m.apply_pfdl_initial_guess(controller=c, psi=psi)
    assert [repr(x) for x in c.get_phi()] == [repr(float(x)) for x in psi]


@pytest.mark.parametrize("psi", [[0.3, 0.2, 0.1], [0.3], []])
def test_apply_pfdl_initial_guess_wrong_length_changes_nothing(psi):
    c = m.PFDLController()
    c.update(0.1, 1.0)
    before = c.__getstate__()
    with pytest.raises(ValueError) as info:
        m.apply_pfdl_initial_guess(c, psi)
    assert info.value.args == (INVALID,)
    assert c.__getstate__() == before


@pytest.mark.parametrize("psi,message", [
    ("12", "Can't extract `str` to `Vec`"),
    ({1: 1.0, 2: 2.0}, "'dict' object is not an instance of 'Sequence'"),
    (iter([1.0, 2.0]), "'list_iterator' object is not an instance of 'Sequence'"),
    ([1.0, "x"], None),  # the float conversion's own message
])
def test_apply_pfdl_initial_guess_refuses_non_sequences(psi, message):
    c = m.PFDLController()
    with pytest.raises(TypeError) as info:
        m.apply_pfdl_initial_guess(c, psi)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'psi'"]
    assert c.get_phi() == [0.5, 0.5]


# --- the controller argument ---

@pytest.mark.parametrize("name,expected,args", [
    ("apply_pfdl_initial_guess", "PFDLController", ([0.1],)),
    ("ffdl_zn_tuning", "FFDLController", (1.0, 4.0, 2.0, 0.5)),
    ("apply_ffdl_zn_tuning", "FFDLController", (1.0, 4.0, 2.0, 0.5)),
    ("ffdl_critical_tuning", "FFDLController", (2.0, 4.0, 0.5)),
    ("apply_ffdl_critical_tuning", "FFDLController", (2.0, 4.0, 0.5)),
])
def test_controller_of_the_wrong_type(name, expected, args):
    f = getattr(m, name)
    wrong = m.FFDLController() if expected == "PFDLController" else m.PFDLController()
    for obj, text in [
        (wrong, f"'{type(wrong).__name__}' object is not an instance of '{expected}'"),
        (m.CFDLController(), f"'CFDLController' object is not an instance of '{expected}'"),
        (None, f"'None' is not an instance of '{expected}'"),
        (3, f"'int' object is not an instance of '{expected}'"),
    ]:
        with pytest.raises(TypeError) as info:
            f(obj, *args)
        assert str(info.value) == text
        assert info.value.__notes__ == ["while processing 'controller'"]


def test_arguments_convert_in_order_before_any_core_work():
    # A bad controller is reported before a bad real argument that follows it.
    with pytest.raises(TypeError) as info:
        m.ffdl_zn_tuning(None, "k", 4.0, 2.0, 0.5)
    assert info.value.__notes__ == ["while processing 'controller'"]
    with pytest.raises(TypeError) as info:
        m.apply_ffdl_zn_tuning(ffdl(), 1.0, "tau", None, 0.5)
    assert info.value.__notes__ == ["while processing 'tau'"]


# --- FFDL step-factor tuning ---

FFDL_WORKED = [
    # (l_y, constructor keywords, zn arguments, zn result, critical arguments, critical result)
    (1, {}, (1.0, 4.0, 2.0, 0.5), [1.9440000000000002, 0.0405], (2.0, 4.0, 0.5), [0.9720000000000001, 0.07319277108433736]),
    (2, {}, (1.0, 4.0, 2.0, 0.5), [12.96, -10.368, 0.081], (2.0, 4.0, 0.5), [2.592, -1.296, 0.162]),
    (1, {"initial_phi": 1.0, "lambda_": 1.0}, (1.0, 1.0, 1.0, 1.0), [1.8, 0.6], (1.0, 1.0, 1.0),
     [0.9, 1.0843373493975905]),
    (2, {"initial_phi": 1.0, "lambda_": 1.0}, (1.0, 1.0, 1.0, 1.0), [3.5999999999999996, -1.2, 1.2], (1.0, 1.0, 1.0),
     [1.3499999999999999, -0.15, 2.4]),
]


@pytest.mark.parametrize("l_y,kw,zn_args,zn,crit_args,crit", FFDL_WORKED)
def test_ffdl_worked_values_and_apply(l_y, kw, zn_args, zn, crit_args, crit):
    c = ffdl(l_y, **kw)
    before = c.__getstate__()
    assert m.ffdl_zn_tuning(c, *zn_args) == zn
    assert m.ffdl_critical_tuning(c, *crit_args) == crit
    assert c.__getstate__() == before  # the plain forms only read
    assert m.apply_ffdl_zn_tuning(c, *zn_args) is None
    assert rho_vector(c) == zn
    assert m.apply_ffdl_critical_tuning(c, *crit_args) is None
    assert rho_vector(c) == crit
    c.reset()
    assert rho_vector(c) == crit


def test_ffdl_tuning_reads_the_latest_estimate():
    c = ffdl()
    for y in (0.0, 0.1, 0.3):
        c.update(y, 1.0)
    phi0, phi1 = c.get_phi()
    s = phi1 * phi1 + 0.02
    mm = (1.0 * 2.0) / 4.0
    assert m.ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.5) == [(s * 0.9) / ((phi0 * phi1) * mm),
                                                       (s * (0.5 * 0.9)) / ((phi1 * (4.0 * 3.0)) * mm)]


@pytest.mark.parametrize("build", [
    lambda: m.FFDLController(),  # l_y 1, l_u 2
    lambda: m.FFDLController(l_y=0, l_u=1),
    lambda: m.FFDLController(l_y=3, l_u=1),
    lambda: m.FFDLController(l_y=2, l_u=2),
])
@pytest.mark.parametrize("call", [
    lambda c: m.ffdl_zn_tuning(c, 0.0, 0.0, 0.0, 0.0),
    lambda c: m.apply_ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.5),
    lambda c: m.ffdl_critical_tuning(c, -1.0, 0.0, 0.0),
    lambda c: m.apply_ffdl_critical_tuning(c, 2.0, 4.0, 0.5),
])
def test_ffdl_unsupported_orders_come_first(build, call):
    c = build()
    with pytest.raises(ValueError) as info:
        call(c)
    assert info.value.args == (UNSUPPORTED,)
    assert rho_vector(c) is None


@pytest.mark.parametrize("call", [
    lambda c: m.ffdl_zn_tuning(c, 1.0, 0.0, 2.0, 0.5),
    lambda c: m.ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.0),
    lambda c: m.ffdl_zn_tuning(c, -1.0, 4.0, 2.0, 0.5),
    lambda c: m.ffdl_zn_tuning(c, 1.0, 4.0, 0.0, 0.5),
    lambda c: m.ffdl_critical_tuning(c, 0.0, 4.0, 0.5),
    lambda c: m.ffdl_critical_tuning(c, 2.0, -4.0, 0.5),
    lambda c: m.ffdl_critical_tuning(c, 2.0, 4.0, 0.0),
])
def test_ffdl_invalid_arguments(call):
    with pytest.raises(ValueError) as info:
        call(ffdl())
    assert info.value.args == (INVALID,)


@pytest.mark.parametrize("phi", [[0.0, 0.5], [0.5, -0.0], [0.5, 0.5, 0.5]])
def test_ffdl_estimate_with_zero_or_wrong_length(phi):
    c = ffdl()
    c.set_phi_hat(phi)
    for f, args in [(m.ffdl_zn_tuning, (1.0, 4.0, 2.0, 0.5)), (m.ffdl_critical_tuning, (2.0, 4.0, 0.5))]:
        with pytest.raises(ValueError) as info:
            f(c, *args)
        assert info.value.args == (INVALID,)


def test_failed_apply_keeps_the_previous_rho_vector():
    c = ffdl()
    c.set_rho_vector([0.2, 0.3])
    for call in (lambda: m.apply_ffdl_critical_tuning(c, 2.0, 4.0, 0.0),
                 lambda: m.apply_ffdl_zn_tuning(c, 1.0, 0.0, 2.0, 0.5)):
        with pytest.raises(ValueError):
            call()
        assert rho_vector(c) == [0.2, 0.3]
    c.set_phi_hat([0.5, 0.0])
    with pytest.raises(ValueError):
        m.apply_ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.5)
    assert rho_vector(c) == [0.2, 0.3]


def test_ffdl_nan_propagates():
    c = ffdl()
    assert all(math.isnan(x) for x in m.ffdl_zn_tuning(c, math.nan, 4.0, 2.0, 0.5))
    c.set_phi_hat([math.nan, 0.5])
    got = m.ffdl_critical_tuning(c, 2.0, 4.0, 0.5)
    assert math.isnan(got[0]) and not math.isnan(got[1])


# --- access: taken only while the core runs, refused on re-entry ---

class Reenter:
    """A float whose conversion calls `action` and records what it raised."""

    def __init__(self, action, value=0.1):
        self.action, self.value, self.raised = action, value, None

    def __float__(self):
        try:
            self.action()
        except Exception as e:  # noqa: BLE001 - recorded for the test
            self.raised = e
        return self.value


@pytest.mark.parametrize("method,call,message", [
    ("update", lambda c: m.ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.5), "Already mutably borrowed"),
    ("update", lambda c: m.apply_ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.5), "Already borrowed"),
    ("update_logged", lambda c: m.ffdl_critical_tuning(c, 2.0, 4.0, 0.5), "Already mutably borrowed"),
    ("update_logged", lambda c: m.apply_ffdl_critical_tuning(c, 2.0, 4.0, 0.5), "Already borrowed"),
])
def test_reentrant_ffdl_call_is_refused_and_changes_nothing(method, call, message):
    c, twin = ffdl(), ffdl()
    y = Reenter(lambda: call(c))
    getattr(c, method)(y, 1.0)
    getattr(twin, method)(0.1, 1.0)
    assert type(y.raised) is RuntimeError and str(y.raised) == message
    assert c.__getstate__() == twin.__getstate__()
    # The access is free again afterwards.
    m.apply_ffdl_zn_tuning(c, 1.0, 4.0, 2.0, 0.5)
    assert rho_vector(c) is not None


def test_reentrant_pfdl_apply_is_refused_and_changes_nothing():
    c, twin = m.PFDLController(), m.PFDLController()
    y = Reenter(lambda: m.apply_pfdl_initial_guess(c, [0.3, 0.2]))
    c.update(y, 1.0)
    twin.update(0.1, 1.0)
    assert type(y.raised) is RuntimeError and str(y.raised) == "Already borrowed"
    assert c.__getstate__() == twin.__getstate__()


def test_argument_conversion_may_use_the_controller():
    # No access is held while the arguments convert, so their callbacks may call the controller.
    c = ffdl()
    k = Reenter(lambda: c.update(0.2, 1.0), value=1.0)
    got = m.apply_ffdl_zn_tuning(c, k, 4.0, 2.0, 0.5)
    assert got is None and k.raised is None
    assert c.__getstate__()["y_hist"][0] == 0.2

    p = m.PFDLController()
    item = Reenter(lambda: p.set_phi_hat([0.9, 0.9]), value=0.4)
    m.apply_pfdl_initial_guess(p, [item, 0.6])
    assert item.raised is None and p.get_phi() == [0.4, 0.6]


def test_access_is_released_after_a_failure():
    c = ffdl()
    with pytest.raises(ValueError):
        m.apply_ffdl_zn_tuning(c, 0.0, 4.0, 2.0, 0.5)
    with pytest.raises(ValueError):
        m.ffdl_zn_tuning(c, 0.0, 4.0, 2.0, 0.5)
    c.update(0.1, 1.0)
    c.set_rho_vector([1.0, 1.0])

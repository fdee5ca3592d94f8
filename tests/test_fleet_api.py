"""The fleet classes' Python face: construction and its refusals, argument shapes and
dtypes, refusals that leave the fleet unchanged, member access, re-entry and threads."""

import inspect
import pickle
import threading

import pytest

import vorn

np = pytest.importorskip("numpy")

FLEETS = [vorn.CFDLFleet, vorn.PFDLFleet, vorn.FFDLFleet]


def snapshot(fleet):
    return pickle.dumps(fleet.__getstate__())


@pytest.mark.parametrize("cls", FLEETS)
def test_defaults_match_the_classes(cls):
    fleet = cls(3)
    single = {vorn.CFDLFleet: vorn.CFDLController, vorn.PFDLFleet: vorn.PFDLController,
              vorn.FFDLFleet: vorn.FFDLController}[cls]()
    assert repr(fleet[2]) == repr(single)
    assert fleet.get_phi().shape == (3, len(single.get_phi()))
    assert cls.__module__ == "vorn._vorn_fleet" and getattr(vorn, cls.__name__) is cls


@pytest.mark.parametrize("kwargs, message, note", [
    ({"eta": np.array([1.0, 1.0, 3.0, 0.0])}, "eta 必须满足 0 < eta <= 2", "member 2"),
    ({"mu": np.array([1.0, -1.0, 1.0, 1.0]), "eta": 0.0}, "eta 必须满足 0 < eta <= 2", "member 0"),
    ({"u_min": np.array([0.0, 2.0, 0.0, 0.0]), "u_max": 1.0}, "u_min 不能大于 u_max", "member 1"),
    ({"l_y": 1}, "PFDL 要求 l_y == 0 且 l_u >= 1", None),
    ({"l_u": 0, "rho": 5.0}, "rho 必须满足 0 < rho <= 1", "member 0"),
])
def test_every_member_is_validated_in_order(kwargs, message, note):
    with pytest.raises(ValueError) as info:
        vorn.PFDLFleet(4, **kwargs)
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", [None])[-1] == note


@pytest.mark.parametrize("fleet, m", [
    (vorn.CFDLFleet(3), 1), (vorn.PFDLFleet(3, l_u=4), 4), (vorn.FFDLFleet(3, l_y=2, l_u=3), 5),
])
def test_update_logged_returns_every_record_as_arrays(fleet, m):
    u, dy, dh, e, phi = fleet.update_logged(np.array([0.1, 0.2, 0.3]), np.array([1.0, 2.0, 3.0]))
    assert [a.shape for a in (u, dy, dh, e, phi)] == [(3,), (3,), (3, m), (3,), (3, m)]
    assert all(a.dtype == np.float64 for a in (u, dy, dh, e, phi))
    assert np.array_equal(e, [0.9, 1.8, 2.7]) and np.array_equal(phi, fleet.get_phi())


def test_from_controllers_takes_any_iterable_and_the_empty_one():
    fleet = vorn.FFDLFleet.from_controllers(vorn.FFDLController(l_y=0, l_u=1) for _ in range(2))
    assert repr(fleet) == "FFDLFleet(n=2, l_y=0, l_u=1)"
    empty = vorn.PFDLFleet.from_controllers([])
    assert repr(empty) == "PFDLFleet(n=0, l_y=0, l_u=2)" and len(pickle.loads(pickle.dumps(empty))) == 0
    with pytest.raises(TypeError):
        vorn.PFDLFleet.from_controllers(5)


def test_setters_store_unvalidated_values_that_survive_pickling():
    fleet = vorn.PFDLFleet(2)
    fleet.set_eta(np.array([5.0, 1.0]))
    fleet.set_u_min(3.0)
    fleet.set_u_max(np.array([1.0, np.nan]))
    assert "eta=5.0000" in repr(fleet[0])
    assert np.array_equal(fleet.update([0.0, 0.0], 1.0), [1.0, 3.0])  # u_max applies last; NaN as in the classes
    # A member its class would refuse to unpickle is refused by the fleet's unpickling too.
    with pytest.raises(ValueError, match="eta") as info:
        pickle.loads(pickle.dumps(fleet))
    assert info.value.__notes__ == ["member 0"]
    with pytest.raises(ValueError, match="eta"):
        pickle.loads(pickle.dumps(fleet[0]))  # the class validates its constructor arguments
    fleet.set_eta(1.0)
    fleet.set_u_min(None)
    copy = pickle.loads(pickle.dumps(fleet))
    assert repr(copy[1]) == repr(fleet[1]) and snapshot(copy) == snapshot(fleet)


def test_nan_parameters_and_limits_pass_as_in_the_classes():
    fleet = vorn.CFDLFleet(2, eta=np.nan, u_min=np.array([np.nan, 0.5]))
    u = fleet.update([0.0, 0.0], 1.0)
    assert u[0] == vorn.CFDLController(eta=np.nan, u_min=np.nan).update(0.0, 1.0)[0]
    assert u[1] == 0.5
    assert fleet[0].__getnewargs__()[9] != fleet[0].__getnewargs__()[9]  # NaN, not None


def test_empty_and_oversized_fleets():
    empty = vorn.FFDLFleet(0)
    assert len(empty) == 0 and empty.update(np.zeros(0), 1.0).shape == (0,)
    assert empty.get_phi().shape == (0, 3)
    with pytest.raises(OverflowError):
        vorn.PFDLFleet(2**62)
    with pytest.raises(MemoryError):
        vorn.PFDLFleet(2**40)
    with pytest.raises(OverflowError):
        vorn.FFDLFleet(10, l_y=2**63)


@pytest.mark.parametrize("y", [
    np.arange(4, dtype=np.int32), np.arange(4, dtype=np.float32), [0, 1, 2, 3], (0.0, 1.0, 2.0, 3.0),
    np.arange(8.0)[::2] / 2, np.arange(4.0).reshape(4, 1)[:, 0],
])
def test_inputs_of_other_dtypes_and_layouts_convert(y):
    a, b = vorn.PFDLFleet(4), vorn.PFDLFleet(4)
    assert np.array_equal(a.update(y, 1), b.update(np.asarray(y, dtype=np.float64).copy(), 1.0))


@pytest.mark.parametrize("y, yd, error, text", [
    (np.zeros(3), 1.0, ValueError, "y has shape (3,), expected (4,)"),
    (np.zeros((4, 1)), 1.0, ValueError, "y has shape (4, 1), expected (4,)"),
    (np.zeros(4), np.zeros(2), ValueError, "yd has shape (2,), expected (4,) or a scalar"),
    (np.array(["a"] * 4), 1.0, TypeError, "y must hold real numbers"),
    (np.zeros(4, dtype=complex), 1.0, TypeError, "y must hold real numbers"),
    ([None] * 4, 1.0, TypeError, "y must hold real numbers"),
    (np.zeros(4), "1.0", TypeError, "yd must hold real numbers"),
    (np.zeros(4), 1j, TypeError, ""),
    (np.ma.masked_array(np.zeros(4), mask=[0, 1, 0, 0]), 1.0, TypeError, "y is a masked array"),
])
def test_bad_inputs_are_refused_and_change_nothing(y, yd, error, text):
    fleet = vorn.FFDLFleet(4)
    fleet.update(np.ones(4), 2.0)
    before = snapshot(fleet)
    with pytest.raises(error) as info:
        fleet.update(y, yd)
    assert text in str(info.value)
    assert snapshot(fleet) == before


def test_out_is_filled_and_may_alias_the_outputs():
    a, b = vorn.PFDLFleet(5, rho=np.linspace(0.2, 1, 5)), vorn.PFDLFleet(5, rho=np.linspace(0.2, 1, 5))
    y = np.linspace(-1, 1, 5)
    out = np.empty(5)
    assert a.update(y, 1.0, out=out) is out
    assert np.array_equal(out, b.update(y, 1.0))
    shared = y.copy()
    strided = np.zeros(10)[::2]
    a.update(shared, 1.0, out=shared)
    b.update(y, 1.0, out=strided)
    assert np.array_equal(shared, strided)
    backwards, reversed_y = np.zeros(5), y.copy()
    a.update(reversed_y, 1.0, out=reversed_y[::-1])  # an output that overlaps its input backwards
    b.update(y, 1.0, out=backwards[::-1])
    assert np.array_equal(reversed_y, backwards)
    for bad, error in ((np.empty(4), ValueError), (np.empty((5, 1)), ValueError), (np.empty(5, dtype=np.float32), TypeError),
                       ([0.0] * 5, TypeError), (np.empty(5)[::-1].copy().view(np.int64), TypeError)):
        with pytest.raises(error):
            a.update(y, 1.0, out=bad)
    frozen = np.empty(5)
    frozen.flags.writeable = False
    with pytest.raises(TypeError):
        a.update(y, 1.0, out=frozen)


@pytest.mark.parametrize("method, value", [
    ("set_eta", np.ones(3)), ("set_u_min", None), ("set_u_max", np.array([1.0, 2.0, 3.0])),
    ("set_phi_hat", np.ones((3, 3))), ("set_phi_hat", np.ones(3)), ("set_rho_vector", [0.1, 0.2, 0.3]),
    ("set_initial_phi", np.full((3, 3), 0.7)),
])
def test_setters_take_a_scalar_row_or_one_value_per_member(method, value):
    fleet = vorn.FFDLFleet(3)
    getattr(fleet, method)(value)
    singles = [fleet[i] for i in range(3)]
    y = np.array([0.1, 0.2, 0.3])
    assert np.array_equal(fleet.update(y, 1.0), [s.update(float(v), 1.0) for s, v in zip(singles, y)])


PAIRS = [(vorn.CFDLFleet, vorn.CFDLController), (vorn.PFDLFleet, vorn.PFDLController),
         (vorn.FFDLFleet, vorn.FFDLController)]


@pytest.mark.parametrize("fleet_cls, single_cls", PAIRS)
def test_a_fleet_has_the_setters_of_its_class(fleet_cls, single_cls):
    def setters(cls):
        return {name for name in dir(cls) if name.startswith("set_")}
    assert setters(fleet_cls) == setters(single_cls)


@pytest.mark.parametrize("fleet_cls, single_cls", PAIRS)
@pytest.mark.parametrize("setter", ["set_eta", "set_mu", "set_rho", "set_lambda", "set_eps", "set_u0", "set_u_min",
                                    "set_u_max"])
def test_each_setter_changes_its_own_field_of_every_member_as_the_class_does(fleet_cls, single_cls, setter):
    values = [0.25, 3.0, -1.5]
    fleet = fleet_cls(3)
    getattr(fleet, setter)(np.array(values))
    fleet.reset()
    singles = [single_cls() for _ in values]
    for single, value in zip(singles, values):
        getattr(single, setter)(value)
        single.reset()
    assert [fleet[i].__getstate__() for i in range(3)] == [s.__getstate__() for s in singles]
    y = np.array([0.1, -0.2, 0.3])
    for _ in range(3):
        results = [s.update(float(v), 1.0) for s, v in zip(singles, y)]
        expected = [u[0] if isinstance(u, tuple) else u for u in results]  # the compact form returns its record
        assert np.array_equal(fleet.update(y, 1.0), expected, equal_nan=True)


@pytest.mark.parametrize("method, value", [
    ("set_eta", np.ones(2)), ("set_phi_hat", np.ones((3, 2))), ("set_rho_vector", "abc"),
    ("set_initial_phi", np.ones((2, 3))), ("set_u_min", np.array(["x"] * 3)),
])
def test_setters_refuse_wrong_shapes_and_change_nothing(method, value):
    fleet = vorn.FFDLFleet(3)
    before = snapshot(fleet)
    with pytest.raises((ValueError, TypeError)):
        getattr(fleet, method)(value)
    assert snapshot(fleet) == before


def test_indexing_and_conversion_refusals():
    fleet = vorn.PFDLFleet(3)
    assert repr(fleet[-1]) == repr(fleet[2])
    with pytest.raises(IndexError):
        fleet[3]
    with pytest.raises(TypeError):
        vorn.PFDLFleet.from_controllers([vorn.PFDLController(), vorn.FFDLController()])
    with pytest.raises(ValueError, match="l_u"):
        vorn.PFDLFleet.from_controllers([vorn.PFDLController(), vorn.PFDLController(l_u=3)])
    short = vorn.PFDLController()
    short.set_phi_hat([0.5])
    with pytest.raises(ValueError, match="phi_hat has 1 entries, the fleet keeps 2") as info:
        vorn.PFDLFleet.from_controllers([vorn.PFDLController(), short])
    assert info.value.__notes__ == ["controllers[1]"]


def test_full_state_adds_the_reset_value():
    c = vorn.FFDLController()
    c.set_phi_hat([0.1, 0.2, 0.3])
    c.set_initial_phi([0.7, 0.8, 0.9])
    state = vorn._vorn_fleet._full_state(c)
    assert state["phi_reset"] == [0.7, 0.8, 0.9] and state["phi_hat"] == [0.1, 0.2, 0.3]
    assert vorn._vorn_fleet._full_state(vorn.CFDLController(initial_phi=0.25))["phi_reset"] == 0.25
    with pytest.raises(TypeError):
        vorn._vorn_fleet._full_state(vorn.MimoCfdlController(2))


def test_setstate_refuses_a_bad_state_and_changes_nothing():
    fleet = vorn.PFDLFleet(3)
    before = snapshot(fleet)
    state = fleet.__getstate__()
    for key, value in (("u_hist", np.zeros((3, 2))), ("l_y", 1), ("phi_hat", "x")):
        bad = dict(state, **{key: value})
        with pytest.raises((ValueError, TypeError)):
            fleet.__setstate__(bad)
    with pytest.raises(KeyError):
        fleet.__setstate__({k: v for k, v in state.items() if k != "phi_reset"})
    assert snapshot(fleet) == before


class Reentrant:
    """A float whose conversion calls back into the fleet it is given to."""

    def __init__(self, fleet):
        self.fleet, self.error = fleet, None

    def __float__(self):
        try:
            self.fleet.get_phi()
        except RuntimeError as e:
            self.error = str(e)
        return 1.0


def test_reentry_is_refused_like_the_classes():
    fleet = vorn.CFDLFleet(2)
    r = Reentrant(fleet)
    fleet.update([0.0, 0.0], r)
    assert r.error == "Already mutably borrowed"
    fleet.set_eta(r)
    assert r.error == "Already mutably borrowed"


def test_fleets_step_in_parallel_threads():
    n = 1 << 15
    fleets = [vorn.PFDLFleet(n, rho=np.linspace(0.1, 1, n)) for _ in range(2)]
    reference = vorn.PFDLFleet(n, rho=np.linspace(0.1, 1, n))
    y = np.linspace(-1, 1, n)
    expected = [reference.update(y, 1.0).copy() for _ in range(20)]
    results = [[], []]

    def run(k):
        for _ in range(20):
            results[k].append(fleets[k].update(y, 1.0))

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(2):
        assert all(np.array_equal(a, b) for a, b in zip(results[k], expected))


def test_a_busy_fleet_refuses_a_second_thread():
    n = 1 << 16  # large enough that the step runs without the interpreter lock
    fleet = vorn.CFDLFleet(n)
    y = np.zeros(n)
    errors = []
    start = threading.Event()

    def other():
        start.wait()
        for _ in range(200):
            try:
                fleet.update(y, 1.0)
            except RuntimeError as e:
                errors.append(str(e))

    t = threading.Thread(target=other)
    t.start()
    start.set()
    for _ in range(20):
        try:
            fleet.update(y, 1.0)
        except RuntimeError as e:
            errors.append(str(e))
    t.join()
    assert set(errors) <= {"Already borrowed"}


# --- refusals found by hostile input ------------------------------------------------------

@pytest.mark.parametrize("make", [
    lambda: vorn.PFDLFleet(0, l_u=2**60),
    lambda: vorn.FFDLFleet(0, l_y=2**59, l_u=2**59),
    lambda: vorn.PFDLFleet(0, l_u=2**40),
    lambda: vorn.FFDLFleet(0, l_y=2**40),
    lambda: vorn.PFDLFleet.from_controllers([]).__setstate__(dict(vorn.PFDLFleet(0).__getstate__(), l_u=2**60)),
    lambda: vorn.FFDLFleet(0).__setstate__(dict(vorn.FFDLFleet(0).__getstate__(), l_y=2**41)),
], ids=["pfdl overflow", "ffdl overflow", "pfdl memory", "ffdl memory", "pfdl setstate", "ffdl setstate"])
def test_orders_are_bounded_by_themselves_in_an_empty_fleet(make):
    """Zero members do not make any pseudo-order acceptable: one member's storage is checked."""
    with pytest.raises((OverflowError, MemoryError)) as fleet_error:
        make()
    single = {OverflowError: {"l_u": 2**60}, MemoryError: {"l_u": 2**40}}[type(fleet_error.value)]
    with pytest.raises(type(fleet_error.value)):
        vorn.PFDLController(**single)


INVALID_MEMBER_FIELDS = [("eta", 5.0), ("mu", -1.0), ("rho", 0.0), ("lambda", -1.0), ("eps", -1.0)]


@pytest.mark.parametrize("cls", FLEETS)
@pytest.mark.parametrize("key, value", INVALID_MEMBER_FIELDS + [("limits", None)])
def test_setstate_judges_every_member_as_its_class_unpickles(cls, key, value):
    fleet = cls(3)
    before = snapshot(fleet)
    state = fleet.__getstate__()
    if key == "limits":
        state.update(u_min=np.array([0.0, 2.0, 0.0]), has_u_min=np.ones(3, bool),
                     u_max=np.array([1.0, 1.0, 1.0]), has_u_max=np.ones(3, bool))
    else:
        state[key] = np.array([1.0 if key == "eta" else state[key][0], state[key][1], value])
    member = 1 if key == "limits" else 2
    with pytest.raises(ValueError) as info:
        fleet.__setstate__(state)
    assert info.value.__notes__ == [f"member {member}"]
    assert snapshot(fleet) == before
    # The message is the one the class gives for that member's values.
    single_cls = type(fleet[0])
    kwargs = dict(zip(inspect.signature(single_cls).parameters, fleet[0].__getnewargs__()))
    if key == "limits":
        kwargs.update(u_min=2.0, u_max=1.0)
    else:
        kwargs["lambda_" if key == "lambda" else key] = value
    with pytest.raises(ValueError) as single_info:
        single_cls(**kwargs)
    assert str(info.value) == str(single_info.value)


WRONG_DIMENSIONS = {
    "update y": lambda f: f.update(np.zeros((3, 1, 1)), 1.0),
    "update yd": lambda f: f.update(np.zeros(3), np.zeros((3, 1, 1))),
    "update_logged y": lambda f: f.update_logged(np.zeros((1, 3, 1)), 1.0),
    "set_phi_hat": lambda f: f.set_phi_hat(np.zeros((3, 2, 1))),
    "set_eta": lambda f: f.set_eta(np.zeros((3, 1, 1))),
    "set_initial_phi": lambda f: f.set_initial_phi(np.ones((3, 2, 1))),
    "int y": lambda f: f.update(np.zeros((3, 1, 1), dtype=np.int64), 1.0),
}


@pytest.mark.parametrize("call", WRONG_DIMENSIONS.values(), ids=WRONG_DIMENSIONS.keys())
def test_float64_arrays_of_the_wrong_dimensions_name_their_shape(call):
    fleet = vorn.PFDLFleet(3)
    before = snapshot(fleet)
    with pytest.raises(ValueError, match=r"has shape \((3, 1, 1|1, 3, 1|3, 2, 1)\), expected"):
        call(fleet)
    assert snapshot(fleet) == before

"""_vorn_fleet._forms(): the form descriptors agree with the classes they describe: names,
constructor arguments and defaults, the pseudo-order rule and its message, and the state
table with the classes' pickled state and the fleets' arrays."""

import inspect
import pickle

import pytest

import vorn
from vorn import _vorn_core, _vorn_fleet

FORMS = _vorn_fleet._forms()
SISO = [f for f in FORMS if not f["mimo"]]
IDS = [f["single_class"] for f in FORMS]


def test_six_forms_siso_first():
    assert [(f["form"], f["mimo"]) for f in FORMS] == [
        ("cfdl", False), ("pfdl", False), ("ffdl", False), ("cfdl", True), ("pfdl", True), ("ffdl", True)]


@pytest.mark.parametrize("form", FORMS, ids=IDS)
def test_names_arguments_and_defaults_are_the_classes(form):
    cls = getattr(_vorn_core, form["single_class"])
    parameters = inspect.signature(cls).parameters
    assert tuple(parameters) == form["parameters"]
    assert (parameters["l_y"].default, parameters["l_u"].default) == form["default_orders"]
    assert form["text"] in {"compact-form", "partial-form", "full-form"}
    if form["mimo"]:
        assert not any(row["pickled"] for row in form["state"])
    fleet = getattr(_vorn_fleet, form["fleet_class"])
    assert tuple(inspect.signature(fleet).parameters) == ("n", *form["parameters"])
    assert form["text"] in fleet.__doc__


@pytest.mark.parametrize("form", FORMS, ids=IDS)
@pytest.mark.parametrize("orders", [(0, 0), (0, 1), (0, 3), (2, 0), (2, 3)])
def test_the_rule_and_its_message_are_what_construction_checks(form, orders):
    l_y, l_u = orders
    rule = {"l_y == 0": l_y == 0, "l_u == 1": l_u == 1, "l_u >= 1": l_u >= 1}
    fits = all(rule[term] for term in form["order_rule"])
    args = {"dim": 2} if form["mimo"] else {}
    make = lambda: getattr(_vorn_core, form["single_class"])(l_y=l_y, l_u=l_u, **args)  # noqa: E731
    if fits:
        make()
    else:
        with pytest.raises(ValueError, match=f"^{form['order_message']}$"):
            make()


LENGTHS = {"1": lambda l_y, l_u: None, "l_y + 1": lambda l_y, l_u: l_y + 1, "l_u + 1": lambda l_y, l_u: l_u + 1,
           "l_u": lambda l_y, l_u: l_u, "l_y + l_u": lambda l_y, l_u: l_y + l_u}


@pytest.mark.parametrize("form", SISO, ids=[f["single_class"] for f in SISO])
def test_state_table_is_the_pickled_state(form):
    l_y, l_u = (0, 1) if form["form"] == "cfdl" else (2 if form["form"] == "ffdl" else 0, 3)
    c = getattr(_vorn_core, form["single_class"])(l_y=l_y, l_u=l_u)
    if hasattr(c, "set_rho_vector"):
        c.set_rho_vector([0.5] * (l_y + l_u))
    state = c.__getstate__()
    pickled = [row for row in form["state"] if row["pickled"]]
    assert list(state)[-len(pickled):] == [row["key"] for row in pickled]
    full = _vorn_fleet._full_state(c)
    for row in form["state"]:
        length = LENGTHS[row["length"]](l_y, l_u)
        value = full[row["key"]]
        assert (isinstance(value, float) if length is None else len(value) == length), row
    assert pickle.loads(pickle.dumps(c)).__getstate__() == state


@pytest.mark.parametrize("form", SISO, ids=[f["single_class"] for f in SISO])
def test_state_table_is_the_fleet_state(form):
    pytest.importorskip("numpy")
    fleet = getattr(_vorn_fleet, form["fleet_class"])(3)
    state = fleet.__getstate__()
    table = [row["key"] for row in form["state"]]
    flags = {row["key"]: "has_" + row["key"] for row in form["state"] if row["optional"]}
    expected = [k for key in table for k in (key, flags.get(key)) if k]
    assert [k for k in state if k in set(expected)] == expected
    l_y, l_u = form["default_orders"]
    for row in form["state"]:
        length = LENGTHS[row["length"]](l_y, l_u)
        assert state[row["key"]].shape == ((3,) if length is None else (3, length))
    copy = type(fleet)(3)
    copy.__setstate__(state)
    assert pickle.dumps(copy.__getstate__()) == pickle.dumps(state)

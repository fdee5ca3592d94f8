"""The extension modules' Python face, frozen: members and __all__, every docstring and text
signature, reprs, __getstate__ dictionaries with their key order, pickles of every protocol,
and the messages of the refused constructions, compared entry by entry with the record in
tests/data/core_surface.json. Rewrite the record (VORN_WRITE_SURFACE=1) only for a change of
the surface that is meant."""

import json
import os
import pickle
from pathlib import Path

import pytest

from vorn import _vorn_core as core

RECORD = Path(__file__).parent / "data" / "core_surface.json"

SISO = ["CFDLController", "PFDLController", "FFDLController"]
MIMO = ["MimoCfdlController", "MimoPfdlController", "MimoFfdlController"]
FLEETS = ["CFDLFleet", "PFDLFleet", "FFDLFleet"]

# Constructions of each SISO class: the defaults and non-default pseudo-orders and limits.
SISO_ARGS = {
    "CFDLController": [{}, {"eta": 0.7, "u_min": -1.0, "u_max": 2.5, "initial_phi": 1.25}],
    "PFDLController": [{}, {"l_u": 4, "rho": 0.3, "u_max": 3.0}],
    "FFDLController": [{}, {"l_y": 3, "l_u": 2, "lambda_": 0.5, "u_min": -2.0}],
}

# Constructions that fail, with their exception type and message.
REFUSED = {
    "CFDLController": [{"l_u": 2}, {"l_y": 1}, {"eta": 3.0}, {"u_min": 2.0, "u_max": 1.0}, {"l_u": 2**64}],
    "PFDLController": [{"l_u": 0}, {"l_y": 1}, {"rho": 0.0}, {"l_u": 2**62}],
    "FFDLController": [{"l_u": 0}, {"mu": -1.0}, {"l_y": 2**62}],
    "MimoCfdlController": [{"dim": 2, "l_u": 2}, {"dim": 2, "m_upper": 0.0}],
    "MimoPfdlController": [{"dim": 2, "l_u": 0}, {"dim": 2, "m_lower": 2e6}],
    "MimoFfdlController": [{"dim": 2, "l_u": 0}, {"dim": 2, "eps": 0.0}],
}

SAMPLES = [(0.1, 1.0), (0.35, 1.0), (0.7, 1.2), (0.95, 1.2), (1.1, 0.8)]


def describe(obj):
    """Docstring and text signature of `obj` and of each attribute it defines itself."""
    entry = {"doc": getattr(obj, "__doc__", None), "text_signature": getattr(obj, "__text_signature__", None)}
    if isinstance(obj, type):
        entry["module"] = obj.__module__
        entry["attributes"] = {
            name: {"doc": getattr(value, "__doc__", None),
                   "text_signature": getattr(value, "__text_signature__", None)}
            # __doc__ is the entry's own "doc"; as an attribute it is a str, whose docstring
            # (str's, which differs between interpreters) says nothing of the class.
            for name, value in vars(obj).items() if name not in ("__module__", "__new__", "__doc__")
        }
    return entry


def stepped(cls_name, kwargs):
    c = getattr(core, cls_name)(**kwargs)
    if "dim" in kwargs:
        return c, [repr(c.update([y, 0.5 * y], [yd, yd])) for y, yd in SAMPLES]
    method = c.update_logged if hasattr(c, "update_logged") else c.update
    return c, [repr(method(y, yd)) for y, yd in SAMPLES]


def refusal(make):
    try:
        make()
    except Exception as error:  # the record keeps the type and the text of any refusal
        return [type(error).__name__, str(error), list(getattr(error, "__notes__", []))]
    return None


def siso_record(cls_name):
    record = []
    for kwargs in SISO_ARGS[cls_name]:
        fresh = getattr(core, cls_name)(**kwargs)
        c, steps = stepped(cls_name, kwargs)
        record.append({
            "args": repr(kwargs),
            "repr": repr(fresh),
            "newargs": repr(c.__getnewargs__()),
            "fresh_state": repr(fresh.__getstate__()),
            "state": repr(c.__getstate__()),
            "state_keys": list(c.__getstate__()),
            "steps": steps,
            "phi": repr(c.get_phi()),
            "pickles": [refusal(lambda p=protocol: pickle.dumps(c, p)) or pickle.dumps(c, protocol).hex()
                        for protocol in range(pickle.HIGHEST_PROTOCOL + 1)],
            "round_trip": repr(pickle.loads(pickle.dumps(c)).__getstate__()),
        })
    return record


def mimo_record(cls_name):
    c, steps = stepped(cls_name, {"dim": 2})
    return {"repr": repr(c), "steps": steps, "phi": repr(c.get_phi()),
            "pickle": refusal(lambda: pickle.dumps(c))}


def fleet_record(cls_name):
    from vorn import _vorn_fleet as fleet_module

    cls = getattr(fleet_module, cls_name)
    single = getattr(core, cls_name.replace("Fleet", "Controller"))
    fleet = cls.from_controllers(single(**kwargs) for kwargs in SISO_ARGS[single.__name__][1:] * 2)
    for y, yd in SAMPLES:
        fleet.update([y, y + 0.5], yd)
    state = fleet.__getstate__()
    return {
        "describe": describe(cls),
        "repr": repr(fleet),
        "state_keys": list(state),
        "state": {key: repr(value.tolist() if hasattr(value, "tolist") else value) for key, value in state.items()},
        "full_state": repr(fleet_module._full_state(fleet[1])),
    }


def surface():
    members = [name for name in vars(core) if not name.startswith("__")]
    return {
        "all": list(core.__all__),
        "members": members,
        "module_doc": core.__doc__,
        "describe": {name: describe(getattr(core, name)) for name in core.__all__},
        "siso": {name: siso_record(name) for name in SISO},
        "mimo": {name: mimo_record(name) for name in MIMO},
        "refused": {name: [refusal(lambda k=kwargs: getattr(core, name)(**k)) for kwargs in cases]
                    for name, cases in REFUSED.items()},
        "fleets": {name: fleet_record(name) for name in FLEETS},
    }


@pytest.fixture(scope="module")
def recorded():
    if os.environ.get("VORN_WRITE_SURFACE") == "1":
        RECORD.parent.mkdir(exist_ok=True)
        temporary = RECORD.with_suffix(".tmp")
        temporary.write_text(json.dumps(surface(), ensure_ascii=False, indent=1) + "\n", encoding="utf-8")
        temporary.replace(RECORD)
    return json.loads(RECORD.read_text(encoding="utf-8"))


@pytest.fixture(scope="module")
def current():
    return json.loads(json.dumps(surface(), ensure_ascii=False))


@pytest.mark.parametrize("section", ["all", "members", "module_doc", "describe", "siso", "mimo", "refused", "fleets"])
def test_surface_is_as_recorded(recorded, current, section):
    if isinstance(recorded[section], dict):
        assert list(current[section]) == list(recorded[section])
        for name in recorded[section]:
            assert current[section][name] == recorded[section][name], name
    else:
        assert current[section] == recorded[section]

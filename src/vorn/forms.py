"""forms.py: the one registry of controller forms: for each form its short name, its single
class and fleet class, its constructor's parameters in order, the keys of its state, its
default pseudo-orders and the orders it fixes, and the words that name it.

    FORMS                 the SISO forms' names in order: ("cfdl", "pfdl", "ffdl")
    SISO, MIMO            {name: Form}
    form(name, mimo=False) -> Form        a form by name; ValueError naming the choices
    form_of(controller) -> Form | None    the form of a controller instance
    PARAMETERS            the SISO constructors' keywords, in the order of `__getnewargs__`
    FILE_KEYS             the same parameters as a configuration file names them (L_y, L_u)

What the extension modules can tell is read from them: the parameters from the classes' text
signatures, the state keys from a fresh instance's `__getstate__()`, the default orders from
its `__getnewargs__()`, the orders a form fixes from the loader's own judgement of a record
(`vorn._vorn_config.refusal`), and all of it from the core's form descriptors when the fleet
module lists them (`vorn._vorn_fleet._forms()`).
"""

from __future__ import annotations

import inspect
from dataclasses import dataclass
from typing import Any, Mapping

import vorn._vorn_config as _vorn_config
import vorn._vorn_core as core

try:
    import vorn._vorn_fleet as _fleet
except ImportError:  # a build without fleets
    _fleet = None  # type: ignore[assignment]

__all__ = ["Form", "FORMS", "SISO", "MIMO", "PARAMETERS", "FILE_KEYS", "ORDERS", "form", "form_of",
           "file_key"]

# The pseudo-orders: the output's, then the input's.
ORDERS = ("l_y", "l_u")


@dataclass(frozen=True)
class Form:
    """One controller form, SISO or MIMO.

    name            short name: "cfdl", "pfdl" or "ffdl"
    mimo            whether its controllers have several inputs and outputs
    single          the controller class
    fleet           the fleet class (None for MIMO and for a build without fleets)
    parameters      the constructor's keywords in order (`dim` first for MIMO)
    state_keys      the keys of `__getstate__()` (empty for MIMO, which does not pickle)
    default_orders  {"l_y": ..., "l_u": ...} of a controller built without them
    fixed_orders    the orders the form allows one value of ({"l_y": 0} for pfdl)
    title           the words that name it: "compact-form (CFDL)"
    """

    name: str
    mimo: bool
    single: type
    fleet: type | None
    parameters: tuple[str, ...]
    state_keys: tuple[str, ...]
    default_orders: Mapping[str, int]
    fixed_orders: Mapping[str, int]
    title: str

    @property
    def label(self) -> str:
        """The form's capitals: "CFDL"."""
        return self.name.upper()


_WORDS = {"cfdl": "compact-form", "pfdl": "partial-form", "ffdl": "full-form"}
_SINGLE = {
    (False, "cfdl"): core.CFDLController,
    (False, "pfdl"): core.PFDLController,
    (False, "ffdl"): core.FFDLController,
    (True, "cfdl"): core.MimoCfdlController,
    (True, "pfdl"): core.MimoPfdlController,
    (True, "ffdl"): core.MimoFfdlController,
}


def _parameters(cls: type) -> tuple[str, ...]:
    """The constructor's keywords, from the class's text signature."""
    return tuple(name for name in inspect.signature(cls).parameters if name not in ("self", "cls"))


def _descriptors() -> dict[tuple[bool, str], Mapping[str, Any]]:
    """The core's form descriptors, by (mimo, name), when the fleet module lists them."""
    listing = getattr(_fleet, "_forms", None)
    if not callable(listing):
        return {}
    out: dict[tuple[bool, str], Mapping[str, Any]] = {}
    for entry in listing():
        if isinstance(entry, Mapping) and isinstance(entry.get("name"), str):
            out[(bool(entry.get("mimo", False)), entry["name"])] = entry
    return out


def _fixed_orders(name: str, args: tuple[Any, ...], parameters: tuple[str, ...]) -> dict[str, int]:
    """The orders the loader refuses to move one up from the defaults: fixed by the form."""
    fixed = {}
    for order in ORDERS:
        index = parameters.index(order)
        moved = args[:index] + (args[index] + 1,) + args[index + 1:]
        if isinstance(_vorn_config.refusal(name, moved), ValueError):
            fixed[order] = int(args[index])
    return fixed


def _build(mimo: bool, name: str, descriptor: Mapping[str, Any], siso: Mapping[str, Form]) -> Form:
    cls = _SINGLE[(mimo, name)]
    parameters = tuple(descriptor.get("parameters", ())) or _parameters(cls)
    title = f"{_WORDS[name]} ({name.upper()})"
    fleet = None if mimo or _fleet is None else getattr(_fleet, f"{name.upper()}Fleet", None)
    if mimo:
        signature = inspect.signature(cls).parameters
        defaults = {k: int(signature[k].default) for k in ORDERS if k in signature}
        # The pseudo-order rule is the SISO form's of the same name.
        fixed = dict(siso[name].fixed_orders)
        return Form(name, True, cls, None, parameters, (), defaults, dict(descriptor.get("fixed_orders", fixed)),
                    title)
    fresh = cls()
    args = tuple(fresh.__getnewargs__())
    defaults = {k: int(args[parameters.index(k)]) for k in ORDERS}
    state = tuple(descriptor.get("state", ())) or tuple(fresh.__getstate__())
    fixed = dict(descriptor.get("fixed_orders", {})) or _fixed_orders(name, args, parameters)
    return Form(name, False, cls, fleet, parameters, state, dict(descriptor.get("default_orders", defaults)),
                fixed, title)


def _registry() -> tuple[dict[str, Form], dict[str, Form]]:
    descriptors = _descriptors()
    siso: dict[str, Form] = {}
    mimo: dict[str, Form] = {}
    for (is_mimo, name) in sorted(_SINGLE, key=lambda key: key[0]):  # SISO first: MIMO reads its rule
        table = mimo if is_mimo else siso
        table[name] = _build(is_mimo, name, descriptors.get((is_mimo, name), {}), siso)
    return siso, mimo


_TABLES = _registry()
SISO: dict[str, Form] = _TABLES[0]
MIMO: dict[str, Form] = _TABLES[1]
FORMS: tuple[str, ...] = tuple(SISO)
# Every SISO class takes the same parameters in the same order.
PARAMETERS: tuple[str, ...] = SISO[FORMS[0]].parameters
assert all(f.parameters == PARAMETERS for f in SISO.values()), "the SISO classes disagree on their parameters"


def file_key(keyword: str) -> str:
    """The configuration file's key of a constructor keyword (`l_u` → `L_u`)."""
    return "L" + keyword[1:] if keyword in ORDERS else keyword


FILE_KEYS: tuple[str, ...] = tuple(file_key(k) for k in PARAMETERS)


def form(name: str, mimo: bool = False) -> Form:
    """The form called `name`; ValueError naming the choices for any other name."""
    table = MIMO if mimo else SISO
    if name not in table:
        raise ValueError(f"unknown form {name!r}: expected one of {', '.join(table)}")
    return table[name]


def form_of(controller: object) -> Form | None:
    """The form of a controller instance (single, MIMO or fleet), or None."""
    for f in (*SISO.values(), *MIMO.values()):
        if type(controller) is f.single or (f.fleet is not None and type(controller) is f.fleet):
            return f
    return None

"""forms.py: the one registry of controller forms, read from the core's form descriptors
(`vorn._vorn_fleet._forms()`): for each form its short name, its single class and fleet
class, its constructor's parameters in order, its state rows, its default pseudo-orders and
the orders its rule fixes, and the words that name it.

    FORMS                 the SISO forms' names in order: ("cfdl", "pfdl", "ffdl")
    SISO, MIMO            {name: Form}
    form(name, mimo=False) -> Form        a form by name; ValueError naming the choices
    form_of(controller) -> Form | None    the form of a controller instance
    PARAMETERS            the SISO constructors' keywords, in the order of `__getnewargs__`
    FILE_KEYS             the same parameters as a configuration file names them (L_y, L_u)
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Any, Mapping

import vorn._vorn_core as core
import vorn._vorn_fleet as _fleet

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
    fleet           the fleet class (None where the form has none)
    parameters      the constructor's keywords in order (`dim` first for MIMO)
    state_keys      the keys of its pickled state rows, which follow the parameters' keys in
                    `__getstate__()` (empty for MIMO, which does not pickle)
    default_orders  {"l_y": ..., "l_u": ...} of a controller built without them
    fixed_orders    the orders the form allows one value of ({"l_y": 0} for pfdl)
    title           the words that name it: "compact-form (CFDL)"
    order_rule      the pseudo-order rule's terms ("l_y == 0", "l_u >= 1")
    order_message   the message of a construction that breaks the rule
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
    order_rule: tuple[str, ...] = ()
    order_message: str = ""

    @property
    def label(self) -> str:
        """The form's capitals: "CFDL"."""
        return self.name.upper()


_FIXED = re.compile(r"(l_y|l_u) == (\d+)")


def _build(d: Mapping[str, Any]) -> Form:
    rule = tuple(d["order_rule"])
    fixed = {m.group(1): int(m.group(2)) for m in map(_FIXED.fullmatch, rule) if m}
    fleet = getattr(_fleet, d["fleet_class"]) if d["fleet_class"] else None
    return Form(
        name=d["form"], mimo=bool(d["mimo"]), single=getattr(core, d["single_class"]), fleet=fleet,
        parameters=tuple(d["parameters"]),
        state_keys=tuple(row["key"] for row in d["state"] if row["pickled"]),
        default_orders=dict(zip(ORDERS, d["default_orders"])), fixed_orders=fixed,
        title=f"{d['text']} ({d['form'].upper()})", order_rule=rule, order_message=d["order_message"])


_ALL = [_build(d) for d in _fleet._forms()]
SISO: dict[str, Form] = {f.name: f for f in _ALL if not f.mimo}
MIMO: dict[str, Form] = {f.name: f for f in _ALL if f.mimo}
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

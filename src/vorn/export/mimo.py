"""mimo.py: writes a MIMO controller as dependency-free C99 that computes the same doubles.

`render(controller, name)` gives the texts of `NAME.h` and `NAME.c`: a struct `NAME_t` of
fixed-size arrays (the layers, the increment histories, y(k-1), u(k-1) and the update's
scratch), `NAME_init` (the controller as it stands now), `NAME_update`, `NAME_reset` and the
class's setters. The state is read through a one-member fleet, whose pickle state carries
everything a step hands to the next. Every formula `NAME.c` applies is the core's own, from
`mimo_step.h`, whose text it carries as it is.
"""

from __future__ import annotations

import math
from string import Template
from typing import Any, cast

import numpy as np

from vorn.export.text import BITS_HELPER, Field, array, init_lines, scalar, state_size, struct_lines, template
from vorn.forms import MIMO

FORMULAS_FILE = "mimo_step.h"
TEMPLATES = ("mimo.h.in", "mimo.c.in")

# The real parameters, in the order of the struct, with what each is for.
_PARAMETERS = {
    "eta": "step factor of the estimate",
    "mu": "regularising weight of the estimate",
    "rho": "step factor of the control law",
    "lambda": "weight of the lead layer's norm in the control law",
    "eps": "threshold of the estimate and of the reset rules",
    "initial_phi": "the initial matrix is initial_phi * I",
    "u0": "input u(k-1) restarts from at reset",
    "m_upper": "upper bound of a layer's Frobenius norm",
    "m_lower": "lower bound of a layer's Frobenius norm",
}

# The closed forms up to 3 x 3, the LU on a copy in the state above.
_SMALL_DETERMINANT = """
static double ${P}_determinant(${P}_t *c, const double *a)
{
    (void)c;
    return vorn_mimo_small_determinant(a, ${P_UP}_DIM);
}
"""
_LU_DETERMINANT = """
static double ${P}_determinant(${P}_t *c, const double *a)
{
    size_t k;
    for (k = 0; k < ${P_UP}_CELLS; ++k) {
        c->lu[k] = a[k];
    }
    return vorn_mimo_lu_determinant(c->lu, ${P_UP}_DIM);
}
"""
_RESET_RULES = """
/* The compact form's reset rules: small increment, bound, determinant sign. */
static void ${P}_reset_rules(${P}_t *c)
{
    if (vorn_mimo_increment_vanishes(vorn_mimo_squared_norm(c->du, ${P_UP}_DIM), c->eps) != 0) {
        ${P}_restore_layer(c, 0U);
    } else {
        ${P}_bound(c, 0U, c->lead_norm2);
        if (vorn_mimo_sign_rule_applies(c->det0, c->eps) != 0) {
            if (vorn_mimo_sign_changes(${P}_determinant(c, c->layers), c->det0) != 0) {
                ${P}_restore_layer(c, 0U);
            }
        }
    }
}
"""
_LAYER_ORDERS = {
    "cfdl": "the one layer",
    "pfdl": "phi_hat[0] ... phi_hat[l_u-1]",
    "ffdl": "the l_y output layers, then the l_u input layers",
}
# The most stack NAME_update needs, whatever the dimension: each function holds a handful of
# scalars and pointers, none an array, none recurses. The frames of the update and of every
# function it may call sum to 1304 bytes at -O0 (gcc -fstack-usage, x86-64, where the
# formulas stay out of line), far less at -O2; the deepest chain of calls holds less than
# that sum. tests/test_export_mimo.py checks the sum against this bound.
UPDATE_STACK_BYTES = 1536


def formula_text() -> str:
    return template(FORMULAS_FILE)


def full_state(controller: Any) -> dict[str, Any]:
    """The controller's whole state, member 0 of a one-member fleet made from it."""
    form = MIMO[form_name(controller)]
    assert form.fleet is not None
    state: dict[str, Any] = cast(Any, form.fleet).from_controllers([controller]).__getstate__()
    return state


def form_name(controller: Any) -> str:
    for name, form in MIMO.items():
        if type(controller) is form.single:
            return name
    raise TypeError(f"not a MIMO controller: {type(controller).__name__}")


def _row(state: dict[str, Any], key: str) -> list[float]:
    return [float(v) for v in np.asarray(state[key], dtype=float)[0].reshape(-1)]


def _fields(form: str, state: dict[str, Any], dim: int, layers: int) -> list[Field]:
    first = {key: float(np.asarray(state[key], dtype=float)[0]) for key in _PARAMETERS}
    fields = [scalar(key, first[key], comment) for key, comment in _PARAMETERS.items()]
    fields += [
        scalar("lead_norm2", float(np.asarray(state["lead_norm2"], dtype=float)[0]),
               "squared Frobenius norm of the lead layer, kept as it changes"),
        scalar("initial_norm2", 0.0, "squared Frobenius norm of the initial matrix (formed by init)"),
        scalar("det0", 0.0, "determinant of the initial matrix (formed by init; compact form)"),
        array("layers", ("PHI_ENTRIES", 0), _row(state, "layers"), "the layers, in a row"),
        array("initial", ("CELLS", 0), [0.0] * (dim * dim), "initial_phi * I (formed by init)"),
        array("hist", ("HISTORY", 0), _row(state, "increments"), "increment of each layer's pair, newest first"),
        array("y_prev", ("DIM", 0), _row(state, "y_prev"), "y(k-1)"),
        array("u_prev", ("DIM", 0), _row(state, "u_prev"), "u(k-1)"),
    ]
    zeros = [0.0] * dim
    scratch = [("dy", "the output increment"), ("w", "the error, then the error less the feed-forward sum"),
               ("acc", "the feed-forward sum, then the prediction, then the residual"),
               ("du", "the input increment"), ("col", "column sums of a Frobenius norm")]
    fields += [array(key, ("DIM", 0), zeros, f"scratch: {what}") for key, what in scratch]
    fields.append(array("pred", ("HISTORY", 0), [0.0] * (layers * dim), "scratch: each layer's prediction term"))
    if form == "cfdl" and dim >= 4:
        fields.append(array("lu", ("CELLS", 0), [0.0] * (dim * dim), "scratch: the determinant's LU copy"))
    return fields


def render(controller: Any, name: str) -> tuple[str, str]:
    """The texts of `NAME.h` and `NAME.c` for the MIMO `controller`; `name` is checked."""
    from vorn._version import __version__

    form = form_name(controller)
    state = full_state(controller)
    dim, l_y, l_u = int(state["dim"]), int(state["l_y"]), int(state["l_u"])
    if dim == 0:
        raise ValueError("a MIMO controller of dim 0 computes nothing: there is no C to write for it")
    layers = {"cfdl": 1, "pfdl": l_u, "ffdl": l_y + l_u}[form]
    outputs = l_y if form == "ffdl" else 0
    fields = _fields(form, state, dim, layers)
    macro = name.upper()
    doubles, _, size = state_size(fields)
    names = {"P": name, "P_UP": macro}
    init, tables = init_lines(fields, name, macro, index="size_t")
    nonfinite = any(not math.isfinite(v) for f in fields for v in (f.value if f.length else [f.value]))
    compact = form == "cfdl"
    determinant = _LU_DETERMINANT if dim >= 4 else _SMALL_DETERMINANT
    values = {
        **names,
        "TITLE": MIMO[form].title, "VERSION": __version__, "CLASS": type(controller).__name__,
        "DOUBLES": doubles, "BYTES": size, "GUARD": f"{macro}_H",
        "DIM": dim, "LAYERS": layers, "OUTPUT_LAYERS": outputs, "CELLS": dim * dim,
        "PHI_ENTRIES": layers * dim * dim, "HISTORY": layers * dim, "LEAD": f"{outputs}U",
        "INPUT_LAYERS": layers - outputs,
        "SHIFT_OUTPUTS": f"    {name}_shift(c, 0U, {macro}_OUTPUT_LAYERS, c->dy);\n" if outputs else "",
        "LAYER_ORDER": _LAYER_ORDERS[form],
        "FIELDS": "".join(struct_lines(fields, macro)), "STACK": UPDATE_STACK_BYTES,
        "BITS": Template(BITS_HELPER).substitute(names) if nonfinite else "",
        "INIT": "".join(init), "TABLES": "".join(tables), "FORMULAS": formula_text(),
        "DETERMINANT": Template(determinant).substitute(names) if compact else "",
        "DET0": f"    c->det0 = {name}_determinant(c, c->initial);\n" if compact else "",
        "AFTER_CORRECTION": ("            c->lead_norm2 = n2; /* the reset rules bound the layer */\n" if compact
                             else f"            {name}_bound(c, m, n2);\n"),
        "RESET_RULES": Template(_RESET_RULES).substitute(names) if compact else "",
        "CALL_RESET_RULES": f"    {name}_reset_rules(c);\n" if compact else "",
    }
    header = Template(template("mimo.h.in")).substitute(values)
    source = Template(template("mimo.c.in")).substitute(values)
    return header, source


def generated_texts() -> list[str]:
    """The texts the C names made from NAME come from, for the check of names."""
    return [template(t) for t in TEMPLATES] + [_SMALL_DETERMINANT, _LU_DETERMINANT, _RESET_RULES]

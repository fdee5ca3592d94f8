"""weights.py: the full form's step-factor vector as a tuning carries it.

A tuning's parameters are the constructor's keywords, plus, for the full form, the key
"rho_vector": one step factor per estimate component (l_y output components, then l_u input
components), which the constructor does not take and `set_rho_vector` stores. Everything
that builds a controller from a tuning's parameters goes through here.

With every entry 1.0 except the newest input increment's, which is rho, the vector law
computes exactly what the scalar law with that rho computes (a weight of 1.0 leaves each
product as it is), so the searched vectors include every scalar-law controller.
"""

from __future__ import annotations

from typing import Any, Mapping

import numpy as np

from vorn.forms import SISO

RHO_VECTOR = "rho_vector"


def constructor_args(params: Mapping[str, Any]) -> dict[str, Any]:
    """The constructor's keywords of `params` (the step-factor vector left out)."""
    return {k: v for k, v in params.items() if k != RHO_VECTOR}


def scalar_law_vector(rho: float, l_y: int, l_u: int) -> list[float]:
    """The vector whose law equals the scalar law with `rho`."""
    return [1.0] * l_y + [float(rho)] + [1.0] * (l_u - 1)


def single(form: str, params: Mapping[str, Any]) -> Any:
    """A controller of `form` with `params`, its step-factor vector set when there is one."""
    controller = SISO[form].single(**constructor_args(params))
    vector = params.get(RHO_VECTOR)
    if vector is not None:
        controller.set_rho_vector([float(v) for v in vector])
    return controller


def fleet(form: str, n: int, params: Mapping[str, Any]) -> Any:
    """A fleet of `n` controllers of `form` with `params`, as `single` builds one."""
    cls = SISO[form].fleet
    if cls is None:
        raise ImportError("controller fleets are not built into this installation of vorn")
    bank = cls(n, **constructor_args(params))
    vector = params.get(RHO_VECTOR)
    if vector is not None:
        bank.set_rho_vector(np.asarray(vector, dtype=float))
    return bank

"""parameters.py: `vorn.params(controller)`: what a SISO controller holds, as a plain dict,
read through its pickle protocol (`__getnewargs__` and `__getstate__`)."""

from __future__ import annotations

from typing import Any

from vorn._vorn_core import CFDLController, FFDLController, PFDLController
from vorn.forms import PARAMETERS, SISO

# The constructor's parameters, in the order of `__getnewargs__`.
ARG_NAMES = PARAMETERS
# The same parameters as the state dictionary names them (`lambda`, a Python keyword, without
# its underscore).
_STATE_NAMES = frozenset(name.rstrip("_") for name in ARG_NAMES)

_SISO = tuple(f.single for f in SISO.values())


def params(controller: CFDLController | PFDLController | FFDLController) -> dict[str, Any]:
    """The controller's constructor arguments under their constructor names (`lambda_`, `l_u`,
    ...; limits None when absent), followed by its state: the histories and the current
    estimate (`y_prev`, `u_prev`, `u_prev2`, `phi_hat` for CFDLController; `y_prev`, `u_hist`,
    `phi_hat` for PFDLController; `y_hist`, `u_hist`, `phi_hat`, `rho_vector` for
    FFDLController). The dict is a copy: changing it changes nothing in the controller.

    `type(c)(**{k: p[k] for k in ARG_NAMES})` builds a controller with the same parameters.

    Raises TypeError for anything but an instance of the three SISO classes (the MIMO
    controllers have no such record to read).
    """
    if type(controller) not in _SISO:
        raise TypeError(f"params() takes a CFDLController, PFDLController or FFDLController, "
                        f"not '{type(controller).__name__}'")
    values = dict(zip(ARG_NAMES, controller.__getnewargs__()))
    values.update((k, v) for k, v in controller.__getstate__().items() if k not in _STATE_NAMES)
    return values

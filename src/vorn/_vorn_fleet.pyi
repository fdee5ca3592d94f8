# _vorn_fleet.pyi: type information for the extension module vorn._vorn_fleet.
"""Controller fleets: many controllers of one form stepped by one call on NumPy arrays.

Member i of a fleet computes, bit for bit, what the single controller built with member i's
parameters computes from the same inputs (NaN payloads aside). Every real parameter is a
scalar shared by all members or an array of one value per member.
"""
from collections.abc import Iterable
from typing import Any, Generic, Self, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final, type_check_only

import numpy as np
from numpy.typing import ArrayLike, NDArray

from vorn._vorn_core import (
    CFDLController,
    FFDLController,
    MimoCfdlController,
    MimoFfdlController,
    MimoPfdlController,
    PFDLController,
)

__all__ = ["CFDLFleet", "PFDLFleet", "FFDLFleet", "MimoCfdlFleet", "MimoPfdlFleet", "MimoFfdlFleet"]

# A scalar shared by every member, or one value per member.
_Values: TypeAlias = SupportsFloat | SupportsIndex | ArrayLike
# (u (n,), delta_y (n,), delta_h (n, m), e (n,), phi (n, m))
_Record: TypeAlias = tuple[
    NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]
]
# The single controller a fleet stands for.
_C = TypeVar("_C", CFDLController, PFDLController, FFDLController)
# The single MIMO controller a MIMO fleet stands for.
_M = TypeVar("_M", MimoCfdlController, MimoPfdlController, MimoFfdlController)

def _full_state(controller: CFDLController | PFDLController | FFDLController, /) -> dict[str, Any]: ...
def _forms() -> tuple[dict[str, Any], ...]:
    """The descriptors of the six controller forms, SISO first: form, mimo, single_class, fleet_class, core_class, text, parameters, default_orders, order_rule, order_message and state (one dict per array: key, role, length, optional, pickled)."""
def _use_kernels(fleet: CFDLFleet | PFDLFleet | FFDLFleet, variant: str, /) -> None: ...

# What the three classes share (not a class at run time).
@type_check_only
class _Fleet(Generic[_C]):
    def update(self, y: ArrayLike, yd: _Values, out: NDArray[np.float64] | None = None) -> NDArray[np.float64]:
        """One control step of every member: y holds the measured outputs (shape (n,)), yd the set points (a scalar or shape (n,)); returns the n new inputs, written into out (a float64 array of shape (n,)) when given. Raises ValueError for a wrong shape, TypeError for strings, objects or complex numbers."""
    def update_logged(self, y: ArrayLike, yd: _Values) -> _Record:
        """The same step as update, for y and yd, returning every member's record: u (n,), delta_y (n,), delta_h (n, m), e (n,) and phi (n, m)."""
    def reset(self) -> None:
        """Returns every member's estimate to its reset value and its histories to rest."""
    def get_phi(self) -> NDArray[np.float64]:
        """A copy of the members' estimates, shape (n, m)."""
    def set_phi_hat(self, phi: ArrayLike) -> None:
        """Sets estimate and reset value of every member from phi, shape (n, m), or (m,) for all alike."""
    def set_eta(self, eta: _Values) -> None:
        """Stores the estimator's step factor eta (scalar or (n,)), unvalidated."""
    def set_mu(self, mu: _Values) -> None:
        """Stores the estimator's weight mu (scalar or (n,)), unvalidated."""
    def set_rho(self, rho: _Values) -> None:
        """Stores the control law's step factor rho (scalar or (n,)), unvalidated."""
    def set_lambda(self, lambda_: _Values) -> None:
        """Stores the control law's weight lambda_ on the input change (scalar or (n,)), unvalidated."""
    def set_eps(self, eps: _Values) -> None:
        """Stores the reset threshold eps (scalar or (n,)), unvalidated."""
    def set_u0(self, u0: _Values) -> None:
        """Stores u0, the input a reset assumes (scalar or (n,))."""
    def set_u_min(self, u_min: _Values | None) -> None:
        """Stores the lower input limit u_min (None for none, a scalar or (n,); NaN means no limit)."""
    def set_u_max(self, u_max: _Values | None) -> None:
        """Stores the upper input limit u_max (None for none, a scalar or (n,); NaN means no limit)."""
    @classmethod
    def from_controllers(cls, controllers: Iterable[_C]) -> Self:
        """A fleet whose members are copies of controllers (one class, one pair of pseudo-orders): parameters, estimates, reset values and histories."""
    def __getnewargs__(self) -> tuple[int]:
        """The member count, for pickling."""
    def __getstate__(self) -> dict[str, Any]:
        """Every member's parameters and full state, reset values included."""
    def __setstate__(self, state: dict[str, Any]) -> None:
        """Restores what __getstate__ returned (state)."""
    def __len__(self) -> int:
        """The number of members."""
    def __getitem__(self, index: SupportsIndex, /) -> _C:
        """A new single controller equal to member index, which continues exactly as the member would."""

@final
class CFDLFleet(_Fleet[CFDLController]):
    """A fleet of n controllers of the compact form (CFDLController).

    Parameters (each real one a scalar shared by every member or an array of n values): n the
    number of members (0 gives an empty fleet); eta and mu the estimator's step factor and
    weight; rho and lambda_ the control law's; eps the reset threshold; l_y and l_u the
    pseudo-orders, shared by the fleet (0 and 1); initial_phi the starting and reset estimate; u0
    the input before the first sample; u_min and u_max optional input limits. Every member is
    validated as the matching class validates (ValueError with a note naming the first
    failing member); a size that overflows or does not fit in memory raises OverflowError or
    MemoryError before anything is allocated.
    """
    def __new__(
        cls,
        n: SupportsIndex,
        eta: _Values = 1.0,
        mu: _Values = 1.0,
        rho: _Values = 0.1,
        lambda_: _Values = 0.02,
        eps: _Values = 1e-5,
        l_y: SupportsIndex = 0,
        l_u: SupportsIndex = 1,
        initial_phi: _Values = 0.5,
        u0: _Values = 0.0,
        u_min: _Values | None = None,
        u_max: _Values | None = None,
    ) -> Self:
        """Builds and validates the fleet; the parameters are described on the class."""
    def set_initial_phi(self, initial_phi: _Values) -> None:
        """Stores each member's reset value initial_phi (scalar or (n,)); the estimate changes at the next reset."""

@final
class PFDLFleet(_Fleet[PFDLController]):
    """A fleet of n controllers of the partial form (PFDLController).

    Parameters (each real one a scalar shared by every member or an array of n values): n the
    number of members (0 gives an empty fleet); eta and mu the estimator's step factor and
    weight; rho and lambda_ the control law's; eps the reset threshold; l_y and l_u the
    pseudo-orders, shared by the fleet (l_y 0, l_u at least 1); initial_phi the starting and reset estimate; u0
    the input before the first sample; u_min and u_max optional input limits. Every member is
    validated as the matching class validates (ValueError with a note naming the first
    failing member); a size that overflows or does not fit in memory raises OverflowError or
    MemoryError before anything is allocated.
    """
    def __new__(
        cls,
        n: SupportsIndex,
        eta: _Values = 1.0,
        mu: _Values = 1.0,
        rho: _Values = 0.1,
        lambda_: _Values = 0.02,
        eps: _Values = 1e-5,
        l_y: SupportsIndex = 0,
        l_u: SupportsIndex = 2,
        initial_phi: _Values = 0.5,
        u0: _Values = 0.0,
        u_min: _Values | None = None,
        u_max: _Values | None = None,
    ) -> Self:
        """Builds and validates the fleet; the parameters are described on the class."""
    def set_initial_phi(self, initial_phi: ArrayLike) -> None:
        """Stores the reset vector initial_phi, shape (n, m) or (m,); the estimate changes at the next reset."""

@final
class FFDLFleet(_Fleet[FFDLController]):
    """A fleet of n controllers of the full form (FFDLController).

    Parameters (each real one a scalar shared by every member or an array of n values): n the
    number of members (0 gives an empty fleet); eta and mu the estimator's step factor and
    weight; rho and lambda_ the control law's; eps the reset threshold; l_y and l_u the
    pseudo-orders, shared by the fleet (l_u at least 1); initial_phi the starting and reset estimate; u0
    the input before the first sample; u_min and u_max optional input limits. Every member is
    validated as the matching class validates (ValueError with a note naming the first
    failing member); a size that overflows or does not fit in memory raises OverflowError or
    MemoryError before anything is allocated.
    """
    def __new__(
        cls,
        n: SupportsIndex,
        eta: _Values = 1.0,
        mu: _Values = 1.0,
        rho: _Values = 0.1,
        lambda_: _Values = 0.02,
        eps: _Values = 1e-5,
        l_y: SupportsIndex = 1,
        l_u: SupportsIndex = 2,
        initial_phi: _Values = 0.5,
        u0: _Values = 0.0,
        u_min: _Values | None = None,
        u_max: _Values | None = None,
    ) -> Self:
        """Builds and validates the fleet; the parameters are described on the class."""
    def set_initial_phi(self, initial_phi: ArrayLike) -> None:
        """Stores the reset vector initial_phi, shape (n, m) or (m,); the estimate changes at the next reset."""
    def set_rho_vector(self, rho: ArrayLike) -> None:
        """Stores per-component step factors rho, shape (n, m) or (m,), weighting the estimate in the control law."""

# What the three MIMO classes share (not a class at run time).
@type_check_only
class _MimoFleet(Generic[_M]):
    def update(self, y: ArrayLike, yd: ArrayLike, out: NDArray[np.float64] | None = None) -> NDArray[np.float64]:
        """One control step of every member: y holds the measured outputs (shape (n, dim)), yd the set points (shape (n, dim), or (dim,) for all); returns the new inputs, shape (n, dim), written into out (a C-contiguous float64 array of that shape) when given. Raises ValueError for a wrong shape, TypeError for strings, objects or complex numbers."""
    def reset(self) -> None:
        """Returns every member's layers to their reset value and its histories to rest."""
    def get_phi(self) -> NDArray[np.float64]:
        """A copy of the members' layers, shape (n, layers, dim, dim), in the order of the controller's get_phi()."""
    def set_phi_hat(self, phi: ArrayLike) -> None:
        """Sets the layers of every member from phi, shape (n, layers, dim, dim), or (layers, dim, dim) for all alike; a wrong layer, row or column count raises the controller's ValueError."""
    def set_eta(self, eta: _Values) -> None:
        """Stores the estimator's step factor eta (scalar or (n,)), unvalidated."""
    def set_mu(self, mu: _Values) -> None:
        """Stores the estimator's weight mu (scalar or (n,)), unvalidated."""
    def set_rho(self, rho: _Values) -> None:
        """Stores the control law's step factor rho (scalar or (n,)), unvalidated."""
    def set_lambda(self, lambda_: _Values) -> None:
        """Stores the control law's weight lambda_ on the input change (scalar or (n,)), unvalidated."""
    def set_eps(self, eps: _Values) -> None:
        """Stores the reset threshold eps (scalar or (n,)), unvalidated."""
    def set_initial_phi(self, initial_phi: _Values) -> None:
        """Stores each member's reset layer initial_phi·I (scalar or (n,)); the layers change at the next reset rule or reset."""
    def set_u0(self, u0: _Values) -> None:
        """Stores u0, the input a reset assumes (scalar or (n,))."""
    def set_m_upper(self, m_upper: _Values) -> None:
        """Stores the upper bound m_upper of a layer's norm (scalar or (n,)), unvalidated."""
    def set_m_lower(self, m_lower: _Values) -> None:
        """Stores the lower bound m_lower of a layer's norm (scalar or (n,)), unvalidated."""
    @classmethod
    def from_controllers(cls, controllers: Iterable[_M]) -> Self:
        """A fleet whose members are copies of controllers (one class, one dim, one pair of pseudo-orders): parameters, layers and histories."""
    def __getnewargs__(self) -> tuple[int, int]:
        """The member count and dim, for pickling."""
    def __getstate__(self) -> dict[str, Any]:
        """Every member's parameters and full state."""
    def __setstate__(self, state: dict[str, Any]) -> None:
        """Restores what __getstate__ returned (state); every member's values are judged as the matching controller's constructor judges them (ValueError with a note naming the member), and a refused state leaves the fleet as it was."""
    def __len__(self) -> int:
        """The number of members."""
    def __getitem__(self, index: SupportsIndex, /) -> _M:
        """A new single controller equal to member index, which continues exactly as the member would."""

@final
class MimoCfdlFleet(_MimoFleet[MimoCfdlController]):
    """A fleet of n MIMO controllers of the compact form (MimoCfdlController), all of one dim.

    Parameters (each real one a scalar shared by every member or an array of n values): n the
    number of members (0 gives an empty fleet); dim the number of inputs and outputs of each;
    eta and mu the estimator's step factor and weight; rho and lambda_ the control law's; eps
    the reset threshold; l_y and l_u the pseudo-orders, shared by the fleet (0 and 1);
    initial_phi the diagonal of the starting and reset layer; u0 the input before the first
    sample; m_upper and m_lower the bounds of a layer's Frobenius norm. Every member is
    validated as the matching class validates (ValueError with a note naming the first failing
    member); a size that overflows or does not fit in memory raises OverflowError or
    MemoryError before anything is allocated.
    """
    def __new__(
        cls,
        n: SupportsIndex,
        dim: SupportsIndex,
        eta: _Values = 1.0,
        mu: _Values = 1.0,
        rho: _Values = 0.5,
        lambda_: _Values = 0.02,
        eps: _Values = 1e-5,
        l_y: SupportsIndex = 0,
        l_u: SupportsIndex = 1,
        initial_phi: _Values = 0.5,
        u0: _Values = 0.0,
        m_upper: _Values = 1e6,
        m_lower: _Values = 1e-6,
    ) -> Self:
        """Builds and validates the fleet; the parameters are described on the class."""

@final
class MimoPfdlFleet(_MimoFleet[MimoPfdlController]):
    """A fleet of n MIMO controllers of the partial form (MimoPfdlController), all of one dim.

    Parameters (each real one a scalar shared by every member or an array of n values): n the
    number of members (0 gives an empty fleet); dim the number of inputs and outputs of each;
    eta and mu the estimator's step factor and weight; rho and lambda_ the control law's; eps
    the reset threshold; l_y and l_u the pseudo-orders, shared by the fleet (l_y 0, l_u at least 1);
    initial_phi the diagonal of the starting and reset layer; u0 the input before the first
    sample; m_upper and m_lower the bounds of a layer's Frobenius norm. Every member is
    validated as the matching class validates (ValueError with a note naming the first failing
    member); a size that overflows or does not fit in memory raises OverflowError or
    MemoryError before anything is allocated.
    """
    def __new__(
        cls,
        n: SupportsIndex,
        dim: SupportsIndex,
        eta: _Values = 1.0,
        mu: _Values = 1.0,
        rho: _Values = 0.5,
        lambda_: _Values = 0.02,
        eps: _Values = 1e-5,
        l_y: SupportsIndex = 0,
        l_u: SupportsIndex = 2,
        initial_phi: _Values = 0.5,
        u0: _Values = 0.0,
        m_upper: _Values = 1e6,
        m_lower: _Values = 1e-6,
    ) -> Self:
        """Builds and validates the fleet; the parameters are described on the class."""

@final
class MimoFfdlFleet(_MimoFleet[MimoFfdlController]):
    """A fleet of n MIMO controllers of the full form (MimoFfdlController), all of one dim.

    Parameters (each real one a scalar shared by every member or an array of n values): n the
    number of members (0 gives an empty fleet); dim the number of inputs and outputs of each;
    eta and mu the estimator's step factor and weight; rho and lambda_ the control law's; eps
    the reset threshold; l_y and l_u the pseudo-orders, shared by the fleet (l_u at least 1);
    initial_phi the diagonal of the starting and reset layer; u0 the input before the first
    sample; m_upper and m_lower the bounds of a layer's Frobenius norm. Every member is
    validated as the matching class validates (ValueError with a note naming the first failing
    member); a size that overflows or does not fit in memory raises OverflowError or
    MemoryError before anything is allocated.
    """
    def __new__(
        cls,
        n: SupportsIndex,
        dim: SupportsIndex,
        eta: _Values = 1.0,
        mu: _Values = 1.0,
        rho: _Values = 0.5,
        lambda_: _Values = 0.02,
        eps: _Values = 1e-5,
        l_y: SupportsIndex = 1,
        l_u: SupportsIndex = 2,
        initial_phi: _Values = 0.5,
        u0: _Values = 0.0,
        m_upper: _Values = 1e6,
        m_lower: _Values = 1e-6,
    ) -> Self:
        """Builds and validates the fleet; the parameters are described on the class."""

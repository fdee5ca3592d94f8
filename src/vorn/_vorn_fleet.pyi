# _vorn_fleet.pyi: type information for the extension module vorn._vorn_fleet.
from collections.abc import Iterable
from typing import Any, Generic, Self, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final, type_check_only

import numpy as np
from numpy.typing import ArrayLike, NDArray

from vorn._vorn_core import CFDLController, FFDLController, PFDLController

__all__ = ["CFDLFleet", "PFDLFleet", "FFDLFleet"]

# A scalar shared by every member, or one value per member.
_Values: TypeAlias = SupportsFloat | SupportsIndex | ArrayLike
# (u (n,), delta_y (n,), delta_h (n, m), e (n,), phi (n, m))
_Record: TypeAlias = tuple[
    NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]
]
# The single controller a fleet stands for.
_C = TypeVar("_C", CFDLController, PFDLController, FFDLController)

def _full_state(controller: CFDLController | PFDLController | FFDLController, /) -> dict[str, Any]: ...
def _use_kernels(fleet: CFDLFleet | PFDLFleet | FFDLFleet, variant: str, /) -> None: ...

# What the three classes share (not a class at run time).
@type_check_only
class _Fleet(Generic[_C]):
    def update(self, y: ArrayLike, yd: _Values, out: NDArray[np.float64] | None = None) -> NDArray[np.float64]: ...
    def update_logged(self, y: ArrayLike, yd: _Values) -> _Record: ...
    def reset(self) -> None: ...
    def get_phi(self) -> NDArray[np.float64]: ...
    def set_phi_hat(self, phi: ArrayLike) -> None: ...
    def set_eta(self, eta: _Values) -> None: ...
    def set_mu(self, mu: _Values) -> None: ...
    def set_rho(self, rho: _Values) -> None: ...
    def set_lambda(self, lambda_: _Values) -> None: ...
    def set_eps(self, eps: _Values) -> None: ...
    def set_u0(self, u0: _Values) -> None: ...
    def set_u_min(self, u_min: _Values | None) -> None: ...
    def set_u_max(self, u_max: _Values | None) -> None: ...
    @classmethod
    def from_controllers(cls, controllers: Iterable[_C]) -> Self: ...
    def __getnewargs__(self) -> tuple[int]: ...
    def __getstate__(self) -> dict[str, Any]: ...
    def __setstate__(self, state: dict[str, Any]) -> None: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: SupportsIndex, /) -> _C: ...

@final
class CFDLFleet(_Fleet[CFDLController]):
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
    ) -> Self: ...
    def set_initial_phi(self, initial_phi: _Values) -> None: ...

@final
class PFDLFleet(_Fleet[PFDLController]):
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
    ) -> Self: ...
    def set_initial_phi(self, initial_phi: ArrayLike) -> None: ...

@final
class FFDLFleet(_Fleet[FFDLController]):
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
    ) -> Self: ...
    def set_initial_phi(self, initial_phi: ArrayLike) -> None: ...
    def set_rho_vector(self, rho: ArrayLike) -> None: ...

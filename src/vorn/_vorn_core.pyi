# _vorn_core.pyi: type information and English documentation for the extension module
# vorn._vorn_core. Editors and type checkers read these docstrings; the module's own
# docstrings (shown by help()) are fixed and stay as they are.
"""Model-free adaptive controllers and their tuning helpers.

Six controller classes (SISO: CFDLController, PFDLController, FFDLController; MIMO:
MimoCfdlController, MimoPfdlController, MimoFfdlController), eight tuning functions and the
YAML configuration loader. Every controller is called once per sampling period with the
measured output and the set point and returns the next control input.
"""
from typing import Any, Protocol, Self, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final, type_check_only


__all__ = [
    "CFDLController",
    "PFDLController",
    "FFDLController",
    "MimoCfdlController",
    "MimoPfdlController",
    "MimoFfdlController",
    "pid_to_pfdl",
    "zn_response_to_pfdl",
    "critical_proportional_to_pfdl",
    "apply_pfdl_initial_guess",
    "ffdl_zn_tuning",
    "apply_ffdl_zn_tuning",
    "ffdl_critical_tuning",
    "apply_ffdl_critical_tuning",
    "load_config_from_yaml",
]

_T_co = TypeVar("_T_co", covariant=True)

# What the float protocol accepts: floats, ints, NumPy scalars, anything with __float__ or __index__.
_Float: TypeAlias = SupportsFloat | SupportsIndex
# What the unsigned-integer conversion accepts: ints and anything with __index__.
_Index: TypeAlias = SupportsIndex

@type_check_only
class _SequenceOf(Protocol[_T_co]):
    # Anything that passes the sequence check (lists, tuples, NumPy arrays), taken by length and items.
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _T_co: ...

_Vector: TypeAlias = _SequenceOf[_Float]
_Matrix: TypeAlias = _SequenceOf[_Vector]
_Layers: TypeAlias = _SequenceOf[_Matrix]

# (eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0, u_min, u_max)
_SisoArgs: TypeAlias = tuple[float, float, float, float, float, int, int, float, float, float | None, float | None]
# (u, delta_y, delta_h, e, phi)
_StepRecord: TypeAlias = tuple[float, float, list[float], float, list[float]]

@type_check_only
class _SisoController:
    """What the three SISO controller classes share: setters and the pickle protocol. Not a runtime
    class; CFDLController, PFDLController and FFDLController derive from object.
    """
    def set_eta(self, eta: _Float) -> None:
        """Sets the estimator's step factor eta. Not validated (the constructor's 0 < eta <= 2
        is not enforced); takes effect at the next update.

        Raises TypeError (note "while processing 'eta'") if the value does not convert to
        float; RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def set_mu(self, mu: _Float) -> None:
        """Sets the estimator's regularising weight mu. Not validated; takes effect at the next
        update.

        Raises TypeError (note "while processing 'mu'") if the value does not convert to
        float; RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def set_rho(self, rho: _Float) -> None:
        """Sets the control law's step factor rho. Not validated; takes effect at the next update.

        Raises TypeError (note "while processing 'rho'") if the value does not convert to
        float; RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def set_lambda(self, lambda_: _Float) -> None:
        """Sets the control law's weight lambda (argument lambda_) on the input change. Not
        validated; takes effect at the next update.

        Raises TypeError (note "while processing 'lambda_'") if the value does not convert to
        float; RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def set_eps(self, eps: _Float) -> None:
        """Sets the threshold eps of the estimator's reset rule. Not validated.

        Raises TypeError (note "while processing 'eps'") if the value does not convert to
        float; RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def set_u0(self, u0: _Float) -> None:
        """Sets the input u0 assumed before the first sample. The input history keeps its values
        until the next reset(), which then starts from u0.

        Raises TypeError (note "while processing 'u0'") if the value does not convert to
        float; RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def set_u_min(self, u_min: _Float | None) -> None:
        """Sets the lower limit u_min of the control input; None removes it. Not validated: with
        u_min > u_max every input becomes u_max, which is applied last.

        Raises TypeError (note "while processing 'u_min'") if the value is neither None nor
        convertible to float.
        """
    def set_u_max(self, u_max: _Float | None) -> None:
        """Sets the upper limit u_max of the control input; None removes it. Not validated: with
        u_min > u_max every input becomes u_max, which is applied last.

        Raises TypeError (note "while processing 'u_max'") if the value is neither None nor
        convertible to float.
        """
    def __getnewargs__(self) -> _SisoArgs:
        """The eleven constructor arguments (eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0,
        u_min, u_max) from the controller's current parameters, limits None when absent.
        Unpickling passes them to the class's constructor, which validates them again: a value
        stored by a setter outside the constructor's ranges pickles but fails to unpickle
        (ValueError). vorn.params(controller) shows them by name.
        """
    def __getstate__(self) -> dict[str, Any]:
        """The pickle state: the eleven parameters (key "lambda", not "lambda_"), then the history and
        the current estimate: "y_prev", "u_prev", "u_prev2", "phi_hat" (CFDLController); "y_prev",
        "u_hist", "phi_hat" (PFDLController); "y_hist", "u_hist", "phi_hat", "rho_vector", None
        when absent (FFDLController). The estimator's reset value is not saved: an unpickled copy
        resets to the pickled estimate, so it departs from its original at the first reset.
        """
    def __setstate__(self, state: dict[str, Any]) -> None:
        """Restores a state dictionary made by __getstate__. Nothing is validated except the
        pseudo-orders; the saved estimate becomes both the estimate and its reset value.

        Raises:
            TypeError: state is not a dict.
            KeyError: a key is missing.
            ValueError: pseudo-orders that do not fit the form, or a vector too short.
        The controller is left unchanged on failure.
        """

@final
class CFDLController(_SisoController):
    """SISO model-free adaptive controller in the compact form (CFDL).

    Models the plant around its operating point as y(k+1) - y(k) = phi(k) * (u(k) - u(k-1))
    with one scalar pseudo partial derivative (PPD) phi, estimated from measured data at every
    sample. Call update(y, yd) once per sampling period; it returns a 5-tuple whose first item
    is the new input.

    Parameters (all optional, by position in this order or by keyword):

    - eta: step factor of the PPD estimator, 0 < eta <= 2 (default 1.0).
    - mu: regularising weight of the estimator's denominator, > 0 (default 1.0).
    - rho: step factor of the control law, 0 < rho <= 1 (default 0.1).
    - lambda_: weight of the input change in the control law, > 0 (default 0.02). Larger
      values give smaller, smoother input moves.
    - eps: threshold of the estimator's reset rule, > 0 (default 1e-5).
    - l_y: output pseudo-order, an int >= 0 (default 0). Must be 0.
    - l_u: input pseudo-order, an int (default 1). Must be 1.
    - initial_phi: starting value of the PPD estimate and the value its reset rule returns to
      (default 0.5). Its sign should be the sign of the plant's gain.
    - u0: control input assumed before the first sample, in the plant's input units
      (default 0.0).
    - u_min, u_max: optional lower and upper limits of the control input, None for no limit
      (default None). u_min is applied first, then u_max.

    Every value is validated in the order above; NaN passes every range test.

    Raises:
        ValueError: a value out of range (for example "eta 必须满足 0 < eta <= 2"),
            u_min > u_max ("u_min 不能大于 u_max"), or pseudo-orders that do not fit the form
            ("CFDL 要求 l_y == 0 且 l_u == 1"). The range tests run before the pseudo-order test.
        TypeError: a float for l_y or l_u, or a value that does not convert to float (the
            exception carries the note "while processing '<name>'").
        OverflowError: a negative or too large l_y or l_u.
        MemoryError: pseudo-orders whose state would not fit in memory.
    """
    def __new__(
        cls,
        eta: _Float = 1.0,
        mu: _Float = 1.0,
        rho: _Float = 0.1,
        lambda_: _Float = 0.02,
        eps: _Float = 1e-5,
        l_y: _Index = 0,
        l_u: _Index = 1,
        initial_phi: _Float = 0.5,
        u0: _Float = 0.0,
        u_min: _Float | None = None,
        u_max: _Float | None = None,
    ) -> Self:
        """Builds the controller; see the class docstring for the parameters and the errors."""
    def update(self, y: _Float, yd: _Float) -> tuple[float, float, float, float, float]:
        """Runs one control step and returns (u, delta_y, delta_u, e, phi).

        u: the new control input (clamped to the limits); delta_y: y minus the previous y;
        delta_u: u(k-1) - u(k-2), the input increment that drove this step's estimate (not the
        increment this step produces); e: yd - y; phi: the PPD estimate after this step.

        y: the output measured at this sample; yd: the set point (both in the plant's output
        units, any float; NaN and infinities are not refused and flow into the result and the
        estimate until reset()).

        Raises TypeError (note naming y or yd) if an argument does not convert to float, and
        RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def reset(self) -> None:
        """Returns the estimate to its reset value and the history to its initial state (previous
        output 0.0, previous inputs u0). Parameters are kept.
        """
    def get_phi(self) -> list[float]:
        """The current PPD estimate as a list of one float (the same shape as PFDL/FFDL)."""
    def set_phi_hat(self, phi: _Vector) -> None:
        """Sets the PPD estimate and its reset value.

        phi: a sequence of exactly one float, as get_phi() returns it.

        Raises:
            ValueError: phi does not have exactly one item ("CFDL 的 phi_hat 长度必须为 1，实际为 n").
            TypeError: a str or a non-sequence, or an item that does not convert to float.
        """
    def set_initial_phi(self, initial_phi: _Float) -> None:
        """Sets the reset value of the estimate (the parameter initial_phi). The current estimate is
        unchanged until the reset rule fires or reset() is called.

        Raises TypeError (note "while processing 'initial_phi'") if the value does not convert.
        """

@type_check_only
class _VectorController(_SisoController):
    """What PFDLController and FFDLController share. The PPD vector has n components: l_u for
    PFDLController, l_y + l_u for FFDLController. Not a runtime class.
    """
    def update(self, y: _Float, yd: _Float) -> float:
        """Runs one control step and returns the new control input u (clamped to the limits).

        y: the output measured at this sample; yd: the set point (both in the plant's output
        units, any float; NaN and infinities are not refused and flow into the result and the
        estimate until reset()).

        Raises TypeError (note naming y or yd) if an argument does not convert to float, and
        RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def update_logged(self, y: _Float, yd: _Float) -> _StepRecord:
        """Runs the same control step as update() and returns (u, delta_y, delta_h, e, phi).

        u: the new input; delta_y: y minus the previous y; delta_h: the increment vector given to
        the estimator (n floats); e: yd - y; phi: the PPD vector after this step.

        y: the output measured at this sample; yd: the set point (both in the plant's output
        units, any float; NaN and infinities are not refused and flow into the result and the
        estimate until reset()).

        Raises TypeError (note naming y or yd) if an argument does not convert to float, and
        RuntimeError on re-entry into a controller that is in the middle of a call.
        """
    def reset(self) -> None:
        """Returns the estimate to its reset vector and the histories to their initial state
        (previous output 0.0, previous inputs u0). Parameters and step factors are kept.
        """
    def get_phi(self) -> list[float]:
        """The current PPD vector estimate (n floats), as a new list."""
    def set_phi_hat(self, phi: _Vector) -> None:
        """Sets the PPD vector estimate and its reset vector.

        phi: a sequence of n floats, one per component.

        Raises:
            ValueError: too few items ("phi 长度至少为 <least>，实际为 <m>"; PFDL needs at least 1,
                FFDL at least l_y + l_u).
            TypeError: a str or a non-sequence, or an item that does not convert to float.
        """
    def set_initial_phi(self, initial_phi: _Vector) -> None:
        """Sets the reset vector of the estimate (and the parameter initial_phi to its first entry).

        initial_phi: a sequence of n floats. The current estimate is unchanged until the reset
        rule fires or reset() is called.

        Raises:
            ValueError: too few items ("initial_phi 长度至少为 <least>，实际为 <m>"; PFDL needs at
                least 1, FFDL at least l_y + l_u).
            TypeError: a number or a str instead of a sequence, or an item that does not convert.
        """

@final
class PFDLController(_VectorController):
    """SISO model-free adaptive controller in the partial form (PFDL).

    Models the next output increment as the inner product of a PPD vector with the last l_u
    input increments, estimated at every sample. Call update(y, yd) once per sampling period;
    it returns the new input as a float (update_logged returns the whole step record).

    Parameters (all optional, by position in this order or by keyword):

    - eta: step factor of the PPD estimator, 0 < eta <= 2 (default 1.0).
    - mu: regularising weight of the estimator's denominator, > 0 (default 1.0).
    - rho: step factor of the control law, 0 < rho <= 1 (default 0.1).
    - lambda_: weight of the input change in the control law, > 0 (default 0.02). Larger
      values give smaller, smoother input moves.
    - eps: threshold of the estimator's reset rule, > 0 (default 1e-5).
    - l_y: output pseudo-order, an int >= 0 (default 0). Must be 0.
    - l_u: input pseudo-order, an int (default 2). At least 1: the number of past input increments in the model.
    - initial_phi: starting value of the PPD estimate and the value its reset rule returns to
      (default 0.5). Its sign should be the sign of the plant's gain.
    - u0: control input assumed before the first sample, in the plant's input units
      (default 0.0).
    - u_min, u_max: optional lower and upper limits of the control input, None for no limit
      (default None). u_min is applied first, then u_max.

    Every value is validated in the order above; NaN passes every range test.

    Raises:
        ValueError: a value out of range (for example "eta 必须满足 0 < eta <= 2"),
            u_min > u_max ("u_min 不能大于 u_max"), or pseudo-orders that do not fit the form
            ("PFDL 要求 l_y == 0 且 l_u >= 1"). The range tests run before the pseudo-order test.
        TypeError: a float for l_y or l_u, or a value that does not convert to float (the
            exception carries the note "while processing '<name>'").
        OverflowError: a negative or too large l_y or l_u.
        MemoryError: pseudo-orders whose state would not fit in memory.
    """
    def __new__(
        cls,
        eta: _Float = 1.0,
        mu: _Float = 1.0,
        rho: _Float = 0.1,
        lambda_: _Float = 0.02,
        eps: _Float = 1e-5,
        l_y: _Index = 0,
        l_u: _Index = 2,
        initial_phi: _Float = 0.5,
        u0: _Float = 0.0,
        u_min: _Float | None = None,
        u_max: _Float | None = None,
    ) -> Self:
        """Builds the controller; see the class docstring for the parameters and the errors."""

@final
class FFDLController(_VectorController):
    """SISO model-free adaptive controller in the full form (FFDL).

    Models the next output increment as the inner product of a PPD vector with the last l_y
    output increments and the last l_u input increments. Optional per-component step factors
    (set_rho_vector, or the FFDL tuning functions) weight the control law. Call update(y, yd)
    once per sampling period; it returns the new input as a float.

    Parameters (all optional, by position in this order or by keyword):

    - eta: step factor of the PPD estimator, 0 < eta <= 2 (default 1.0).
    - mu: regularising weight of the estimator's denominator, > 0 (default 1.0).
    - rho: step factor of the control law, 0 < rho <= 1 (default 0.1).
    - lambda_: weight of the input change in the control law, > 0 (default 0.02). Larger
      values give smaller, smoother input moves.
    - eps: threshold of the estimator's reset rule, > 0 (default 1e-5).
    - l_y: output pseudo-order, an int >= 0 (default 1). Any value: the number of past output increments in the model.
    - l_u: input pseudo-order, an int (default 2). At least 1: the number of past input increments in the model.
    - initial_phi: starting value of the PPD estimate and the value its reset rule returns to
      (default 0.5). Its sign should be the sign of the plant's gain.
    - u0: control input assumed before the first sample, in the plant's input units
      (default 0.0).
    - u_min, u_max: optional lower and upper limits of the control input, None for no limit
      (default None). u_min is applied first, then u_max.

    Every value is validated in the order above; NaN passes every range test.

    Raises:
        ValueError: a value out of range (for example "eta 必须满足 0 < eta <= 2"),
            u_min > u_max ("u_min 不能大于 u_max"), or pseudo-orders that do not fit the form
            ("FFDL 要求 l_u >= 1"). The range tests run before the pseudo-order test.
        TypeError: a float for l_y or l_u, or a value that does not convert to float (the
            exception carries the note "while processing '<name>'").
        OverflowError: a negative or too large l_y or l_u.
        MemoryError: pseudo-orders whose state would not fit in memory.
    """
    def __new__(
        cls,
        eta: _Float = 1.0,
        mu: _Float = 1.0,
        rho: _Float = 0.1,
        lambda_: _Float = 0.02,
        eps: _Float = 1e-5,
        l_y: _Index = 1,
        l_u: _Index = 2,
        initial_phi: _Float = 0.5,
        u0: _Float = 0.0,
        u_min: _Float | None = None,
        u_max: _Float | None = None,
    ) -> Self:
        """Builds the controller; see the class docstring for the parameters and the errors."""
    def set_rho_vector(self, rho: _Vector) -> None:
        """Sets one step factor per component of the control law (l_y + l_u floats), replacing the
        scalar rho in the law; kept across reset() and pickling.

        Raises:
            ValueError: fewer than l_y + l_u items ("rho 长度至少为 l_y + l_u，实际为 m").
            TypeError: a str or a non-sequence, or an item that does not convert to float.
        """

@type_check_only
class _MimoController:
    """What the three MIMO controller classes share. Their layers (dim x dim pseudo-Jacobians) are:
    one for MimoCfdlController; l_u for MimoPfdlController, the newest input increment's first;
    l_y output layers, then l_u input layers, for MimoFfdlController. Not a runtime class.
    """
    @property
    def dim(self) -> int:
        """The number of inputs and outputs (read-only)."""
    def update(self, y: _Vector, yd: _Vector) -> list[float]:
        """Runs one control step and returns the new input vector u(k) as a list of dim floats.

        y: the measured outputs; yd: the set points; each a sequence of dim floats (a list, a
        tuple or a NumPy array). NaN and infinities are not refused.

        Raises:
            ValueError: y or yd does not have dim items ("y 长度 1 ≠ dim 2").
            TypeError: a str or a non-sequence, or an item that does not convert to float (note
                naming y or yd). Both are converted before either length is tested.
            RuntimeError: re-entry into a controller that is in the middle of a call.
        """
    def reset(self) -> None:
        """Returns every layer to initial_phi * I and the histories to their initial state (inputs
        u0, increments zero). Parameters are kept.
        """
    def get_phi(self) -> list[list[list[float]]]:
        """The current layers as nested lists [layer][row][column]. A copy: changing it changes
        nothing in the controller.
        """
    def set_phi_hat(self, phi: _Layers) -> None:
        """Replaces the current layers (the reset target initial_phi * I is kept).

        phi: a sequence of layers, as get_phi() returns them, each dim rows of dim floats.

        Raises:
            ValueError: a wrong number of layers ("CFDL 的 phi 层数应为 1，实际为 n", and the
                PFDL/FFDL counterparts), a layer with a wrong number of rows ("phi 行数 3 ≠ dim 2")
                or a row of the wrong length ("phi 列数 1 ≠ dim 2"); the first problem is reported.
            TypeError: a str or a non-sequence at any level, or an item that does not convert.
        """
    def set_eta(self, eta: _Float) -> None:
        """Sets the estimator's step factor eta. Not validated.

        Raises TypeError (note "while processing 'eta'") if the value does not convert to float.
        """
    def set_mu(self, mu: _Float) -> None:
        """Sets the estimator's weight mu. Not validated.

        Raises TypeError (note "while processing 'mu'") if the value does not convert to float.
        """
    def set_rho(self, rho: _Float) -> None:
        """Sets the control law's step factor rho. Not validated.

        Raises TypeError (note "while processing 'rho'") if the value does not convert to float.
        """
    def set_lambda(self, lambda_: _Float) -> None:
        """Sets the control law's weight lambda (argument lambda_). Not validated.

        Raises TypeError (note "while processing 'lambda_'") if the value does not convert to float.
        """
    def set_eps(self, eps: _Float) -> None:
        """Sets the threshold eps of the update and reset rules. Not validated.

        Raises TypeError (note "while processing 'eps'") if the value does not convert to float.
        """
    def set_m_upper(self, m_upper: _Float) -> None:
        """Sets the upper bound m_upper on a layer's Frobenius norm. Not validated.

        Raises TypeError (note "while processing 'm_upper'") if the value does not convert to float.
        """
    def set_m_lower(self, m_lower: _Float) -> None:
        """Sets the lower bound m_lower on a layer's Frobenius norm. Not validated.

        Raises TypeError (note "while processing 'm_lower'") if the value does not convert to float.
        """
    def set_u0(self, u0: _Float) -> None:
        """Sets the input u0 used by the next reset(). Not validated.

        Raises TypeError (note "while processing 'u0'") if the value does not convert to float.
        """
    def set_initial_phi(self, initial_phi: _Float) -> None:
        """Sets the diagonal initial_phi of the reset target; the current layers are
        unchanged until a reset rule fires or reset() is called. Not validated.

        Raises TypeError (note "while processing 'initial_phi'") if the value does not convert to float.
        """

@final
class MimoCfdlController(_MimoController):
    """MIMO model-free adaptive controller in the compact form for a square plant of dim inputs
    and dim outputs: one dim x dim pseudo-Jacobian, with a Frobenius-norm bound and resets on
    small increments and on a change of the determinant's sign.

    Parameters (dim required; the others optional, by position in this order or by keyword):

    - dim: number of inputs and of outputs of the square plant, an int >= 0.
    - eta: step factor of the estimator, 0 < eta <= 2 (default 1.0).
    - mu: regularising weight of the estimator, > 0 (default 1.0).
    - rho: step factor of the control law, 0 < rho <= 1 (default 0.5, unlike the SISO 0.1).
    - lambda_: weight of the input change in the control law, > 0 (default 0.02).
    - eps: threshold of the update and reset rules, > 0 (default 1e-5).
    - l_y: output pseudo-order (default 0). Must be 0.
    - l_u: input pseudo-order (default 1). Must be 1.
    - initial_phi: diagonal of the initial pseudo-Jacobian layers, initial_phi * I (default 0.5).
    - u0: every input component before the first update and after reset() (default 0.0).
    - m_upper: upper bound on the Frobenius norm of a layer, > 0 (default 1e6).
    - m_lower: lower bound on the Frobenius norm of a layer, > 0 and <= m_upper (default 1e-6).

    MIMO controllers have no input limits and cannot be pickled.

    Raises:
        ValueError: a value out of range (for example "m_lower 不能大于 m_upper"), or
            pseudo-orders that do not fit the form ("伪阶数不满足当前控制器格式要求").
        TypeError, OverflowError: dim, l_y or l_u not a non-negative int, or a value that does
            not convert to float (note "while processing '<name>'").
        MemoryError: a dim or pseudo-orders whose state would not fit in memory.
    """
    def __new__(
        cls,
        dim: _Index,
        eta: _Float = 1.0,
        mu: _Float = 1.0,
        rho: _Float = 0.5,
        lambda_: _Float = 0.02,
        eps: _Float = 1e-5,
        l_y: _Index = 0,
        l_u: _Index = 1,
        initial_phi: _Float = 0.5,
        u0: _Float = 0.0,
        m_upper: _Float = 1e6,
        m_lower: _Float = 1e-6,
    ) -> Self:
        """Builds the controller; see the class docstring for the parameters and the errors."""

@final
class MimoPfdlController(_MimoController):
    """MIMO model-free adaptive controller in the partial form: l_u dim x dim pseudo-Jacobian
    layers, one per recent input increment.

    Parameters (dim required; the others optional, by position in this order or by keyword):

    - dim: number of inputs and of outputs of the square plant, an int >= 0.
    - eta: step factor of the estimator, 0 < eta <= 2 (default 1.0).
    - mu: regularising weight of the estimator, > 0 (default 1.0).
    - rho: step factor of the control law, 0 < rho <= 1 (default 0.5, unlike the SISO 0.1).
    - lambda_: weight of the input change in the control law, > 0 (default 0.02).
    - eps: threshold of the update and reset rules, > 0 (default 1e-5).
    - l_y: output pseudo-order (default 0). Must be 0.
    - l_u: input pseudo-order (default 2). At least 1.
    - initial_phi: diagonal of the initial pseudo-Jacobian layers, initial_phi * I (default 0.5).
    - u0: every input component before the first update and after reset() (default 0.0).
    - m_upper: upper bound on the Frobenius norm of a layer, > 0 (default 1e6).
    - m_lower: lower bound on the Frobenius norm of a layer, > 0 and <= m_upper (default 1e-6).

    MIMO controllers have no input limits and cannot be pickled.

    Raises:
        ValueError: a value out of range (for example "m_lower 不能大于 m_upper"), or
            pseudo-orders that do not fit the form ("伪阶数不满足当前控制器格式要求").
        TypeError, OverflowError: dim, l_y or l_u not a non-negative int, or a value that does
            not convert to float (note "while processing '<name>'").
        MemoryError: a dim or pseudo-orders whose state would not fit in memory.
    """
    def __new__(
        cls,
        dim: _Index,
        eta: _Float = 1.0,
        mu: _Float = 1.0,
        rho: _Float = 0.5,
        lambda_: _Float = 0.02,
        eps: _Float = 1e-5,
        l_y: _Index = 0,
        l_u: _Index = 2,
        initial_phi: _Float = 0.5,
        u0: _Float = 0.0,
        m_upper: _Float = 1e6,
        m_lower: _Float = 1e-6,
    ) -> Self:
        """Builds the controller; see the class docstring for the parameters and the errors."""

@final
class MimoFfdlController(_MimoController):
    """MIMO model-free adaptive controller in the full form: l_y output layers and l_u input
    layers (dim x dim pseudo-Jacobians), one per recent output and input increment.

    Parameters (dim required; the others optional, by position in this order or by keyword):

    - dim: number of inputs and of outputs of the square plant, an int >= 0.
    - eta: step factor of the estimator, 0 < eta <= 2 (default 1.0).
    - mu: regularising weight of the estimator, > 0 (default 1.0).
    - rho: step factor of the control law, 0 < rho <= 1 (default 0.5, unlike the SISO 0.1).
    - lambda_: weight of the input change in the control law, > 0 (default 0.02).
    - eps: threshold of the update and reset rules, > 0 (default 1e-5).
    - l_y: output pseudo-order (default 1). Any value.
    - l_u: input pseudo-order (default 2). At least 1.
    - initial_phi: diagonal of the initial pseudo-Jacobian layers, initial_phi * I (default 0.5).
    - u0: every input component before the first update and after reset() (default 0.0).
    - m_upper: upper bound on the Frobenius norm of a layer, > 0 (default 1e6).
    - m_lower: lower bound on the Frobenius norm of a layer, > 0 and <= m_upper (default 1e-6).

    MIMO controllers have no input limits and cannot be pickled.

    Raises:
        ValueError: a value out of range (for example "m_lower 不能大于 m_upper"), or
            pseudo-orders that do not fit the form ("伪阶数不满足当前控制器格式要求").
        TypeError, OverflowError: dim, l_y or l_u not a non-negative int, or a value that does
            not convert to float (note "while processing '<name>'").
        MemoryError: a dim or pseudo-orders whose state would not fit in memory.
    """
    def __new__(
        cls,
        dim: _Index,
        eta: _Float = 1.0,
        mu: _Float = 1.0,
        rho: _Float = 0.5,
        lambda_: _Float = 0.02,
        eps: _Float = 1e-5,
        l_y: _Index = 1,
        l_u: _Index = 2,
        initial_phi: _Float = 0.5,
        u0: _Float = 0.0,
        m_upper: _Float = 1e6,
        m_lower: _Float = 1e-6,
    ) -> Self:
        """Builds the controller; see the class docstring for the parameters and the errors."""

def pid_to_pfdl(kp: _Float, ti: _Float, td: _Float, ts: _Float, order: _Index = 3) -> list[float]:
    """Maps PID gains onto an initial PPD vector for a PFDLController with l_u = order.

    kp: proportional gain (any sign); ti: integral time, > 0; td: derivative time, >= 0;
    ts: sampling period, > 0; order: 1, 2 or 3 (default 3), the length of the result.
    All times (ts and the others) in the same unit, for example seconds; ts is the sampling
    period.

    Raises:
        ValueError: order not 1, 2 or 3 ("整定不支持当前伪阶数", tested first), or ti <= 0,
            td < 0 or ts <= 0 ("整定参数非法").
        TypeError, OverflowError: order not a non-negative int, or a value that does not convert.
    """

def zn_response_to_pfdl(k: _Float, tau: _Float, time_delay: _Float, ts: _Float, order: _Index = 3) -> list[float]:
    """Maps a reaction-curve (step-response) model onto an initial PPD vector, through the
    Ziegler-Nichols PID rule.

    k: process gain, > 0; tau: time constant, > 0; time_delay: dead time, > 0; ts: sampling
    period, > 0; order: 1, 2 or 3 (default 3), the length of the result (use it as l_u).
    All times (ts and the others) in the same unit, for example seconds; ts is the sampling
    period.

    Raises:
        ValueError: order not 1, 2 or 3 ("整定不支持当前伪阶数"), or an argument <= 0
            ("整定参数非法"; a plant of negative gain is refused).
        TypeError, OverflowError: as for pid_to_pfdl.
    """

def critical_proportional_to_pfdl(ku: _Float, tu: _Float, ts: _Float, order: _Index = 3) -> list[float]:
    """Maps the critical (ultimate) gain and period onto an initial PPD vector, through the
    Ziegler-Nichols critical-proportional PID rule.

    ku: critical gain, > 0; tu: critical period, > 0; ts: sampling period, > 0; order: 1, 2
    or 3 (default 3), the length of the result. All times (ts and the others) in the same unit, for example seconds; ts is the sampling
    period.

    Raises:
        ValueError: order not 1, 2 or 3 ("整定不支持当前伪阶数"), or an argument <= 0
            ("整定参数非法").
        TypeError, OverflowError: as for pid_to_pfdl.
    """

def apply_pfdl_initial_guess(controller: PFDLController, psi: _Vector) -> None:
    """Writes psi into a PFDLController as its PPD estimate and its reset vector.

    controller: the PFDLController, changed in place; psi: a sequence of exactly l_u floats
    (for example the result of pid_to_pfdl with order = l_u).

    Raises:
        ValueError: len(psi) differs from the controller's l_u ("整定参数非法"); nothing changes.
        TypeError: controller is not a PFDLController, or psi is a str, a non-sequence or has
            an item that does not convert.
    """

def ffdl_zn_tuning(controller: FFDLController, k: _Float, tau: _Float, time_delay: _Float, ts: _Float) -> list[float]:
    """Step-factor vector (l_y + 1 floats) of an FFDLController from a reaction-curve model, by
    the Ziegler-Nichols rule. The controller is not changed.

    controller: the FFDLController to read; k: process gain, > 0; tau: time constant, > 0;
    time_delay: dead time, > 0; ts: sampling period, > 0 (same time unit throughout).
    The controller must have l_u = 1 and l_y = 1 (PI rule) or 2 (PID rule); the rule reads its
    current estimate, which must have l_y + 1 non-zero components, and its lambda.

    Raises:
        ValueError: the controller's pseudo-orders are not supported ("整定不支持当前伪阶数",
            tested first; the default FFDLController() has l_u = 2), or an argument <= 0 or an
            estimate component equal to zero ("整定参数非法").
        TypeError: controller is not an FFDLController, or a value that does not convert.
    """

def apply_ffdl_zn_tuning(controller: FFDLController, k: _Float, tau: _Float, time_delay: _Float, ts: _Float) -> None:
    """Computes what ffdl_zn_tuning returns and stores it as the controller's step-factor vector
    (as set_rho_vector does); nothing changes on failure.

    controller: the FFDLController, changed in place; k: process gain, > 0; tau: time
    constant, > 0; time_delay: dead time, > 0; ts: sampling period, > 0.
    The controller must have l_u = 1 and l_y = 1 (PI rule) or 2 (PID rule); the rule reads its
    current estimate, which must have l_y + 1 non-zero components, and its lambda.

    Raises:
        ValueError: the controller's pseudo-orders are not supported ("整定不支持当前伪阶数",
            tested first; the default FFDLController() has l_u = 2), or an argument <= 0 or an
            estimate component equal to zero ("整定参数非法").
        TypeError: controller is not an FFDLController, or a value that does not convert.
    """

def ffdl_critical_tuning(controller: FFDLController, ku: _Float, tu: _Float, ts: _Float) -> list[float]:
    """Step-factor vector (l_y + 1 floats) of an FFDLController from the critical gain and
    period. The controller is not changed.

    controller: the FFDLController to read; ku: critical gain, > 0; tu: critical period, > 0;
    ts: sampling period, > 0 (same time unit as tu).
    The controller must have l_u = 1 and l_y = 1 (PI rule) or 2 (PID rule); the rule reads its
    current estimate, which must have l_y + 1 non-zero components, and its lambda.

    Raises:
        ValueError: the controller's pseudo-orders are not supported ("整定不支持当前伪阶数",
            tested first; the default FFDLController() has l_u = 2), or an argument <= 0 or an
            estimate component equal to zero ("整定参数非法").
        TypeError: controller is not an FFDLController, or a value that does not convert.
    """

def apply_ffdl_critical_tuning(controller: FFDLController, ku: _Float, tu: _Float, ts: _Float) -> None:
    """Computes what ffdl_critical_tuning returns and stores it as the controller's step-factor
    vector; nothing changes on failure.

    controller: the FFDLController, changed in place; ku: critical gain, > 0; tu: critical
    period, > 0; ts: sampling period, > 0.
    The controller must have l_u = 1 and l_y = 1 (PI rule) or 2 (PID rule); the rule reads its
    current estimate, which must have l_y + 1 non-zero components, and its lambda.

    Raises:
        ValueError: the controller's pseudo-orders are not supported ("整定不支持当前伪阶数",
            tested first; the default FFDLController() has l_u = 2), or an argument <= 0 or an
            estimate component equal to zero ("整定参数非法").
        TypeError: controller is not an FFDLController, or a value that does not convert.
    """

def load_config_from_yaml(read: bool, path: str | None = None) -> _SisoArgs:
    """The eleven constructor arguments of a SISO controller, from a YAML file or the defaults.

    read: a bool (an int is refused). False returns the file format's defaults (1.0, 1.0,
    0.1, 0.02, 1e-05, 0, 1, 0.5, 0.0, None, None) without touching any file; these are
    CFDLController's defaults, not PFDLController's or FFDLController's (l_u 2).
    path: the file, a str; None reads config.yaml in the current working directory.

    The file holds one mapping with any of the keys eta, mu, rho, lambda_, eps, L_y, L_u
    (capital L), initial_phi, u0, u_min, u_max; absent keys take the defaults above, unknown
    keys (such as l_u) are ignored silently (`vorn check-config FILE` reports them). The
    result is (eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0, u_min, u_max), so
    PFDLController(*result) builds a controller; the pseudo-orders are tested only then.

    Raises:
        ValueError: "YAML 错误: 无法读取 YAML 文件: ..." (the file cannot be read or is not
            UTF-8), "YAML 错误: YAML 解析失败: ..." (bad YAML, a quoted or wrong-typed value, a
            key given twice, more than one document), or a range message such as
            "eta 必须满足 0 < eta <= 2".
        TypeError: read is not a bool, or path is neither a str nor None.
    """

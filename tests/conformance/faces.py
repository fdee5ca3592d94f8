"""faces.py: the one registry of the suite. A face is a class through which a controller form
is used: the six single classes and the fleets of every form. Each entry says how to build
one, feed it a sample and read everything it holds; the checks take it from there. Adding a
face is one entry in FACES."""

from __future__ import annotations

import inspect
import math
import pickle
from dataclasses import dataclass
from typing import Any, Callable

import numpy as np

from vorn import _vorn_core as core
from vorn import _vorn_fleet as fleets

FLEET_SIZE = 4  # members of the fleets the checks build: more than one, a ragged block
MIMO_DIM = 2

SISO_FORM_MESSAGES = {"cfdl": "CFDL 要求 l_y == 0 且 l_u == 1", "pfdl": "PFDL 要求 l_y == 0 且 l_u >= 1",
                      "ffdl": "FFDL 要求 l_u >= 1"}
MIMO_FORM_MESSAGE = "伪阶数不满足当前控制器格式要求"

# A value for every keyword that differs from its default and is accepted.
OTHER_VALUES = {"eta": 0.7, "mu": 2.5, "rho": 0.3, "lambda_": 0.05, "eps": 1e-3, "initial_phi": -0.25,
                "u0": 0.125, "u_min": -1.5, "u_max": 1.5, "m_upper": 1e3, "m_lower": 1e-3}

# Values that validation refuses, each with the message it gives; a pair refuses together.
REFUSED_VALUES = {
    "eta": ({"eta": 3.0}, "eta 必须满足 0 < eta <= 2"),
    "eta zero": ({"eta": 0.0}, "eta 必须满足 0 < eta <= 2"),
    "mu": ({"mu": 0.0}, "mu 必须为正"),
    "rho": ({"rho": 1.5}, "rho 必须满足 0 < rho <= 1"),
    "lambda_": ({"lambda_": 0.0}, "lambda 必须为正"),
    "eps": ({"eps": -1.0}, "eps 必须为正"),
    "eta before mu": ({"eta": 0.0, "mu": -1.0}, "eta 必须满足 0 < eta <= 2"),
    "limits": ({"u_min": 2.0, "u_max": 1.0}, "u_min 不能大于 u_max"),
    "m_upper": ({"m_upper": 0.0}, "m_upper 必须为正"),
    "m_lower": ({"m_lower": -1.0}, "m_lower 必须为正"),
    "m bounds": ({"m_lower": 2.0, "m_upper": 1.0}, "m_lower 不能大于 m_upper"),
}


def _canon(x: Any) -> bytes:
    """Bit-exact bytes of a result or a state (pickle keeps every double's bits)."""
    return pickle.dumps(x, protocol=5)


@dataclass(frozen=True)
class Face:
    name: str
    cls: type
    family: str                      # "siso", "mimo", "fleet" or "mimo fleet"
    form: str                        # "cfdl", "pfdl" or "ffdl"
    lead: tuple = ()                 # positional arguments every construction needs
    single: type | None = None       # a fleet's member class
    orders: tuple = ()               # accepted pseudo-orders other than the defaults
    refused_orders: tuple = ()       # pseudo-orders the form refuses
    huge: tuple = ()                 # (keywords, exception types): too large to be stored
    form_message: str = ""

    def __str__(self) -> str:
        return self.name

    @property
    def mimo(self) -> bool:
        return self.family in ("mimo", "mimo fleet")

    @property
    def fleet(self) -> bool:
        return self.family in ("fleet", "mimo fleet")

    @property
    def limits(self) -> bool:
        """Whether the face takes input limits (u_min, u_max): the SISO forms do."""
        return not self.mimo

    @property
    def pickles(self) -> bool:
        return self.family != "mimo"

    @property
    def logged(self) -> bool:
        """Whether the face has update_logged (the compact single's update returns the record)."""
        return hasattr(self.cls, "update_logged")

    def make(self, *args: Any, **kwargs: Any) -> Any:
        return self.cls(*(args or self.lead), **kwargs)

    def keywords(self) -> list[str]:
        """The constructor's parameters after the leading positional ones."""
        params = list(inspect.signature(self.cls).parameters)
        return params[len(self.lead):]

    def width(self, obj: Any) -> int:
        """Entries of one estimate (SISO) or layers (MIMO)."""
        phi = obj.get_phi()
        if self.fleet:
            return int(phi.shape[1])
        return len(phi)

    def inputs(self, k: int) -> tuple[Any, Any]:
        """The k-th sample: (y, yd) shaped for this face."""
        if self.family == "siso":
            return math.sin(k / 7), 1.0 + 0.25 * math.cos(k / 3)
        if self.family == "mimo":
            n = self.lead[0]
            return [math.sin(k / 7 + i) for i in range(n)], [1.0 - 0.5 * i for i in range(n)]
        if self.family == "mimo fleet":
            n, dim = self.lead
            return (np.array([[math.sin(k / 7 + i + j / 3) for j in range(dim)] for i in range(n)]),
                    np.array([1.0 - 0.5 * j for j in range(dim)]))
        n = self.lead[0]
        return (np.array([math.sin(k / 7 + i) for i in range(n)]),
                np.array([1.0 + 0.25 * math.cos(k / 3 + i) for i in range(n)]))

    def step(self, obj: Any, k: int, logged: bool = False) -> bytes:
        y, yd = self.inputs(k)
        result = obj.update_logged(y, yd) if logged and self.logged else obj.update(y, yd)
        return _canon(result)

    def snapshot(self, obj: Any) -> tuple:
        """Everything the object shows of itself, bit for bit."""
        if self.family == "siso":
            return repr(obj), _canon(fleets._full_state(obj)), _canon(obj.__getnewargs__())
        if self.family == "mimo":
            return repr(obj), _canon(obj.get_phi()), obj.dim
        return repr(obj), len(obj), _canon(obj.__getstate__()), _canon(obj.get_phi())

    def vector_setters(self) -> list[str]:
        """Setters that take one value per estimate entry."""
        names = ["set_phi_hat"]
        if self.form != "cfdl" and not self.mimo:
            names.append("set_initial_phi")
        if self.form == "ffdl" and not self.mimo:
            names.append("set_rho_vector")
        return names

    def scalar_setters(self) -> list[str]:
        names = ["set_eta", "set_mu", "set_rho", "set_lambda", "set_eps", "set_u0"]
        if self.mimo:
            return names + ["set_m_upper", "set_m_lower", "set_initial_phi"]
        names += ["set_u_min", "set_u_max"]
        return names + (["set_initial_phi"] if self.form == "cfdl" else [])


_BIG = (MemoryError, OverflowError)


def _siso(cls: type, form: str, orders: tuple, refused: tuple, huge: tuple) -> Face:
    return Face(cls.__name__, cls, "siso", form, orders=orders, refused_orders=refused, huge=huge,
                form_message=SISO_FORM_MESSAGES[form])


def _mimo(cls: type, form: str, orders: tuple, refused: tuple) -> Face:
    return Face(cls.__name__, cls, "mimo", form, lead=(MIMO_DIM,), orders=orders, refused_orders=refused,
                huge=(({"dim": 2 ** 40}, _BIG), ({"dim": 2 ** 64}, (OverflowError,)))
                + ((({"l_u": 2 ** 40}, _BIG),) if form != "cfdl" else ()),
                form_message=MIMO_FORM_MESSAGE)


def _fleet(cls: type, single: Face) -> Face:
    huge = single.huge + (({"n": 2 ** 40}, (MemoryError,)), ({"n": 2 ** 62}, (OverflowError,)),
                          ({"n": 2 ** 64}, (OverflowError,)))
    return Face(cls.__name__, cls, "fleet", single.form, lead=(FLEET_SIZE,), single=single.cls,
                orders=single.orders, refused_orders=single.refused_orders, huge=huge,
                form_message=single.form_message)


CFDL = _siso(core.CFDLController, "cfdl", (), ({"l_u": 2}, {"l_y": 1}, {"l_u": 0}), ())
PFDL = _siso(core.PFDLController, "pfdl", ({"l_u": 1}, {"l_u": 5}), ({"l_y": 1}, {"l_u": 0}),
             (({"l_u": 2 ** 40}, (MemoryError,)), ({"l_u": 2 ** 64 - 1}, _BIG), ({"l_u": 2 ** 64}, (OverflowError,))))
FFDL = _siso(core.FFDLController, "ffdl", ({"l_y": 0, "l_u": 1}, {"l_y": 3, "l_u": 2}), ({"l_u": 0},),
             (({"l_y": 2 ** 40}, (MemoryError,)), ({"l_y": 2 ** 63, "l_u": 2 ** 63}, _BIG),
              ({"l_y": -1}, (OverflowError,))))

SINGLES = [
    CFDL, PFDL, FFDL,
    _mimo(core.MimoCfdlController, "cfdl", (), ({"l_u": 2},)),
    _mimo(core.MimoPfdlController, "pfdl", ({"l_u": 3},), ({"l_u": 0}, {"l_y": 1})),
    _mimo(core.MimoFfdlController, "ffdl", ({"l_y": 2, "l_u": 1},), ({"l_u": 0},)),
]
FLEETS = [_fleet(fleets.CFDLFleet, CFDL), _fleet(fleets.PFDLFleet, PFDL), _fleet(fleets.FFDLFleet, FFDL)]


def _mimo_fleet(cls: type, single: Face) -> Face:
    # dim is the second leading argument, so the single's dim entries do not apply.
    huge = tuple(h for h in single.huge if "dim" not in h[0]) + (({"n": 2 ** 40}, _BIG), ({"n": 2 ** 64}, (OverflowError,)))
    return Face(cls.__name__, cls, "mimo fleet", single.form, lead=(FLEET_SIZE, MIMO_DIM), single=single.cls,
                orders=single.orders, refused_orders=single.refused_orders, huge=huge,
                form_message=single.form_message)


MIMO_FLEETS = [_mimo_fleet(cls, single) for cls, single in
               zip((fleets.MimoCfdlFleet, fleets.MimoPfdlFleet, fleets.MimoFfdlFleet), SINGLES[3:])]
FACES = SINGLES + FLEETS + MIMO_FLEETS

PICKLING = [f for f in FACES if f.pickles]
SISO_SINGLES = [f for f in FACES if f.family == "siso"]


def faces(where: Callable[[Face], bool] = lambda f: True) -> list[Face]:
    return [f for f in FACES if where(f)]


def calls(face: Face, obj: Any) -> dict[str, tuple]:
    """Every method of `obj` that takes arguments, with arguments it accepts."""
    y, yd = face.inputs(3)
    width = face.width(obj)
    if face.family == "mimo":
        n = face.lead[0]
        layer = [[0.25 if i == j else 0.0 for j in range(n)] for i in range(n)]
        out = {"update": (y, yd), "set_phi_hat": ([layer] * width,)}
    elif face.family == "mimo fleet":
        n, dim = face.lead
        out = {"update": (y, yd), "set_phi_hat": (np.full((n, width, dim, dim), 0.25),)}
    elif face.family == "siso":
        out = {"update": (y, yd), "set_phi_hat": ([0.25] * width,)}
        if face.form != "cfdl":
            out["set_initial_phi"] = ([0.75] * width,)
    else:
        n = face.lead[0]
        out = {"update": (y, yd), "set_phi_hat": (np.full((n, width), 0.25),)}
        if face.form != "cfdl":
            out["set_initial_phi"] = (np.full((n, width), 0.75),)
    if face.logged:
        out["update_logged"] = (y, yd)
    if face.form == "ffdl" and not face.mimo:
        out["set_rho_vector"] = ([0.5] * width,)
    for name in face.scalar_setters():
        out.setdefault(name, (0.375,))
    return out

"""config.py: the one way from a YAML configuration file to a controller, shared by
`vorn run --config`, `vorn export-c --config` and `vorn check-config`: one read of the file,
the keys the loader reads past (each with the key that was likely meant), and the controller
of a form, or a refusal in one line (exit status 2).

The file is read once, by the loader's own reader (vorn._vorn_config): the keys are seen exactly
as `load_config_from_yaml` sees them (quoted keys, aliases and collection keys included), and
what each class accepts is decided without building it. The companion keys that `vorn tune`
writes after the eleven (vorn.tuning.save.COMPANIONS), which the loader ignores, are applied
here without a warning: the full form's step-factor vector, which the controller then holds
(`set_rho_vector`), and the operating point its loop starts from (`Report.start`). Only a
file in which the loader found one is read a second time, for that key's line.

A MIMO tuning's file (vorn.tuning.mimo_file), which the loader reads past as unknown keys, is
told by its first key, `form: mimo-...`: `read_config` then reads it as such (a second read,
only for a file whose loader's record ignored a `form` key) and gives a `MimoReport`, whose
controller is the MIMO class (`signed_controller`: with the channels' input signs applied).
"""

from __future__ import annotations

import difflib
from typing import Any, NamedTuple, TextIO

from vorn import _vorn_config
from vorn.cli.errors import UsageError
from vorn.files import read_text
from vorn.forms import FILE_KEYS, SISO
from vorn.messages import explain
from vorn.tuning.mimo_file import MimoRecord, is_mimo_text, parse_mimo_text
from vorn.tuning.mimo_signs import signed
from vorn.tuning.save import COMPANIONS, RHO_VECTOR_KEY, START_KEY, read_companion

__all__ = ["FILE_KEYS", "Ignored", "MimoReport", "Refused", "Report", "check", "configured",
           "controller_from_file", "likely_key", "read_config"]

# Spellings that users reach for and that normalising cannot map.
ALTERNATIVES = {
    "lam": "lambda_",
    "lamda": "lambda_",
    "epsilon": "eps",
    "phi": "initial_phi",
    "phi0": "initial_phi",
    "phi_0": "initial_phi",
    "phi_init": "initial_phi",
    "initial_phi_hat": "initial_phi",
    "u_init": "u0",
    "uo": "u0",
    "u_lower": "u_min",
    "u_upper": "u_max",
    "umin": "u_min",
    "umax": "u_max",
}

# Parameters of the MIMO classes only; the file holds the parameters of a SISO controller.
MIMO_ONLY = frozenset({"dim", "m_upper", "m_lower"})


def _normal(key: str) -> str:
    return key.casefold().replace("_", "").replace("-", "")


_BY_NORMAL = {_normal(k): k for k in FILE_KEYS}


def likely_key(key: str) -> str | None:
    """The file key that `key` most likely meant (`l_u` → `L_u`, `lamda_` → `lambda_`), or None."""
    if key in ALTERNATIVES:
        return ALTERNATIVES[key]
    folded = key.casefold()
    if folded in ALTERNATIVES:
        return ALTERNATIVES[folded]
    if _normal(key) in _BY_NORMAL:
        return _BY_NORMAL[_normal(key)]
    close = difflib.get_close_matches(folded, [k.casefold() for k in FILE_KEYS], n=1, cutoff=0.6)
    return _BY_NORMAL[_normal(close[0])] if close else None


class Ignored(NamedTuple):
    """A key of the root mapping that the loader ignores; key None when it is a collection."""

    key: str | None
    line: int
    column: int

    def describe(self) -> str:
        where = f"line {self.line}, column {self.column}"
        if self.key is None:
            return f"ignored a key that is a collection at {where}"
        text = f"ignored key '{self.key}' at {where}"
        if self.key in MIMO_ONLY:
            return text + " (a parameter of the MIMO classes only; the file holds SISO parameters)"
        meant = likely_key(self.key)
        return text + (f" (did you mean '{meant}'?)" if meant else "")


# (eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0, u_min, u_max)
SisoArgs = tuple[float, float, float, float, float, int, int, float, float, float | None, float | None]


class Refused(UsageError):
    """A configuration file that cannot give the controller asked for, in one line naming the
    file (with the English meaning of the module's message): exit status 2."""


def refused(path: str, error: BaseException) -> Refused:
    message = str(error) or "not enough memory"
    english = explain(message)
    return Refused(f"{path}: {message}" + (f" ({english})" if english else ""))


class Report(NamedTuple):
    """One read of a configuration file: the record it yields, the keys the loader ignored,
    and what a tuning's comment lines add: the step-factor vector (None: none) and where the
    loop starts ("plant", the plant's initial output, or None, zero)."""

    path: str
    params: SisoArgs
    ignored: list[Ignored]
    rho_vector: list[float] | None = None
    start: str | None = "plant"

    def warnings(self, form: str | None = None) -> list[str]:
        """One line per ignored key, and one for a step-factor vector that `form` does not take."""
        lines = [f"{self.path}: {k.describe()}" for k in self.ignored]
        if form is not None and form != "ffdl" and self.rho_vector is not None:
            lines.append(f"{self.path}: ignored the rho_vector key: only the full form (ffdl) "
                         f"takes a step-factor vector")
        return lines

    def refusal(self, form: str) -> ValueError | OverflowError | MemoryError | None:
        """What the class of `form` raises when built from the record (None: it builds),
        decided without allocating the controller's state."""
        return _vorn_config.refusal(form, self.params)

    def controller(self, form: str) -> Any:
        """The controller of `form`; Refused when its class refuses the record."""
        error = self.refusal(form)
        if error is not None:
            raise refused(self.path, error)
        vector = self.rho_vector if form == "ffdl" else None
        width = self.params[5] + self.params[6]
        if vector is not None and len(vector) != width:
            raise Refused(f"{self.path}: the rho_vector key holds {len(vector)} step factors; "
                          f"L_y + L_u = {width} needs one per estimate component")
        try:
            controller = SISO[form].single(*self.params)
        except (ValueError, OverflowError, MemoryError) as late:  # memory that ran out after the check
            raise refused(self.path, late) from None
        if vector is not None:
            controller.set_rho_vector(vector)
        return controller


def check(path: str) -> Report:
    """Reads `path` once, as `load_config_from_yaml(True, path)` does: its record and the keys it
    ignored; Refused, with the loader's message, when it refuses the file."""
    try:
        params, ignored = _vorn_config.load(path)
    except ValueError as error:
        raise refused(path, error) from None
    found = [Ignored(*k) for k in ignored]
    noted = _companions(path, [k for k in found if k.key in COMPANIONS])
    return Report(path, params, [k for k in found if k.key not in COMPANIONS],
                  noted.get(RHO_VECTOR_KEY), noted.get(START_KEY, "plant"))


def _companions(path: str, keys: list[Ignored]) -> dict[str, Any]:
    """The companion keys' values, from their lines (the file read again only when it has one)."""
    if not keys:
        return {}
    lines = _text(path).splitlines()
    values: dict[str, Any] = {}
    for key in keys:
        assert key.key is not None
        if key.key in values:
            raise Refused(f"{path}: {key.key} is given twice (line {key.line})")
        try:
            values[key.key] = read_companion(key.key, lines[key.line - 1][key.column - 1:])
        except (ValueError, IndexError) as error:
            raise Refused(f"{path}: line {key.line}: {error}") from None
    return values


class MimoReport(NamedTuple):
    """A MIMO tuning's file, read: its record (form, parameters, channel signs, operating
    point, tuned PID)."""

    path: str
    record: MimoRecord

    @property
    def start(self) -> str | None:
        return self.record.operating_point

    def controller(self, form: str | None = None) -> Any:
        """The MIMO controller the file holds; Refused when `form` (if given) is not its form,
        or when its class refuses the parameters."""
        if form is not None and form != self.record.form:
            raise Refused(f"{self.path}: holds a MIMO {self.record.form} tuning, not {form} (give --form "
                          f"{self.record.form}, or leave --form out)")
        try:
            return self.record.controller()
        except (ValueError, OverflowError, MemoryError, TypeError) as error:
            raise refused(self.path, error) from None

    def signed_controller(self, form: str | None = None) -> Any:
        """controller() with its inputs multiplied by the channels' signs (as given when one
        is negative): what runs on the plant."""
        controller = self.controller(form)
        return signed(controller, self.record.signs) if min(self.record.signs) < 0.0 else controller


def read_config(path: str) -> Report | MimoReport:
    """`check(path)`, or, for a MIMO tuning's file, its MimoReport; Refused for a file that
    neither reader takes."""
    try:
        report = check(path)
    except Refused as refusal:  # a MIMO tuning's file with a value the loader refuses: its own reader says why
        try:
            text = _text(path)
        except Refused:
            raise refusal from None
        if not is_mimo_text(text):
            raise
        return _mimo_report(path, text)
    if not any(k.key == "form" for k in report.ignored):
        return report
    text = _text(path)
    return _mimo_report(path, text) if is_mimo_text(text) else report


def _text(path: str) -> str:
    """The file's text, read again (it is small, and never a FIFO: vorn.files.read_text); a
    Refused naming the failure."""
    try:
        return read_text(path)
    except (OSError, ValueError) as error:  # the loader read it a moment ago (UnicodeDecodeError is one)
        raise Refused(f"{path}: {getattr(error, 'strerror', None) or error}") from None


def _mimo_report(path: str, text: str) -> MimoReport:
    try:
        return MimoReport(path, parse_mimo_text(text))
    except ValueError as error:
        raise Refused(f"{path}: {error}") from None


def controller_from_file(form: str, path: str, warnings: TextIO) -> Any:
    """The controller of `form` that the configuration file `path` gives, the ignored keys
    reported to `warnings` first; Refused when the file or the class refuses. The one way from
    a file to a controller of `vorn run --config`, `vorn export-c` and `vorn check-config`."""
    return configured(form, path, warnings)[0]


def configured(form: str | None, path: str, warnings: TextIO,
               report: Report | MimoReport | None = None) -> tuple[Any, str | None]:
    """controller_from_file's controller, and where its loop starts (`simulate`'s start); for
    a MIMO tuning's file, its signed MIMO controller (`form` None: the file's form). `report`
    is the file as `read_config` read it, when the caller has read it already."""
    report = read_config(path) if report is None else report
    if isinstance(report, MimoReport):
        return report.signed_controller(form), report.start
    if form is None:
        raise UsageError("the following arguments are required: --form (a SISO configuration file "
                         "does not name its form)")
    for line in report.warnings(form):
        print(f"vorn: warning: {line}", file=warnings)
    return report.controller(form), report.start

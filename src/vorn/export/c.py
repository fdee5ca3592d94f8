"""c.py: writes a controller as dependency-free C99 that computes the same doubles.

`export_c(controller, directory, name)` writes `NAME.h` and `NAME.c`. For a SISO controller:
a struct `NAME_t` with fixed-size arrays, `NAME_init` (the controller as it stands now:
parameters, estimate, reset value, histories), `NAME_update`, `NAME_reset`, `NAME_start` (the
operating point of `vorn.start`) and setters for the tuning parameters. The templates beside
this module lay out the state and the steps; every formula they apply is the core's own,
from `step.h`, whose text `NAME.c` carries as it is. So with the flags named in the header
every result is the same double, NaN and infinities included. MIMO controllers are written
by `vorn.export.mimo` the same way; the names are checked here for both.
"""

from __future__ import annotations

import math
import os
import re
from string import Template
from typing import Any

from vorn.export import mimo
from vorn.export.text import (BITS_HELPER, Field, array, init_lines, length_of, scalar, state_size, struct_lines,
                              template)
from vorn.files import write_files
from vorn.forms import MIMO, SISO, form_of
from vorn.loop.start import INPUT_HISTORIES, OUTPUT_HISTORIES

__all__ = ["export_c", "check_c_name"]


_IDENTIFIER = re.compile(r"[A-Za-z][A-Za-z0-9_]*", re.ASCII)
# C99 and later keywords (the underscore-capital ones are refused as reserved anyway).
_C_KEYWORDS = frozenset("""
    auto break case char const continue default do double else enum extern float for goto if
    inline int long register restrict return short signed sizeof static struct switch typedef
    union unsigned void volatile while alignas alignof bool constexpr false nullptr
    static_assert thread_local true typeof typeof_unqual
""".split())


def _integer_types() -> list[str]:
    widths = ("8", "16", "32", "64")
    kinds = [f"{w}" for w in widths] + [f"_least{w}" for w in widths] + [f"_fast{w}" for w in widths]
    return [f"{sign}int{kind}_t" for sign in ("", "u") for kind in kinds + ["max", "ptr"]]


# The `_t` types of the standard C headers (C99 to C23, Annex K included) and of POSIX's
# <sys/types.h>: a struct `NAME_t` must not redefine one of them in a file that includes both.
_C_TYPES = _integer_types() + """
    size_t ptrdiff_t wchar_t wint_t max_align_t nullptr_t char8_t char16_t char32_t mbstate_t
    fpos_t clock_t time_t div_t ldiv_t lldiv_t imaxdiv_t sig_atomic_t fenv_t fexcept_t
    float_t double_t errno_t rsize_t constraint_handler_t wctype_t wctrans_t thrd_t mtx_t
    cnd_t tss_t tss_dtor_t thrd_start_t memory_order_t
""".split()
_POSIX_TYPES = """
    ssize_t off_t pid_t uid_t gid_t id_t mode_t dev_t ino_t nlink_t blksize_t blkcnt_t
    fsblkcnt_t fsfilcnt_t suseconds_t useconds_t clockid_t timer_t key_t locale_t trace_id_t
    pthread_t pthread_attr_t pthread_mutex_t pthread_cond_t pthread_key_t pthread_once_t
    socklen_t sigset_t regex_t regoff_t regmatch_t glob_t iconv_t nl_catd_t caddr_t
""".split()
_ATOMIC_TYPES = [f"atomic_{t}" for t in _integer_types()
                 + "size_t ptrdiff_t wchar_t char8_t char16_t char32_t".split()]
_LIBRARY_TYPES = frozenset(_C_TYPES + _POSIX_TYPES + _ATOMIC_TYPES)
# Base names of the standard C and POSIX headers, compared without case (some file systems
# fold it): `NAME.h` beside the code must not stand in for one of them.
_LIBRARY_HEADERS = frozenset("""
    assert complex ctype errno fenv float inttypes iso646 limits locale math setjmp signal
    stdalign stdarg stdatomic stdbit stdbool stdckdint stddef stdint stdio stdlib stdnoreturn
    string tgmath threads time uchar wchar wctype
    aio cpio dirent dlfcn fcntl fmtmsg fnmatch ftw glob grp iconv langinfo libgen monetary
    mqueue ndbm netdb nl_types poll pthread pwd regex sched search semaphore spawn strings
    syslog tar termios unistd utime utmpx wordexp
""".split())


def check_c_name(name: object) -> str:
    """Returns `name` if it can prefix the generated C names and files, else raises: a name
    must be a C identifier, not a keyword, not reserved (a leading underscore), and must not
    make `NAME_t` one of the C library's types, `NAME.h` one of its headers, or a generated
    name one of the step arithmetic's that `NAME.c` carries."""
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    if name.startswith("_"):
        raise ValueError(f"name {name!r} begins with an underscore: such C identifiers are reserved")
    if not _IDENTIFIER.fullmatch(name):
        raise ValueError(f"name {name!r} is not a C identifier (ASCII letters, digits and '_', "
                         "starting with a letter)")
    if name in _C_KEYWORDS:
        raise ValueError(f"name {name!r} is a C keyword")
    if f"{name}_t" in _LIBRARY_TYPES:
        raise ValueError(f"name {name!r} would make the struct {name}_t, which redefines the C "
                         "library's type of that name")
    if name.lower() in _LIBRARY_HEADERS:
        raise ValueError(f"name {name!r} would write {name}.h, which hides the system header "
                         f"<{name.lower()}.h> from code built with the export's directory on its "
                         "include path")
    formulas = _formula_names()
    # NAME_initial_FIELD: the tables NAME_init copies the arrays from.
    taken = (_generated_names(name) & formulas) | {f for f in formulas if f.startswith(f"{name}_initial_")}
    if taken:
        raise ValueError(f"name {name!r} would make {min(taken)}, a name the exported step arithmetic "
                         "already uses")
    return name


_FORMULAS_FILE = "step.h"


def _formula_text() -> str:
    return template(_FORMULAS_FILE)


def _formula_names() -> frozenset[str]:
    """Every identifier of the step arithmetic (SISO and MIMO), include guards and parameters
    included."""
    return frozenset(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", _formula_text() + mimo.formula_text()))


def _generated_names(name: str) -> set[str]:
    """The identifiers and macros that the templates and this module make from `name`."""
    texts = [template(t) for t in _BODIES] + [_CFDL_PROTOTYPES, _FFDL_PROTOTYPES, BITS_HELPER]
    texts += mimo.generated_texts()
    made = set()
    for text in texts:
        made |= {f"{name}_{s}" for s in re.findall(r"\$\{P\}_([A-Za-z0-9_]+)", text)}
        made |= {f"{name.upper()}_{s}" for s in re.findall(r"\$\{P_UP\}_([A-Za-z0-9_]+)", text)}
    made |= {f"{name.upper()}_{s}" for s in ("H", "L_Y", "L_U", "N")}  # the guard and the orders
    return made


def _form_of(controller: object) -> tuple[str, bool]:
    """The controller's form and whether it is MIMO; TypeError for anything but a controller."""
    form = form_of(controller)
    if form is not None and type(controller) is form.single:
        return form.name, form.mimo
    kind = type(controller).__name__
    names = [f.single.__name__ for f in SISO.values()] + [f.single.__name__ for f in MIMO.values()]
    raise TypeError(f"export_c needs a controller ({', '.join(names[:-1])} or {names[-1]}), not {kind}")


def _full_state(controller: Any) -> dict[str, Any]:
    # The pickle state plus the estimate's reset value, which no public method shows.
    from vorn._vorn_fleet import _full_state as full_state

    state: dict[str, Any] = full_state(controller)
    return state


# --- the state record: one table drives the struct, its size and NAME_init ---------------

def _limit(value: float | None) -> tuple[float, int]:
    return (0.0, 0) if value is None else (float(value), 1)


def _prefix(values: list[float], count: int, what: str) -> list[float]:
    # Entries past `count` are carried by the controller but never read by its update.
    if len(values) < count:
        raise ValueError(f"the controller's {what} has {len(values)} entries; its update reads {count}")
    return [float(v) for v in values[:count]]


def _fields(form: str, state: dict[str, Any]) -> list[Field]:
    u_min, has_u_min = _limit(state["u_min"])
    u_max, has_u_max = _limit(state["u_max"])
    doubles = [
        scalar("eta", state["eta"], "step factor of the estimate"),
        scalar("mu", state["mu"], "regularising weight of the estimate"),
        scalar("rho", state["rho"], "step factor of the control law"),
        scalar("lambda", state["lambda"], "weight of the input change in the control law"),
        scalar("eps", state["eps"], "threshold of the reset rule"),
        scalar("u0", state["u0"], "input the history restarts from at reset"),
        scalar("u_min", u_min, "lower input limit, in force when has_u_min"),
        scalar("u_max", u_max, "upper input limit, in force when has_u_max"),
    ]
    ints = [
        scalar("has_u_min", has_u_min, "1: u_min is in force", "int"),
        scalar("has_u_max", has_u_max, "1: u_max is in force", "int"),
    ]
    if form == "cfdl":
        doubles += [
            scalar("phi_hat", state["phi_hat"], "current estimate of the pseudo partial derivative"),
            scalar("phi_reset", state["phi_reset"], "value the reset rule and reset restore"),
            scalar("y_prev", state["y_prev"], "y(k-1)"),
            scalar("u_prev", state["u_prev"], "u(k-1)"),
            scalar("u_prev2", state["u_prev2"], "u(k-2)"),
        ]
        return doubles + ints

    l_y, l_u = int(state["l_y"]), int(state["l_u"])
    n = l_y + l_u
    phi = [float(v) for v in state["phi_hat"]]
    phi_reset = [float(v) for v in state["phi_reset"]]
    least = n if form == "ffdl" else 1
    phi_len, reset_len = min(len(phi), n), min(len(phi_reset), n)
    _prefix(phi, least, "estimate")
    _prefix(phi_reset, least, "reset value of the estimate")
    pad = [0.0] * n
    doubles += [
        array("phi_hat", ("N", 0), (phi + pad)[:n], "estimate; phi_len entries in use"),
        array("phi_reset", ("N", 0), (phi_reset + pad)[:n], "value the reset rule and reset restore"),
    ]
    if form == "ffdl":
        rho_vector = state["rho_vector"]
        doubles.append(array("rho_vector", ("N", 0), pad if rho_vector is None else _prefix(rho_vector, n, "rho_vector"),
                              "step factor per estimate component, in force when has_rho_vector"))
        doubles.append(array("y_hist", ("L_Y", 1), _prefix(state["y_hist"], l_y + 1, "y_hist"),
                              "y(k-1-i), newest first"))
    else:
        doubles.append(scalar("y_prev", state["y_prev"], "y(k-1)"))
    doubles.append(array("u_hist", ("L_U", 1), _prefix(state["u_hist"], l_u + 1, "u_hist"), "u(k-1-j), newest first"))
    doubles.append(array("delta_h", ("N", 0), pad, "the update's increment vector (scratch)"))
    ints += [
        scalar("phi_len", phi_len, "entries of phi_hat in use", "int"),
        scalar("phi_reset_len", reset_len, "entries of phi_reset in use", "int"),
    ]
    if form == "ffdl":
        ints.append(scalar("has_rho_vector", 0 if state["rho_vector"] is None else 1,
                            "1: rho_vector weights the law", "int"))
    return doubles + ints


# --- rendering -------------------------------------------------------------------------

def _start_lines(fields: list[Field], macro: str) -> str:
    """NAME_start's statements: every entry of the output histories becomes y0, every entry
    of the input histories u0 (the histories `vorn.start` sets), then the present estimate
    becomes the reset value, as restoring the state `vorn.start` writes back makes it."""
    lines = []
    for f in fields:
        level = "y0" if f.name in OUTPUT_HISTORIES else "u0" if f.name in INPUT_HISTORIES else None
        if level is None:
            continue
        if f.length is None:
            lines.append(f"c->{f.name} = {level};")
        else:
            lines.append(f"for (i = 0; i < {length_of(f, macro)}; ++i) {{ c->{f.name}[i] = {level}; }}")
    if any(f.name == "phi_len" for f in fields):
        lines.append("for (i = 0; i < c->phi_len; ++i) { c->phi_reset[i] = c->phi_hat[i]; }")
        lines.append("c->phi_reset_len = c->phi_len;")
    else:
        lines.append("c->phi_reset = c->phi_hat;")
    declare = ["int i;"] if any("i = 0" in line for line in lines) else []
    return "".join(f"    {line}\n" for line in declare + lines)


_CFDL_PROTOTYPES = """
/* The estimate and its reset value both become phi. */
void ${P}_set_phi_hat(${P}_t *c, double phi);
/* The reset value alone; the estimate takes it at its next reset. */
void ${P}_set_initial_phi(${P}_t *c, double phi);
"""
_VECTOR_PROTOTYPES = """
/* The estimate and its reset value both become phi. */
void ${P}_set_phi_hat(${P}_t *c, const double phi[${P_UP}_N]);
/* The reset value alone; the estimate takes it at its next reset. */
void ${P}_set_initial_phi(${P}_t *c, const double phi[${P_UP}_N]);
"""
_FFDL_PROTOTYPES = _VECTOR_PROTOTYPES + """/* Per-component step factors of the control law, in force from the next update on. */
void ${P}_set_rho_vector(${P}_t *c, const double rho[${P_UP}_N]);
"""
# The most stack NAME_update needs, whatever the orders: every function holds a fixed handful
# of scalars, none an array, none recurses. The deepest chain of calls from the update holds
# 256 bytes of frames at most (gcc -fstack-usage, -O0 and -O2, x86-64): this is twice that,
# for targets with larger frames. Even the frames of the update and of all it may call
# summed stay within it (480 bytes at -O0, where the step arithmetic stays out of line);
# tests/test_export_c.py checks that sum.
UPDATE_STACK_BYTES = 512

_BODIES = ("header.h.in", "common.c.in", "cfdl.c.in", "estimator.c.in", "pfdl.c.in", "ffdl.c.in")


def render(controller: Any, name: str = "vorn_ctrl") -> tuple[str, str]:
    """The texts of `NAME.h` and `NAME.c` for `controller`, as `export_c` writes them."""
    from vorn._version import __version__

    form, is_mimo = _form_of(controller)
    check_c_name(name)
    if is_mimo:
        return mimo.render(controller, name)
    state = _full_state(controller)
    fields = _fields(form, state)
    macro = name.upper()
    doubles, ints, size = state_size(fields)
    defines = ""
    if form != "cfdl":
        l_y, l_u = int(state["l_y"]), int(state["l_u"])
        defines = (f"#define {macro}_L_Y {l_y} /* output pseudo-order */\n"
                   f"#define {macro}_L_U {l_u} /* input pseudo-order */\n"
                   f"#define {macro}_N {l_y + l_u} /* entries of the estimate */\n")
    else:
        l_y, l_u = 0, 1
    prototypes = {"cfdl": _CFDL_PROTOTYPES, "pfdl": _VECTOR_PROTOTYPES, "ffdl": _FFDL_PROTOTYPES}[form]
    nonfinite = any(not math.isfinite(v) for f in fields if f.ctype == "double"
                    for v in (f.value if f.length else [f.value]))
    names = {"P": name, "P_UP": macro}
    init, tables = init_lines(fields, name, macro)
    values = {
        **names,
        "TITLE": SISO[form].title, "VERSION": __version__, "CLASS": type(controller).__name__,
        "DOUBLES": doubles, "INTS": ints, "BYTES": -(-size // 8) * 8, "BYTES_4": size, "L_Y": l_y, "L_U": l_u,
        "GUARD": f"{macro}_H", "DEFINES": defines,
        "FIELDS": "".join(struct_lines(fields, macro)),
        "PROTOTYPES": Template(prototypes).substitute(names),
        "BITS": Template(BITS_HELPER).substitute(names) if nonfinite else "",
        "INIT": "".join(init), "TABLES": "".join(tables), "STACK": UPDATE_STACK_BYTES,
        "FORMULAS": _formula_text(), "START": _start_lines(fields, macro),
    }
    header = Template(template("header.h.in")).substitute(values)
    bodies = ["common.c.in"] + (["cfdl.c.in"] if form == "cfdl" else ["estimator.c.in", f"{form}.c.in"])
    source = "".join(Template(template(b)).substitute(values) for b in bodies)
    return header, source


# --- writing -----------------------------------------------------------------------------

def export_c(controller: Any, directory: str | os.PathLike[str], name: str = "vorn_ctrl") -> tuple[str, str]:
    """Writes `NAME.h` and `NAME.c` into `directory` (which must exist) and returns their paths.

    The C code computes, from the state the controller has now, the doubles the controller
    computes; the header names the compiler flags that keep them exact. Raises TypeError for
    anything but a controller (SISO or MIMO), ValueError for a name that cannot prefix C
    identifiers or a MIMO controller of dim 0, and the OS error when the directory cannot be
    written (no file is then changed).
    """
    header, source = render(controller, name)
    directory = os.fspath(directory)
    targets = [os.path.join(directory, f"{name}.h"), os.path.join(directory, f"{name}.c")]
    write_files([(targets[0], header), (targets[1], source)])
    return targets[0], targets[1]

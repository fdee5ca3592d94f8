"""Exported C controllers: compiled, they return the Python controllers' doubles bit for bit."""

from __future__ import annotations

import importlib
import math
import random
import re
import runpy
import shutil
import struct
import subprocess
import sys
from pathlib import Path
from typing import Any

import pytest

import vorn
from tests.running import SANITIZED

ex = importlib.import_module("vorn.export.c")

CC = shutil.which("gcc") or shutil.which("cc")
needs_cc = pytest.mark.skipif(CC is None, reason="no C compiler (gcc or cc) on PATH to build the exported code")
# scripts/test-sanitized exports VORN_SANITIZED=1: the exported code is then checked under the sanitizers too.
SANITIZE = ["-fsanitize=address,undefined", "-fno-sanitize-recover=all"] if SANITIZED else []
STRICT = ["-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", "-O2", "-ffp-contract=off"]

CLASSES = {"cfdl": vorn.CFDLController, "pfdl": vorn.PFDLController, "ffdl": vorn.FFDLController}
EXOTIC = [math.nan, math.inf, -math.inf, 0.0, -0.0, 1e300, -1e300, 5e-324]

# Reads commands from stdin, drives the exported controller `ctl`, prints every result as bits.
HARNESS = r"""
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include "ctl.h"

static double num(void) { uint64_t b = 0; double d; if (scanf("%" SCNx64, &b) != 1) b = 0; memcpy(&d, &b, sizeof d); return d; }
static void show(double d) { uint64_t b; memcpy(&b, &d, sizeof b); printf(" %016" PRIx64, b); }

int main(void)
{
    static ctl_t c;
    char op[32];
    ctl_init(&c);
    printf("%d\n", (int)sizeof c);
    while (scanf("%31s", op) == 1) {
        if (!strcmp(op, "u")) {
            const double y = num();
            const double u = ctl_update(&c, y, num());
            show(u);
#ifdef CTL_N
            { int i; for (i = 0; i < c.phi_len; ++i) show(c.phi_hat[i]); }
#else
            show(c.phi_hat);
#endif
            printf("\n");
        }
        else if (!strcmp(op, "reset")) ctl_reset(&c);
        else if (!strcmp(op, "eta")) ctl_set_eta(&c, num());
        else if (!strcmp(op, "mu")) ctl_set_mu(&c, num());
        else if (!strcmp(op, "rho")) ctl_set_rho(&c, num());
        else if (!strcmp(op, "lambda")) ctl_set_lambda(&c, num());
        else if (!strcmp(op, "eps")) ctl_set_eps(&c, num());
        else if (!strcmp(op, "u0")) ctl_set_u0(&c, num());
        else if (!strcmp(op, "u_min")) ctl_set_u_min(&c, num());
        else if (!strcmp(op, "u_max")) ctl_set_u_max(&c, num());
        else if (!strcmp(op, "no_u_min")) ctl_clear_u_min(&c);
        else if (!strcmp(op, "no_u_max")) ctl_clear_u_max(&c);
        else if (!strcmp(op, "start")) { const double y0 = num(); ctl_start(&c, y0, num()); }
#ifdef CTL_N
        else {
            double v[CTL_N];
            int i;
            for (i = 0; i < CTL_N; ++i) v[i] = num();
            if (!strcmp(op, "phi_hat")) ctl_set_phi_hat(&c, v);
            else if (!strcmp(op, "initial_phi")) ctl_set_initial_phi(&c, v);
#ifdef CTL_RHO_VECTOR
            else if (!strcmp(op, "rho_vector")) ctl_set_rho_vector(&c, v);
#endif
            else return 2;
        }
#else
        else if (!strcmp(op, "phi_hat")) ctl_set_phi_hat(&c, num());
        else if (!strcmp(op, "initial_phi")) ctl_set_initial_phi(&c, num());
        else return 2;
#endif
    }
    return 0;
}
"""


def bits(x: float) -> str:
    return f"{struct.unpack('<Q', struct.pack('<d', x))[0]:016x}"


def same_up_to_nan_payload(line: str) -> list[str]:
    # Where two NaNs of different sign or payload meet in one operation, IEEE 754 leaves
    # open which one the result carries, and compilers order the operands of a commutative
    # instruction as they like. No comparison or fabs reads a NaN's sign or
    # payload, so NaN-ness is all that can matter; every other double must match exactly.
    return ["nan" if math.isnan(struct.unpack("<d", bytes.fromhex(h)[::-1])[0]) else h for h in line.split()]


@pytest.fixture
def reset_values(monkeypatch: pytest.MonkeyPatch) -> dict[int, Any]:
    """The reset value each test controller holds, as the test knows it: the export's view
    of it is checked against this record."""
    known: dict[int, Any] = {}
    real = ex._full_state

    def full_state(controller: Any) -> dict[str, Any]:
        state = real(controller)
        assert repr(state["phi_reset"]) == repr(known[id(controller)])
        return state

    monkeypatch.setattr(ex, "_full_state", full_state)
    return known


def update(ctl: Any, y: float, yd: float) -> tuple[float, str]:
    """One update of the Python controller: u, and the line the harness prints for it."""
    result = ctl.update(y, yd)
    if isinstance(ctl, vorn.CFDLController):
        u, phi = result[0], [result[4]]
    else:
        state = ctl.__getstate__()
        u, phi = result, ctl.get_phi()[: state["l_y"] + state["l_u"]]
    return u, " " + " ".join(bits(v) for v in [u, *phi])


class Run:
    """A controller, the commands given to it and the lines its exported twin must print."""

    def __init__(self, form: str, rng: random.Random, reset_values: dict[int, Any], exotic: bool):
        self.form, self.rng, self.exotic = form, rng, exotic
        self.params = self.random_params()
        self.ctl = CLASSES[form](**self.params)
        self.n = self.params["l_y"] + self.params["l_u"]
        self.known = reset_values
        self.remember([self.params["initial_phi"]] * self.n if form != "cfdl" else self.params["initial_phi"])
        self.commands: list[str] = []
        self.expected: list[str] = []
        self.y = 0.0

    def random_params(self) -> dict[str, Any]:
        r = self.rng
        l_y = r.choice([0, 1, 3, 12]) if self.form == "ffdl" else 0
        l_u = 1 if self.form == "cfdl" else r.choice([1, 2, 5, 30])
        lo = r.uniform(-3.0, 0.0)
        limits = r.choice([(None, None), (lo, None), (None, -lo), (lo, lo + r.uniform(0, 4)), (lo, lo)])
        params = dict(eta=r.uniform(0.05, 2.0), mu=r.uniform(0.01, 4.0), rho=r.uniform(0.01, 1.0),
                      lambda_=r.uniform(1e-3, 3.0), eps=10 ** r.uniform(-9, -2), l_y=l_y, l_u=l_u,
                      initial_phi=r.choice([-1, 1]) * r.uniform(0.05, 2.0), u0=r.uniform(-1, 1),
                      u_min=limits[0], u_max=limits[1])
        if self.exotic:  # validation lets NaN through
            params[r.choice(["u_min", "u_max", "initial_phi", "eps"])] = math.nan
        return params

    def remember(self, value: Any) -> None:
        self.known[id(self.ctl)] = value

    def value(self) -> float:
        r = self.rng
        return r.choice(EXOTIC) if self.exotic and r.random() < 0.3 else r.uniform(-2.0, 2.0)

    def vector(self, odd_length: bool) -> list[float]:
        # The C setters take exactly N entries; Python also takes longer ones, and shorter
        # ones down to one entry in the partial form, which the export must carry over.
        least = 1 if self.form == "pfdl" else self.n
        length = self.rng.randint(least, self.n + 3) if odd_length else self.n
        return [self.rng.choice([-1, 1]) * self.rng.uniform(0.01, 2.0) for _ in range(length)]

    def step(self, record: bool) -> None:
        """One closed-loop sample on a noisy first-order plant, now and then an odd value."""
        r = self.rng
        y = self.y
        if self.exotic and r.random() < 0.004:
            y = r.choice(EXOTIC)
        yd = r.choice([1.0, -0.5, 2.5]) if r.random() > 0.002 else r.choice(EXOTIC)
        u, line = update(self.ctl, y, yd)
        if record:
            self.commands.append(f"u {bits(y)} {bits(yd)}")
            self.expected.append(line)
        u_in = u if math.isfinite(u) else 0.0
        self.y = 0.6 * self.y + 0.5 * u_in + r.gauss(0.0, 0.01)
        if not math.isfinite(self.y) or abs(self.y) > 1e6:
            self.y = 0.0

    def tune(self, record: bool) -> None:
        """A setter call, as a running loop might make it."""
        r = self.rng
        name = r.choice(["eta", "mu", "rho", "lambda", "eps", "u0", "u_min", "u_max", "no_u_min",
                         "no_u_max", "phi_hat", "initial_phi", "reset"]
                        + (["rho_vector"] * 2 if self.form == "ffdl" else []))
        if name == "reset":
            self.ctl.reset()
            cmd = "reset"
        elif name.startswith("no_"):
            getattr(self.ctl, f"set_{name[3:]}")(None)
            cmd = name
        elif name in ("phi_hat", "initial_phi", "rho_vector"):
            v = self.vector(odd_length=not record and name != "rho_vector")
            if self.form == "cfdl":  # a one-entry list for the estimate, a number for its reset value
                v = v[:1]
                getattr(self.ctl, f"set_{name}")(v if name == "phi_hat" else v[0])
            else:
                getattr(self.ctl, f"set_{name}")(v)
            if name != "rho_vector":
                self.remember(v if self.form != "cfdl" else v[0])
            cmd = " ".join([name, *map(bits, v)])
        else:
            v = self.value() if name != "eps" else 10 ** r.uniform(-9, -2)
            getattr(self.ctl, f"set_{name}")(v)
            cmd = f"{name} {bits(v)}"
        if record:
            self.commands.append(cmd)


def run_exported(tmp: Path, commands: list[str]) -> list[list[str]]:
    """Builds the harness around the exported `ctl` in `tmp` with the strict flags, feeds it
    the commands and returns what it printed for each update."""
    (tmp / "harness.c").write_text(HARNESS)
    exe = tmp / "harness"
    full_form = ["-DCTL_RHO_VECTOR"] if "ctl_set_rho_vector" in (tmp / "ctl.h").read_text() else []
    built = subprocess.run([CC, *STRICT, *SANITIZE, *full_form, "-I", str(tmp), str(tmp / "harness.c"),
                            str(tmp / "ctl.c"), "-o", str(exe), "-lm"], capture_output=True, text=True)
    assert built.returncode == 0, built.stderr
    out = subprocess.run([str(exe)], input="\n".join(commands) + "\n", capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert f", {lines[0]} bytes on" in (tmp / "ctl.h").read_text()  # the size the header states
    return [same_up_to_nan_payload(line) for line in lines[1:]]


def assert_replays(tmp: Path, run: "Run") -> None:
    """The exported `ctl` in `tmp`, given the run's commands, prints the lines Python gave."""
    got = run_exported(tmp, run.commands)
    want = [same_up_to_nan_payload(line) for line in run.expected]
    assert got == want, first_difference(got, want)


def first_difference(got: list[list[str]], want: list[list[str]]) -> str:
    for k, (g, w) in enumerate(zip(got, want)):
        if g != w:
            return f"sample {k}: C {g} != Python {w}"
    return f"{len(got)} lines from C, {len(want)} from Python"


@needs_cc
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_exported_start_puts_the_controller_at_the_operating_point_as_vorn_start_does(
        tmp_path: Path, reset_values: dict[int, Any], form: str, seed: int) -> None:
    rng = random.Random(f"start-{form}-{seed}")
    run = Run(form, rng, reset_values, exotic=False)
    for _ in range(rng.randrange(0, 40)):
        run.step(record=False)
    ex.export_c(run.ctl, tmp_path, "ctl")
    for k in range(1500):
        if k % 500 == 0:  # an operating point now and then, the estimate kept as it is
            y0, u0 = rng.uniform(-5, 5), rng.uniform(-5, 5)
            vorn.start(run.ctl, y0, u0)
            run.remember(run.ctl.get_phi()[:run.n] if form != "cfdl" else run.ctl.__getstate__()["phi_hat"])
            run.commands.append(f"start {bits(y0)} {bits(u0)}")
            run.y = y0
        elif k % 500 == 250:  # reset returns to the estimate the operating point kept
            run.ctl.reset()
            run.commands.append("reset")
        run.step(record=True)
        if rng.random() < 0.02:
            run.tune(record=True)
    assert_replays(tmp_path, run)


@needs_cc
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
@pytest.mark.parametrize("seed, exotic", [(1, False), (2, False), (3, True), (4, True)])
def test_exported_code_returns_the_same_doubles(tmp_path: Path, reset_values: dict[int, Any], form: str,
                                                seed: int, exotic: bool) -> None:
    rng = random.Random(f"{form}-{seed}")
    run = Run(form, rng, reset_values, exotic)
    for _ in range(rng.randrange(0, 40)):  # the controller runs a while before it is exported
        run.step(record=False)
        if rng.random() < 0.2:
            run.tune(record=False)
    ex.export_c(run.ctl, tmp_path, "ctl")
    for _ in range(3000):
        run.step(record=True)
        if rng.random() < 0.02:
            run.tune(record=True)
    assert_replays(tmp_path, run)


Z, NZ = 0.0, -0.0
EDGES = {
    # |c_s| equal to eps resets the estimate.
    "pfdl |c_s| == eps": ("pfdl", dict(l_u=1, eps=0.25), dict(u_hist=[1.0, 0.0], phi_hat=[0.5]), [(0.0, 1.0)]),
    # norm² equal to eps² resets it too.
    "pfdl norm2 == eps2": ("pfdl", dict(l_u=1, eps=0.5), dict(u_hist=[0.5, 0.0], phi_hat=[2.0]), [(0.0, 1.0)]),
    # Sums that hold no term are +0.0, sums that do start from -0.0: the sign of a zero input shows it.
    "pfdl empty sum": ("pfdl", dict(l_u=1, u0=NZ), {}, [(Z, NZ), (Z, NZ)]),
    "pfdl sum of no terms": ("pfdl", dict(l_u=3, u0=NZ), dict(phi_hat=[0.5]), [(Z, NZ), (Z, NZ)]),
    "ffdl empty sums": ("ffdl", dict(l_y=0, l_u=1, u0=NZ), {}, [(Z, NZ), (Z, NZ)]),
    "ffdl zero sums": ("ffdl", dict(l_y=2, l_u=3, u0=NZ), {}, [(Z, NZ), (Z, NZ)]),
    "ffdl sums of -0.0": ("ffdl", dict(l_y=0, l_u=3, u0=NZ, initial_phi=-0.5), {}, [(Z, NZ), (Z, NZ)]),
    "cfdl zero error": ("cfdl", dict(u0=NZ), {}, [(Z, NZ), (Z, NZ)]),
    # Limits the wrong way round: the upper one wins.
    "cfdl crossed limits": ("cfdl", {}, dict(u_min=2.0, u_max=1.0), [(0.0, 1.0), (5.0, -3.0)]),
    # A NaN input is clamped onto the lower limit; a NaN limit clamps nothing.
    "ffdl NaN input": ("ffdl", dict(u_min=-1.0, u_max=1.0), {}, [(math.nan, 1.0), (0.2, 1.0)]),
    "cfdl NaN limit": ("cfdl", dict(u_max=math.nan), {}, [(0.0, 1.0), (0.1, 1.0)]),
}


def both_runs(tmp_path: Path, reset_values: dict[int, Any], form: str, params: dict[str, Any],
              state: dict[str, Any], pairs: list[tuple[Any, Any]]) -> tuple[list[list[str]], list[list[str]]]:
    """What the exported code and the Python controller print for the same steps."""
    ctl = CLASSES[form](**params)
    if state:  # a restored state becomes both estimate and reset value
        ctl.__setstate__({**ctl.__getstate__(), **state})
    reset_values[id(ctl)] = ctl.__getstate__()["phi_hat"] if state else (
        params.get("initial_phi", 0.5) if form == "cfdl" else ctl.get_phi())
    ex.export_c(ctl, tmp_path, "ctl")
    commands, want = [], []
    for a, b in pairs:  # (y, yd), or a setter's name and value
        if isinstance(a, float):
            commands.append(f"u {bits(a)} {bits(b)}")
            want.append(same_up_to_nan_payload(update(ctl, a, b)[1]))
        elif a == "reset":
            ctl.reset()
            commands.append(a)
        else:
            getattr(ctl, f"set_{a}")(b)
            commands.append(f"{a} {bits(b)}" if b is not None else f"no_{a}")
    return run_exported(tmp_path, commands), want


@needs_cc
@pytest.mark.parametrize("case", EDGES)
def test_exact_comparisons_and_signed_zeros(tmp_path: Path, reset_values: dict[int, Any], case: str) -> None:
    got, want = both_runs(tmp_path, reset_values, *EDGES[case])
    assert got == want


@needs_cc
def test_a_zero_clamped_onto_the_other_zero_is_the_limit(tmp_path: Path, reset_values: dict[int, Any]) -> None:
    # Of two equal operands the clamp returns the limit, in the library and in the C code alike.
    # The input is -0.0 when y = +0.0, yd = -0.0 and u0 = -0.0, and +0.0 when all are +0.0.
    got, want = both_runs(tmp_path, reset_values, "pfdl", dict(l_u=1, u0=NZ), {}, [
        ("u_min", Z), (Z, NZ), ("reset", None), ("u_min", None), ("u_max", Z), (Z, NZ),
        ("reset", None), ("u0", Z), ("u_max", NZ), ("reset", None), (Z, Z),
        ("reset", None), ("u_max", None), ("u_min", NZ), (Z, Z)])
    assert got == want


@pytest.mark.parametrize("thing, words", [
    (vorn.CFDLFleet(2), "not CFDLFleet"), (vorn.MimoPfdlFleet(2, 3), "not MimoPfdlFleet"),
    (object(), "CFDLController, PFDLController, FFDLController, MimoCfdlController"), (None, "not NoneType"),
    ({"eta": 1.0}, "not dict"), (vorn.PFDLController, "not type"),
])
def test_only_controllers_are_exported(tmp_path: Path, thing: Any, words: str) -> None:
    with pytest.raises(TypeError, match=words):
        vorn.export_c(thing, tmp_path)
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("name", ["", "1st", "a-b", "a b", "x.y", "../up", "pump\n", "é", "int", "while",
                                  "bool", "_x", "__x", "_X"])
def test_names_that_cannot_prefix_c_identifiers_are_refused(tmp_path: Path, name: str) -> None:
    with pytest.raises(ValueError, match="name"):
        vorn.export_c(vorn.CFDLController(), tmp_path, name)
    assert list(tmp_path.iterdir()) == []


def test_a_name_must_be_a_string(tmp_path: Path) -> None:
    with pytest.raises(TypeError, match="name must be a str"):
        vorn.export_c(vorn.CFDLController(), tmp_path, b"ctl")  # type: ignore[arg-type]


def test_a_directory_that_cannot_be_written_raises_the_os_error(tmp_path: Path) -> None:
    with pytest.raises(FileNotFoundError):
        vorn.export_c(vorn.PFDLController(), tmp_path / "missing")
    (tmp_path / "file").write_text("")
    with pytest.raises(NotADirectoryError):
        vorn.export_c(vorn.PFDLController(), tmp_path / "file")


def test_a_failed_export_leaves_the_earlier_files_whole(tmp_path: Path,
                                                        monkeypatch: pytest.MonkeyPatch) -> None:
    header, source = vorn.export_c(vorn.FFDLController(), tmp_path, "ctl")
    before = {p.name: p.read_text() for p in tmp_path.iterdir()}
    assert sorted(before) == ["ctl.c", "ctl.h"] and (header, source) == (str(tmp_path / "ctl.h"), str(tmp_path / "ctl.c"))

    def no_space(*args: Any) -> None:
        raise OSError(28, "No space left on device")

    with monkeypatch.context() as patch, pytest.raises(OSError, match="No space"):
        patch.setattr(ex.os, "replace", no_space)
        vorn.export_c(vorn.FFDLController(l_y=3), tmp_path, "ctl")
    assert {p.name: p.read_text() for p in tmp_path.iterdir()} == before  # no temporary file left either
    vorn.export_c(vorn.FFDLController(l_y=3), tmp_path, "ctl")
    assert "FFDL_L_Y" not in (tmp_path / "ctl.h").read_text() and "CTL_L_Y 3" in (tmp_path / "ctl.h").read_text()


def run_cli(*argv: str) -> int:
    from vorn.cli import main

    return main(["export-c", *argv])


@needs_cc
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
def test_command_writes_c_that_builds_with_strict_flags(tmp_path: Path, form: str,
                                                        capsys: pytest.CaptureFixture[str]) -> None:
    config = tmp_path / "tuned.yaml"
    config.write_text("eta: 0.7\nu_min: -1.5\nu_max: .nan\n" + ("" if form == "cfdl" else "L_u: 4\n")
                      + ("L_y: 2\n" if form == "ffdl" else ""))
    assert run_cli("--form", form, "--config", str(config), "--name", "Pump2", "--out", str(tmp_path)) == 0
    assert capsys.readouterr().out.split() == [str(tmp_path / "Pump2.h"), str(tmp_path / "Pump2.c")]
    header = (tmp_path / "Pump2.h").read_text()
    assert "-ffp-contract=off" in header and "arm-none-eabi-gcc" in header and "Pump2_t holds" in header
    built = subprocess.run([CC, *STRICT, *SANITIZE, "-c", str(tmp_path / "Pump2.c"), "-o", str(tmp_path / "p.o")],
                           capture_output=True, text=True)
    assert built.returncode == 0, built.stderr


@pytest.mark.parametrize("args, message", [
    (["--form", "cfdl", "--config", "{cfg}"], "{cfg}: CFDL 要求 l_y == 0 且 l_u == 1"),
    (["--form", "pfdl", "--config", "{dir}/absent.yaml"], "{dir}/absent.yaml: YAML 错误"),
    (["--form", "pfdl", "--config", "{cfg}", "--name", "9lives"], "--name: name '9lives' is not a C identifier"),
    (["--form", "pfdl", "--config", "{cfg}", "--out", "{dir}/absent"], "cannot write into {dir}/absent: No such file"),
    (["--form", "mimo", "--config", "{cfg}"], "argument --form: invalid choice: 'mimo'"),
])
def test_command_reports_mistakes_in_one_line(tmp_path: Path, capsys: pytest.CaptureFixture[str],
                                              args: list[str], message: str) -> None:
    config = tmp_path / "tuned.yaml"
    config.write_text("L_u: 3\n")
    fill = {"cfg": str(config), "dir": str(tmp_path)}
    assert run_cli(*[a.format(**fill) for a in args]) == 2
    err = capsys.readouterr().err
    assert err.startswith("vorn: " + message.format(**fill)) and err.count("\n") == 1
    assert sorted(p.name for p in tmp_path.iterdir()) == ["tuned.yaml"]


@needs_cc
@pytest.mark.parametrize("options, steps", [([], 45), (["--mimo"], 50)], ids=["siso", "mimo"])
def test_the_deployment_example_prints_identical_loops(capsys: pytest.CaptureFixture[str],
                                                       monkeypatch: pytest.MonkeyPatch, options: list[str],
                                                       steps: int) -> None:
    script = runpy.run_path(str(Path(__file__).parent.parent / "examples" / "deploy_c" / "deploy.py"))
    monkeypatch.setattr(sys, "argv", ["deploy.py", *options, str(steps)])
    assert script["main"]() == 0
    out = capsys.readouterr().out
    assert out.endswith(f"{steps} of {steps} samples identical to the last bit\n") and "differs" not in out


@pytest.mark.parametrize("name, words", [
    *[(n, f"struct {n}_t, which redefines") for n in ["uint64", "size", "int32", "int64", "intptr", "uintptr",
                                                      "uint_least8", "int_fast16", "wchar", "time", "ssize",
                                                      "pid", "atomic_size"]],
    *[(n, "hides the system header") for n in ["math", "Math", "STDIO", "stdint", "string", "fcntl", "unistd"]],
])
def test_names_that_collide_with_the_c_library_are_refused(tmp_path: Path, name: str, words: str) -> None:
    with pytest.raises(ValueError, match=words):
        vorn.export_c(vorn.PFDLController(), tmp_path, name)
    assert list(tmp_path.iterdir()) == []


STANDARD_HEADERS = """assert complex ctype errno fenv float inttypes iso646 limits locale math setjmp signal
    stdalign stdarg stdatomic stdbool stddef stdint stdio stdlib stdnoreturn string tgmath threads time
    uchar wchar wctype""".split()


@needs_cc
def test_no_type_of_the_standard_headers_can_be_a_struct_name(tmp_path: Path) -> None:
    # Every `_t` type the compiler's own standard headers declare, read from their preprocessed text.
    present = [h for h in STANDARD_HEADERS if subprocess.run(
        [CC, "-std=c11", "-E", "-x", "c", "-"], input=f"#include <{h}.h>\n", capture_output=True,
        text=True).returncode == 0]
    text = subprocess.run([CC, "-std=c11", "-E", "-x", "c", "-"], capture_output=True, text=True, check=True,
                          input="".join(f"#include <{h}.h>\n" for h in present)).stdout
    types = {t for t in re.findall(r"\b([a-z]\w*_t)\s*;", text)}
    assert {"size_t", "uint64_t", "int_least8_t"} <= types
    accepted = []
    for t in sorted(types):
        try:
            ex.check_c_name(t[:-2])
            accepted.append(t)
        except ValueError:
            pass
    assert accepted == []


def stack_usage(tmp_path: Path, controller: Any, level: str) -> dict[str, str]:
    """Every function's frame in the exported code, as gcc reports it: bytes and kind."""
    ex.export_c(controller, tmp_path, "ctl")
    subprocess.run([CC, *STRICT, level, "-fstack-usage", "-c", "ctl.c", "-o", "ctl.o"], cwd=tmp_path,
                   check=True, capture_output=True, timeout=120)
    lines = (tmp_path / "ctl.su").read_text().splitlines()
    return {line.split("\t")[0].rsplit(":", 1)[-1]: " ".join(line.split("\t")[1:]) for line in lines}


needs_gcc = pytest.mark.skipif(not CC or "gcc" not in Path(CC).name and not shutil.which("gcc"),
                               reason="-fstack-usage needs gcc")


@needs_gcc
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
@pytest.mark.parametrize("level", ["-O0", "-O2"])
def test_the_stack_each_call_needs_is_small_and_independent_of_the_orders(tmp_path: Path, form: str,
                                                                          level: str) -> None:
    # Tiny orders let the optimiser unroll loops away; from a few hundred entries on it cannot.
    sizes = [{"l_u": 1_000}, {"l_u": 200_000}] if form == "pfdl" else [{"l_y": 300, "l_u": 700},
                                                                        {"l_y": 50_000, "l_u": 150_000}]
    frames = [stack_usage(tmp_path, CLASSES[form](**(s if form != "cfdl" else {})), level) for s in sizes]
    assert all(kind.endswith("static") for f in frames for kind in f.values()), frames
    # What ctl_update runs: itself and every function it may call. Their frames summed bound
    # the deepest chain of calls.
    chain = [{k: v for k, v in f.items() if k in UPDATE_CHAIN} for f in frames]
    assert chain[0] == chain[1] and "ctl_update" in chain[0]
    bound = int(re.search(r"#define CTL_STACK_BYTES (\d+)", (tmp_path / "ctl.h").read_text())[1])
    assert bound == ex.UPDATE_STACK_BYTES
    assert sum(int(kind.split()[0]) for kind in chain[0].values()) <= bound, chain[0]
    assert max(int(kind.split()[0]) for kind in frames[1].values()) <= bound


# The exported functions the update may call, and every function of the step arithmetic
# that NAME.c carries (where the compiler leaves them out of line).
UPDATE_CHAIN = ({f"ctl_{f}" for f in ("update", "estimate", "control", "weighting", "limit")}
                | set(re.findall(r"static inline \w+ (vorn_\w+)\(", ex._formula_text())))


LARGE_HARNESS = r"""
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include "ctl.h"

static ctl_t c;

int main(void)
{
    int k;
    ctl_init(&c);
    for (k = 0; k < 6; ++k) {
        uint64_t b;
        const double u = ctl_update(&c, 0.1 * k, 1.0);
        memcpy(&b, &u, sizeof b);
        printf("%016" PRIx64 "\n", b);
    }
    return 0;
}
"""


def run_large(tmp_path: Path, limits: Any = None) -> list[str]:
    """Builds the exported `ctl` with a static state and returns the bits of its first updates.
    The build's time limit guards against a hang; it measures nothing."""
    (tmp_path / "main.c").write_text(LARGE_HARNESS)
    subprocess.run([CC, *STRICT, "main.c", "ctl.c", "-o", "large", "-lm"], cwd=tmp_path, check=True,
                   capture_output=True, timeout=60)
    out = subprocess.run([str(tmp_path / "large")], capture_output=True, text=True, timeout=60,
                         preexec_fn=limits)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


@needs_cc
def test_a_controller_of_large_order_runs_on_a_small_stack(tmp_path: Path) -> None:
    import resource

    ctl = vorn.PFDLController(l_u=200_000)
    ex.export_c(ctl, tmp_path, "ctl")

    def small_stack() -> None:  # far below the 1.6 MB one increment vector takes
        resource.setrlimit(resource.RLIMIT_STACK, (128 * 1024, 128 * 1024))

    assert run_large(tmp_path, small_stack) == [bits(ctl.update(0.1 * k, 1.0)) for k in range(6)]


@needs_cc
def test_an_advanced_controller_of_large_order_initialises_from_tables(tmp_path: Path) -> None:
    rng = random.Random(7)
    ctl = vorn.FFDLController(l_y=5_000, l_u=15_000)
    ctl.set_phi_hat([rng.uniform(-1, 1) for _ in range(20_000)])
    ctl.set_rho_vector([rng.uniform(0.1, 1) if i % 7 else math.nan for i in range(20_000)])
    for k in range(5):
        ctl.update(0.01 * k, 1.0)
    ex.export_c(ctl, tmp_path, "ctl")
    source = (tmp_path / "ctl.c").read_text()
    init = source[source.index("void ctl_init("):]
    init = init[:init.index("\n}\n")]
    assert init.count(";") < 40  # a loop per array, not a statement per entry
    assert "static const double ctl_initial_phi_hat[CTL_N]" in source
    assert "static const uint64_t ctl_initial_rho_vector[CTL_N]" in source  # NaN entries as bits
    assert run_large(tmp_path) == [bits(ctl.update(0.1 * k, 1.0)) for k in range(6)]


STEP_HEADER = Path(__file__).resolve().parents[1] / "core" / "formulas" / "step.h"


def test_the_exported_code_carries_the_cores_step_arithmetic_as_it_is(tmp_path: Path) -> None:
    # The installed copy is the core's header (a stale wheel would export other arithmetic),
    # and NAME.c holds it whole, not a rewrite of it.
    assert ex._formula_text() == STEP_HEADER.read_text(encoding="utf-8")
    _, source = ex.render(vorn.FFDLController(l_y=1, l_u=2), "ctl")
    assert ex._formula_text() in source


@needs_cc
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
@pytest.mark.parametrize("name", ["vorn", "vorn_cfdl", "vorn_pfdl", "vorn_ffdl", "vorn_ppd", "vorn_max",
                                  "VORN_FORMULAS", "vorn_formulas"])
def test_names_near_the_step_arithmetics_own_build_and_run(tmp_path: Path, form: str, name: str) -> None:
    # The step arithmetic's functions all begin with vorn_: a prefix that extends into one of
    # them must still give distinct names.
    controller = CLASSES[form](**({} if form == "cfdl" else {"l_u": 2}))
    vorn.export_c(controller, tmp_path, name)
    (tmp_path / "main.c").write_text(f'#include "{name}.h"\nint main(void)\n{{\n    static {name}_t c;\n'
                                     f'    {name}_init(&c);\n    return {name}_update(&c, 0.5, 1.0) > 1e300;\n}}\n')
    built = subprocess.run([CC, *STRICT, *SANITIZE, "main.c", f"{name}.c", "-o", "main", "-lm"], cwd=tmp_path,
                           capture_output=True, text=True, timeout=120)
    assert built.returncode == 0, built.stderr
    assert subprocess.run([str(tmp_path / "main")], timeout=60).returncode == 0


@pytest.mark.parametrize("name", ["vorn_formulas_step", "VORN_FORMULAS_STEP", "Vorn_Formulas_Step"])
def test_names_whose_generated_names_are_the_step_arithmetics_are_refused(tmp_path: Path, name: str) -> None:
    # NAME_H, the header's guard, would be the step arithmetic's: NAME.c would lose one of them.
    with pytest.raises(ValueError, match="already uses"):
        vorn.export_c(vorn.PFDLController(), tmp_path, name)
    assert list(tmp_path.iterdir()) == []

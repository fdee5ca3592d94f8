"""Exported MIMO controllers: compiled, they return the Python controllers' doubles bit for bit.

Each test builds one program per form around a batch of exported controllers, each driven
by its own block of commands on stdin."""

from __future__ import annotations

import importlib
import math
import os
import random
import re
import subprocess
from pathlib import Path
from string import Template
from typing import Any

import pytest

import vorn
from tests.test_export_c import CC, SANITIZE, STRICT, bits, needs_cc, needs_gcc, same_up_to_nan_payload

mimo = importlib.import_module("vorn.export.mimo")

CLASSES = {"cfdl": vorn.MimoCfdlController, "pfdl": vorn.MimoPfdlController, "ffdl": vorn.MimoFfdlController}
LONG = os.environ.get("VORN_LONG") == "1"
EXOTIC = [math.nan, math.inf, -math.inf, 0.0, -0.0, 1e300, -1e300, 5e-324]
SETTERS = ["eta", "mu", "rho", "lambda", "eps", "m_upper", "m_lower", "u0", "initial_phi"]

HEAD = r"""
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

static double num(void) { uint64_t b = 0; double d; if (scanf("%" SCNx64, &b) != 1) b = 0; memcpy(&d, &b, sizeof d); return d; }
static void show(double d) { uint64_t b; memcpy(&b, &d, sizeof b); printf(" %016" PRIx64, b); }
"""
# One controller's driver: its commands run until "end".
DRIVER = Template(r"""
#include "${P}.h"
static int drive_${P}(void)
{
    static ${P}_t c;
    static double v[${P_UP}_PHI_ENTRIES];
    char op[32];
    int i;
    ${P}_init(&c);
    printf("%d\n", (int)sizeof c);
    while (scanf("%31s", op) == 1) {
        if (!strcmp(op, "end")) return 0;
        if (!strcmp(op, "u")) {
            double y[${P_UP}_DIM], yd[${P_UP}_DIM], u[${P_UP}_DIM];
            for (i = 0; i < (int)${P_UP}_DIM; ++i) y[i] = num();
            for (i = 0; i < (int)${P_UP}_DIM; ++i) yd[i] = num();
            ${P}_update(&c, y, yd, u);
            for (i = 0; i < (int)${P_UP}_DIM; ++i) show(u[i]);
            printf("\n");
        }
        else if (!strcmp(op, "phi")) { for (i = 0; i < (int)${P_UP}_PHI_ENTRIES; ++i) show(c.layers[i]); printf("\n"); }
        else if (!strcmp(op, "reset")) ${P}_reset(&c);
        else if (!strcmp(op, "phi_hat")) { for (i = 0; i < (int)${P_UP}_PHI_ENTRIES; ++i) v[i] = num(); ${P}_set_phi_hat(&c, v); }
        else if (!strcmp(op, "eta")) ${P}_set_eta(&c, num());
        else if (!strcmp(op, "mu")) ${P}_set_mu(&c, num());
        else if (!strcmp(op, "rho")) ${P}_set_rho(&c, num());
        else if (!strcmp(op, "lambda")) ${P}_set_lambda(&c, num());
        else if (!strcmp(op, "eps")) ${P}_set_eps(&c, num());
        else if (!strcmp(op, "m_upper")) ${P}_set_m_upper(&c, num());
        else if (!strcmp(op, "m_lower")) ${P}_set_m_lower(&c, num());
        else if (!strcmp(op, "u0")) ${P}_set_u0(&c, num());
        else if (!strcmp(op, "initial_phi")) ${P}_set_initial_phi(&c, num());
        else return 2;
    }
    return 1;
}
""")


def flat(layers: list[Any]) -> list[float]:
    return [float(v) for layer in layers for row in layer for v in row]


class Run:
    """A MIMO controller in a closed loop, the commands given to it and the lines its
    exported twin must print."""

    def __init__(self, form: str, rng: random.Random, dim: int, exotic: bool, m_upper: float | None = None):
        self.form, self.rng, self.dim, self.exotic = form, rng, dim, exotic
        r = rng
        l_y = r.choice([0, 1, 2, 3]) if form == "ffdl" else 0
        l_u = 1 if form == "cfdl" else r.choice([1, 2, 3, 5])
        self.params = dict(eta=r.uniform(0.05, 2.0), mu=r.uniform(0.01, 2.0), rho=r.uniform(0.05, 1.0),
                           lambda_=r.uniform(1e-3, 1.0), eps=10 ** r.uniform(-9, -3), l_y=l_y, l_u=l_u,
                           initial_phi=r.choice([-1, 1]) * r.uniform(0.3, 1.5), u0=r.uniform(-1, 1),
                           m_upper=m_upper or r.choice([1e6, r.uniform(1.0, 4.0) * dim]),
                           m_lower=r.choice([1e-6, 0.05]))
        self.ctl = CLASSES[form](dim, **self.params)
        self.layers = len(self.ctl.get_phi())
        # A fixed coupled plant y(k+1) = 0.6 y(k) + B u(k) + noise.
        self.b = [[r.uniform(-0.3, 0.3) + (0.5 if i == j else 0.0) for j in range(dim)] for i in range(dim)]
        self.y = [0.0] * dim
        self.yd = [r.uniform(-2, 2) for _ in range(dim)]
        self.commands: list[str] = []
        self.expected: list[str] = []
        self.exported: Any = self.ctl  # what is exported: the controller, or a copy of it

    def sample(self) -> float:
        return self.rng.choice(EXOTIC) if self.exotic and self.rng.random() < 0.3 else self.rng.uniform(-2, 2)

    def step(self, record: bool) -> tuple[list[float], list[float], list[float]]:
        """One closed-loop sample; the y and yd given and the u returned."""
        r, dim = self.rng, self.dim
        y = list(self.y)
        if self.exotic and r.random() < 0.01:
            y[r.randrange(dim)] = r.choice(EXOTIC)
        if r.random() < 0.01:
            self.yd = [self.sample() for _ in range(dim)]
        u = self.ctl.update(y, self.yd)
        if record:
            self.commands.append("u " + " ".join(bits(v) for v in y + self.yd))
            self.expected.append(" " + " ".join(bits(v) for v in u))
            if r.random() < 0.1:
                self.commands.append("phi")
                self.expected.append(" " + " ".join(bits(v) for v in flat(self.ctl.get_phi())))
        u_in = [v if math.isfinite(v) else 0.0 for v in u]
        given = (y, list(self.yd), u)
        self.y = [0.6 * self.y[i] + sum(self.b[i][j] * u_in[j] for j in range(dim)) + r.gauss(0.0, 0.01)
                  for i in range(dim)]
        if not all(math.isfinite(v) and abs(v) < 1e6 for v in self.y):
            self.y = [0.0] * dim
        return given

    def tune(self, record: bool) -> None:
        """A setter call, a reset or new layers, as a running loop might make them."""
        r = self.rng
        what = r.choice(SETTERS + ["reset", "phi_hat", "phi_hat"])
        if what == "reset":
            self.ctl.reset()
            cmd = "reset"
        elif what == "phi_hat":
            d = self.dim
            layers = [[[r.uniform(-1.5, 1.5) for _ in range(d)] for _ in range(d)] for _ in range(self.layers)]
            self.ctl.set_phi_hat(layers)
            cmd = "phi_hat " + " ".join(bits(v) for v in flat(layers))
        else:
            value = {"eps": 10 ** r.uniform(-9, -3), "m_upper": r.uniform(0.5, 3.0) * self.dim,
                     "m_lower": r.choice([1e-6, 0.1])}.get(what, r.uniform(0.05, 1.0))
            if self.exotic and r.random() < 0.2:
                value = r.choice(EXOTIC)
            getattr(self.ctl, f"set_{what}")(value)
            cmd = f"{what} {bits(value)}"
        if record:
            self.commands.append(cmd)


def advanced(form: str, rng: random.Random, dim: int, exotic: bool, steps: int, **kwargs: Any) -> Run:
    """A run that has gone a while (with tuning) before it is exported, then `steps` recorded
    samples with now and then a setter or a reset."""
    run = Run(form, rng, dim, exotic, **kwargs)
    for _ in range(rng.randrange(1, 40)):
        run.step(record=False)
        if rng.random() < 0.1:
            run.tune(record=False)
    run.commands, run.expected = [], []
    return run


def play(run: Run, steps: int) -> None:
    for k in range(steps):
        run.step(record=True)
        if k == steps // 2:
            run.ctl.reset()
            run.commands.append("reset")
        elif run.rng.random() < 0.02:
            run.tune(record=True)


def run_batch(tmp: Path, runs: dict[str, Run], export_first: bool = True) -> dict[str, list[list[str]]]:
    """Builds one program around the exported controllers, named by the keys, feeds each its
    commands and returns the lines each printed (after the state size, checked against the
    header)."""
    names = list(runs)
    drivers = "".join(DRIVER.substitute(P=n, P_UP=n.upper()) for n in names)
    main = "int main(void)\n{\n" + "".join(f"    if (drive_{n}() != 0) return 3;\n    printf(\"end\\n\");\n"
                                           for n in names) + "    return 0;\n}\n"
    (tmp / "harness.c").write_text(HEAD + drivers + main)
    exe = tmp / "harness"
    built = subprocess.run([CC, *STRICT, *SANITIZE, "-I", str(tmp), str(tmp / "harness.c"),
                            *[str(tmp / f"{n}.c") for n in names], "-o", str(exe), "-lm"],
                           capture_output=True, text=True)
    assert built.returncode == 0, built.stderr
    commands = "".join("\n".join(runs[n].commands + ["end"]) + "\n" for n in names)
    out = subprocess.run([str(exe)], input=commands, capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    blocks = out.stdout.split("end\n")
    result = {}
    for n, block in zip(names, blocks):
        lines = block.splitlines()
        assert f", {lines[0]} bytes on every target" in (tmp / f"{n}.h").read_text()
        result[n] = [same_up_to_nan_payload(line) for line in lines[1:]]
    return result


def check_batch(tmp: Path, runs: dict[str, Run], steps: int) -> None:
    for name, run in runs.items():
        vorn.export_c(run.exported, tmp, name)
        play(run, steps)
    got = run_batch(tmp, runs)
    for name, run in runs.items():
        want = [same_up_to_nan_payload(line) for line in run.expected]
        first = next((k for k, (g, w) in enumerate(zip(got[name], want)) if g != w), None)
        assert first is None and len(got[name]) == len(want), \
            f"{name} ({run.form}, dim {run.dim}, {run.params}): line {first}: C {got[name][first or 0]} " \
            f"!= Python {want[first or 0]}"


@needs_cc
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
def test_exported_mimo_code_returns_the_same_doubles(tmp_path: Path, form: str) -> None:
    rng = random.Random(f"mimo-{form}")
    per_dim = 4 if LONG else 1
    steps = 5000 if LONG else 1200
    runs = {}
    for dim in range(1, 7):
        for k in range(per_dim):
            for exotic in (False, True):
                runs[f"c{dim}_{k}_{int(exotic)}"] = advanced(form, rng, dim, exotic, steps)
    check_batch(tmp_path, runs, steps)


@needs_cc
def test_the_determinant_of_large_layers_is_the_cores(tmp_path: Path) -> None:
    # Above 16 columns the core eliminates panel by panel; the exported LU column by
    # column. A regular initial matrix (|det0| > eps) keeps the sign rule in force.
    rng = random.Random("mimo-large")
    dims = [17, 20, 33] if LONG else [18]
    runs = {f"big{d}": advanced("cfdl", rng, d, False, 200) for d in dims}
    for run in runs.values():
        run.ctl.set_initial_phi(rng.choice([-1.0, 1.0]) * rng.uniform(1.1, 1.4))
        run.ctl.reset()
    check_batch(tmp_path, runs, 300 if LONG else 150)


@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
def test_a_mimo_controller_without_entries_is_refused(tmp_path: Path, form: str) -> None:
    with pytest.raises(ValueError, match="dim 0"):
        vorn.export_c(CLASSES[form](0), tmp_path, "ctl")
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
def test_the_header_states_the_shape_and_the_flags(tmp_path: Path, form: str) -> None:
    ctl = CLASSES[form](3, l_y=2 if form == "ffdl" else 0, l_u=1 if form == "cfdl" else 4)
    h, _ = vorn.export_c(ctl, tmp_path, "Arm")
    header = Path(h).read_text()
    layers = {"cfdl": 1, "pfdl": 4, "ffdl": 6}[form]
    assert "#define ARM_DIM 3U " in header and f"#define ARM_LAYERS {layers}U " in header
    assert "-ffp-contract=off" in header and "void Arm_update(Arm_t *c, const double y[ARM_DIM]" in header
    setters = re.findall(r"void Arm_set_(\w+)\(", header)
    assert sorted(setters) == sorted(SETTERS + ["phi_hat"])


UPDATE_CHAIN = {f"ctl_{f}" for f in ("update", "estimate", "reset_rules", "determinant", "bound", "restore_layer",
                                     "shift", "layer", "hist", "pred")}


@needs_gcc
@pytest.mark.parametrize("level", ["-O0", "-O2"])
def test_the_stack_the_update_needs_is_small_and_independent_of_the_dimension(tmp_path: Path, level: str) -> None:
    frames = []
    for dim in (5, 60):
        vorn.export_c(vorn.MimoCfdlController(dim), tmp_path, "ctl")
        subprocess.run([CC, *STRICT, level, "-fstack-usage", "-c", "ctl.c", "-o", "ctl.o"], cwd=tmp_path,
                       check=True, capture_output=True, timeout=120)
        lines = (tmp_path / "ctl.su").read_text().splitlines()
        frames.append({line.split("\t")[0].rsplit(":", 1)[-1]: line.split("\t")[1:] for line in lines})
    assert all(kind[1] == "static" for f in frames for kind in f.values()), frames
    # The update and every function it may call, summed: a bound on the deepest chain.
    chains = [{k: int(v[0]) for k, v in f.items() if k in UPDATE_CHAIN or k.startswith("vorn_mimo_")} for f in frames]
    assert chains[0] == chains[1] and "ctl_update" in chains[0]
    assert sum(chains[1].values()) <= mimo.UPDATE_STACK_BYTES, chains[1]


def test_the_exported_code_carries_the_cores_mimo_arithmetic_as_it_is(tmp_path: Path) -> None:
    _, source = vorn.export_c(vorn.MimoFfdlController(2), tmp_path, "ctl")
    core = Path(__file__).parents[1] / "core" / "formulas" / "mimo_step.h"
    assert core.read_text() in Path(source).read_text()



@pytest.mark.parametrize("name", ["vorn_mimo_small", "vorn_mimo_lu", "VORN_FORMULAS_MIMO_STEP"])
def test_names_whose_generated_names_are_the_mimo_arithmetics_are_refused(tmp_path: Path, name: str) -> None:
    # NAME_determinant would be vorn_mimo_small_determinant or vorn_mimo_lu_determinant, and
    # the include guard NAME_H the MIMO arithmetic's own.
    with pytest.raises(ValueError, match="already uses"):
        vorn.export_c(vorn.MimoCfdlController(2), tmp_path, name)
    assert list(tmp_path.iterdir()) == []


ALIASING = r"""
#include <stdio.h>
#include <string.h>
#include "ctl.h"

int main(void)
{
    static ctl_t a, b;
    double y[CTL_DIM], yd[CTL_DIM], u[CTL_DIM], in_place[CTL_DIM];
    unsigned i;
    int k;
    ctl_init(&a);
    ctl_init(&b);
    for (k = 0; k < 200; ++k) {
        for (i = 0; i < CTL_DIM; ++i) {
            y[i] = 0.01 * (double)(k % 17) - 0.05 * (double)i;
            yd[i] = 1.0 + (double)i;
        }
        memcpy(in_place, y, sizeof y);
        ctl_update(&a, y, yd, u);
        ctl_update(&b, in_place, yd, in_place); /* u written over y */
        if (memcmp(u, in_place, sizeof u) != 0 || memcmp(&a, &b, sizeof a) != 0) return 1;
    }
    return 0;
}
"""


@needs_cc
def test_the_input_may_be_written_over_the_output(tmp_path: Path) -> None:
    vorn.export_c(vorn.MimoFfdlController(3, l_y=2), tmp_path, "ctl")
    (tmp_path / "alias.c").write_text(ALIASING)
    subprocess.run([CC, *STRICT, *SANITIZE, "alias.c", "ctl.c", "-o", "alias", "-lm"], cwd=tmp_path, check=True)
    assert subprocess.run([str(tmp_path / "alias")], timeout=60).returncode == 0

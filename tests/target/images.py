"""images.py: exported controllers built for microcontroller targets and 32-bit x86, run, and
compared bit for bit with the Python controllers; and what each costs on every CPU.

A case is a form, a CPU and a seed. `random_case` advances a random controller in Python (its
limits, a NaN sample and a reset on the way), exports it and lays down the samples to replay
with the lines its exported twin must print; `build` and `run` make and run the image of one
CPU on them; `random_mimo_case` does the same for a MIMO controller (main.c serves both). The CPUs are one table (`CPUS`): a new one is one more entry, and an
exported controller of another kind is one more `Case` maker.
"""

from __future__ import annotations

import math
import os
import random
import re
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import vorn
from tests.test_export_c import CLASSES, bits, same_up_to_nan_payload, update

HERE = Path(__file__).resolve().parent
ARM_COMMON = ["-mthumb", "-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra", "-Werror"]
ARM_LINK = ["--specs=rdimon.specs", "-nostartfiles", "-T", str(HERE / "mps2.ld")]


@dataclass(frozen=True)
class Cpu:
    name: str
    title: str
    flags: tuple[str, ...]
    machine: str | None  # the emulated board, None for a native build


CPUS = [
    Cpu("cortex-m3", "Cortex-M3, software double", ("-mcpu=cortex-m3",), "mps2-an385"),
    Cpu("cortex-m4f", "Cortex-M4F, single-precision FPU, software double",
        ("-mcpu=cortex-m4", "-mfloat-abi=hard", "-mfpu=fpv4-sp-d16"), "mps2-an386"),
    Cpu("cortex-m7", "Cortex-M7, hardware double",
        ("-mcpu=cortex-m7", "-mfloat-abi=hard", "-mfpu=fpv5-d16"), "mps2-an500"),
    Cpu("x86-32", "32-bit x86, SSE2", ("-m32", "-msse2", "-mfpmath=sse"), None),
]


def missing_tools(cpu: Cpu) -> str | None:
    """Why the CPU's images cannot be built and run here, or None when they can."""
    if cpu.machine is None:
        if shutil.which("gcc") is None:
            return "no gcc on PATH"
        probe = subprocess.run(["gcc", "-m32", "-x", "c", "-", "-o", os.devnull],
                               input="#include <stdio.h>\nint main(void){return 0;}\n",
                               capture_output=True, text=True)
        return None if probe.returncode == 0 else "gcc cannot build -m32 programs (gcc-multilib)"
    for tool in ("arm-none-eabi-gcc", "arm-none-eabi-size", "qemu-system-arm"):
        if shutil.which(tool) is None:
            return f"no {tool} on PATH (scripts/target --install)"
    return None


@dataclass
class Case:
    directory: Path  # holds ctl.h, ctl.c and ctl.in
    expected: list[list[str]]  # per update: the bits of u and of the estimate
    state_bytes: int  # the size of ctl_t the header states where a double is 8-aligned
    state_bytes_x86_32: int  # and on 32-bit x86


def _random_params(form: str, rng: random.Random) -> dict[str, Any]:
    l_y = rng.choice([1, 2, 4]) if form == "ffdl" else 0
    l_u = 1 if form == "cfdl" else rng.choice([1, 2, 3])
    lo = rng.uniform(-2.0, -0.2)
    return dict(eta=rng.uniform(0.2, 1.5), mu=rng.uniform(0.1, 2.0), rho=rng.uniform(0.1, 1.0),
                lambda_=rng.uniform(0.01, 2.0), eps=10 ** rng.uniform(-6, -3), l_y=l_y, l_u=l_u,
                initial_phi=rng.uniform(0.2, 1.5), u0=rng.uniform(-0.5, 0.5),
                u_min=lo, u_max=lo + rng.uniform(1.0, 4.0))


class _Loop:
    """A closed loop around a controller on a noisy first-order plant; one NaN sample and
    now and then an infinite set point."""

    def __init__(self, ctl: Any, rng: random.Random, samples: int):
        self.ctl, self.rng, self.y = ctl, rng, 0.0
        self.nan_at = rng.randrange(samples)

    def step(self, k: int) -> tuple[float, float, str]:
        r = self.rng
        y = math.nan if k == self.nan_at else self.y
        yd = r.choice([1.0, -0.5, 2.5]) if r.random() > 0.002 else r.choice([math.inf, -math.inf])
        u, line = update(self.ctl, y, yd)
        self.y = 0.6 * self.y + 0.5 * (u if math.isfinite(u) else 0.0) + r.gauss(0.0, 0.01)
        if not math.isfinite(self.y) or abs(self.y) > 1e6:
            self.y = 0.0
        return y, yd, line


def random_case(form: str, seed: int, samples: int, directory: Path) -> Case:
    """A random controller of the form, advanced and reset in Python, exported as `ctl` into
    `directory` with `samples` updates to replay (a reset halfway) and their expected lines."""
    rng = random.Random(f"{form}-{seed}")
    ctl: Any = CLASSES[form](**_random_params(form, rng))
    before = _Loop(ctl, rng, 200)
    for k in range(200):
        before.step(k)
        if k == 120:
            ctl.reset()
    directory.mkdir(parents=True, exist_ok=True)
    header, _ = vorn.export_c(ctl, directory, "ctl")
    stated = re.search(r", (\d+) bytes on .*?, (\d+) on 32-bit x86", Path(header).read_text(), re.S)
    assert stated is not None
    loop = _Loop(ctl, rng, samples)
    commands, expected = [], []
    for k in range(samples):
        if k == samples // 2:
            ctl.reset()
            commands.append("r")
        y, yd, line = loop.step(k)
        commands.append(f"u {bits(y)} {bits(yd)}")
        expected.append(same_up_to_nan_payload(line))
    (directory / "ctl.in").write_text("\n".join(commands) + "\n")
    return Case(directory, expected, int(stated.group(1)), int(stated.group(2)))


# The MIMO cases' dimension per form and seed: the compact form's first above 3 x 3, where
# its determinant is an LU.
MIMO_DIMS = {"cfdl": (4, 2, 6), "pfdl": (3, 5, 1), "ffdl": (2, 4, 3)}


def random_mimo_case(form: str, seed: int, samples: int, directory: Path) -> Case:
    """A random MIMO controller of the form, advanced and reset in Python, exported as `ctl`
    into `directory` with `samples` updates to replay (odd samples now and then, a reset
    halfway) and their expected lines: the bits of u and of every layer's entries."""
    from tests.test_export_mimo import Run, flat

    rng = random.Random(f"mimo-{form}-{seed}")
    run = Run(form, rng, MIMO_DIMS[form][seed % 3], exotic=True)
    for k in range(200):
        run.step(record=False)
        if k == 120:
            run.ctl.reset()
    directory.mkdir(parents=True, exist_ok=True)
    header, _ = vorn.export_c(run.ctl, directory, "ctl")
    stated = re.search(r"holds \d+ doubles, (\d+) bytes on every target", Path(header).read_text())
    assert stated is not None
    commands, expected = [], []
    for k in range(samples):
        if k == samples // 2:
            run.ctl.reset()
            commands.append("r")
        y, yd, u = run.step(record=False)
        commands.append("u " + " ".join(bits(v) for v in y + yd))
        expected.append(same_up_to_nan_payload(" " + " ".join(bits(v) for v in u + flat(run.ctl.get_phi()))))
    (directory / "ctl.in").write_text("\n".join(commands) + "\n")
    return Case(directory, expected, int(stated.group(1)), int(stated.group(1)))


def compile_flags(cpu: Cpu, directory: Path) -> list[str]:
    if cpu.machine is None:
        return ["gcc", *cpu.flags, "-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra",
                "-Werror", "-pedantic", "-I", str(directory)]
    return ["arm-none-eabi-gcc", *ARM_COMMON, *cpu.flags, "-I", str(directory)]


def build(cpu: Cpu, directory: Path, image: str = "image", defines: tuple[str, ...] = ()) -> Path:
    """Builds main.c around the exported `ctl` in `directory` into an image for the CPU."""
    out = directory / f"{image}-{cpu.name}"
    sources = [str(HERE / "main.c"), str(directory / "ctl.c")]
    if cpu.machine is None:
        command = [*compile_flags(cpu, directory), *defines, *sources, "-o", str(out), "-lm"]
    else:
        command = [*compile_flags(cpu, directory), *defines, *ARM_LINK, str(HERE / "startup.c"),
                   *sources, "-o", str(out), "-lm"]
    built = subprocess.run(command, capture_output=True, text=True)
    if built.returncode != 0:
        raise RuntimeError(f"building for {cpu.name} failed:\n{built.stderr}")
    return out


def emulator(cpu: Cpu, image: Path, *extra: str) -> list[str]:
    assert cpu.machine is not None
    return ["qemu-system-arm", "-M", cpu.machine, "-nographic",
            "-monitor", "none", "-semihosting-config", "enable=on,target=native",
            *extra, "-kernel", str(image)]


def run(cpu: Cpu, image: Path, timeout: float) -> list[str]:
    """Runs the image in its directory (where it reads ctl.in and writes ctl.out); the lines of ctl.out."""
    directory = image.parent
    (directory / "ctl.out").unlink(missing_ok=True)
    command = [str(image)] if cpu.machine is None else emulator(cpu, image)
    done = subprocess.run(command, cwd=directory, capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        raise RuntimeError(f"{cpu.name} image exited with {done.returncode}:\n{done.stdout}{done.stderr}")
    return (directory / "ctl.out").read_text().splitlines()

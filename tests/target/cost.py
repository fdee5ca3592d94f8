"""cost.py: what an exported controller costs on each CPU of the harness: code size, state
size, stack and instructions per update; printed as a Markdown table by scripts/target --report.

Code is the text of the exported NAME.c alone (arm-none-eabi-size or size on its object), the
update's share of it its symbol's size; the soft-float routines of libgcc that a CPU without a
double unit calls are not counted in either. Stack is the largest frame -fstack-usage reports
for the exported code at -O2 (the step arithmetic is inlined into the update there; libgcc's
routines add their own small frames). Instructions per update are an estimate: two images run
under the emulator one instruction per block with every block traced, K and 0 updates, and the
difference divided by K, so the loop around the call and the soft-float calls are included.

    python -m tests.target.cost   (from the project root, in the project's environment)
"""

from __future__ import annotations

import re
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import vorn
from tests.target import images
from tests.target.images import CPUS, Cpu

UPDATES = 64  # updates of the counted image
# The controllers measured: each form at its default orders, with both limits set.
CONTROLLERS: dict[str, Any] = {
    "CFDL": lambda: vorn.CFDLController(u_min=-2.0, u_max=2.0),
    "PFDL": lambda: vorn.PFDLController(u_min=-2.0, u_max=2.0),
    "FFDL": lambda: vorn.FFDLController(u_min=-2.0, u_max=2.0),
}
# And each MIMO form at dim 2 and its default orders, the compact form at dim 4 too (its
# determinant an LU there); with what the table says of their shape.
MIMO_CONTROLLERS: dict[str, tuple[Any, str]] = {
    "MIMO CFDL": (lambda: vorn.MimoCfdlController(2), "dim = 2, 1 layer"),
    "MIMO CFDL (LU)": (lambda: vorn.MimoCfdlController(4), "dim = 4, 1 layer"),
    "MIMO PFDL": (lambda: vorn.MimoPfdlController(2), "dim = 2, l_u = 2"),
    "MIMO FFDL": (lambda: vorn.MimoFfdlController(2), "dim = 2, l_y = 1, l_u = 2"),
}


@dataclass
class Cost:
    form: str
    orders: str
    cpu: Cpu
    code: int
    update_code: int
    state: int
    stack: int
    instructions: int | None


def _tool(cpu: Cpu, name: str) -> str:
    return name if cpu.machine is None else f"arm-none-eabi-{name}"


def _output(command: list[str], cwd: Path | None = None) -> str:
    done = subprocess.run(command, capture_output=True, text=True, cwd=cwd)
    if done.returncode != 0:
        raise RuntimeError(f"{command[0]} failed:\n{done.stderr}")
    return done.stdout


def _object(cpu: Cpu, directory: Path) -> tuple[int, int, int]:
    """Code bytes of ctl.o, of ctl_update in it, and its largest stack frame."""
    obj = directory / f"ctl-{cpu.name}.o"
    _output([*images.compile_flags(cpu, directory), "-fstack-usage", "-c", str(directory / "ctl.c"),
             "-o", str(obj)], cwd=directory)
    text = int(_output([_tool(cpu, "size"), str(obj)]).splitlines()[1].split()[0])
    symbols = _output([_tool(cpu, "nm"), "-S", str(obj)])
    update = next(int(line.split()[1], 16) for line in symbols.splitlines() if line.endswith(" ctl_update"))
    frames = [int(m.group(1)) for m in re.finditer(r"\t(\d+)\t", obj.with_suffix(".su").read_text())]
    return text, update, max(frames)


def _traced(cpu: Cpu, image: Path) -> int:
    log = image.with_suffix(".log")
    subprocess.run(images.emulator(cpu, image, "-singlestep", "-d", "exec,nochain", "-D", str(log)),
                   cwd=image.parent, capture_output=True, timeout=600, check=True, stdin=subprocess.DEVNULL)
    with log.open("rb") as lines:
        count = sum(1 for line in lines if line.startswith(b"Trace"))
    log.unlink()
    return count


def _instructions(cpu: Cpu, directory: Path) -> int | None:
    if cpu.machine is None:
        return None
    idle = images.build(cpu, directory, "idle", ("-DCOST_UPDATES=0",))
    busy = images.build(cpu, directory, "busy", (f"-DCOST_UPDATES={UPDATES}",))
    return round((_traced(cpu, busy) - _traced(cpu, idle)) / UPDATES)


def measure(root: Path) -> list[Cost]:
    costs = []
    for form, make in CONTROLLERS.items():
        ctl = make()
        directory = root / form
        directory.mkdir()
        header, _ = vorn.export_c(ctl, directory, "ctl")
        text = Path(header).read_text()
        orders = re.search(r"Pseudo-orders (l_y = \d+, l_u = \d+)", text)
        sizes = re.search(r", (\d+) bytes on .*?, (\d+) on 32-bit x86", text, re.S)
        assert orders is not None and sizes is not None
        for cpu in CPUS:
            if images.missing_tools(cpu) is not None:
                continue
            code, update, stack = _object(cpu, directory)
            state = int(sizes.group(2) if cpu.machine is None else sizes.group(1))
            costs.append(Cost(form, orders.group(1), cpu, code, update, state, stack,
                              _instructions(cpu, directory)))
    for form, (make, shape) in MIMO_CONTROLLERS.items():
        directory = root / form.replace(" ", "-").replace("(", "").replace(")", "")
        directory.mkdir()
        header, _ = vorn.export_c(make(), directory, "ctl")
        size = re.search(r"holds \d+ doubles, (\d+) bytes on every target", Path(header).read_text())
        assert size is not None
        for cpu in CPUS:
            if images.missing_tools(cpu) is not None:
                continue
            code, update, stack = _object(cpu, directory)
            costs.append(Cost(form, shape, cpu, code, update, int(size.group(1)), stack,
                              _instructions(cpu, directory)))
    return costs


def table(costs: list[Cost]) -> str:
    rows = ["| form (orders) | CPU | code, bytes | of it the update | state, bytes | stack, bytes "
            "| instructions per update (estimate) |",
            "| --- | --- | ---: | ---: | ---: | ---: | ---: |"]
    for c in costs:
        counted = "not emulated" if c.instructions is None else f"~{c.instructions}"
        rows.append(f"| {c.form} ({c.orders}) | {c.cpu.title} | {c.code} | {c.update_code} | {c.state} "
                    f"| {c.stack} | {counted} |")
    return "\n".join(rows)


def main() -> int:
    with tempfile.TemporaryDirectory() as root:
        print(table(measure(Path(root))))
    return 0


if __name__ == "__main__":
    sys.exit(main())

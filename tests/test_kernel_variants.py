"""The MIMO kernel variants: check/kernel_variants.cpp runs the three MIMO forms with the
passes of every variant the processor supports and compares each output and each layer,
bit for bit, with the portable variant. It is built with CMake in build/kernel-check (with
the sanitizers in build/kernel-check-sanitized under the sanitized run), reused while up
to date, and skipped only where cmake or a C++ compiler is missing. The in-process wide
MIMO tests cover the variant that the module's cores take."""

import os
import platform
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from tests.running import SANITIZED

ROOT = Path(__file__).resolve().parents[1]


def tool(name):
    """A build tool: this interpreter's environment's, then the project environment's
    (scripts/setup installs cmake and ninja there), then the one on PATH."""
    for own in (Path(sys.executable).parent / name, ROOT / ".venv" / "bin" / name):
        if own.exists():
            return str(own)
    return shutil.which(name)


def configure_arguments(build):
    cmake = tool("cmake")
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")
    if not cmake or not compiler:
        pytest.skip(f"building the kernel check needs cmake and a C++ compiler; found cmake={cmake}, "
                    f"compiler={compiler}")
    ninja = tool("ninja")
    generator = ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"] if ninja else []
    # The sanitized run preloads gcc's runtime into the interpreter: the check uses the same one.
    flavour = (["-DVORN_SANITIZE=ON", "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DCMAKE_CXX_COMPILER=g++"]
               if SANITIZED else ["-DCMAKE_BUILD_TYPE=Release"])
    return [cmake, "-S", str(ROOT), "-B", str(build), "-DVORN_KERNEL_CHECK=ON", *generator, *flavour]


def build_check():
    build = ROOT / "build" / ("kernel-check-sanitized" if SANITIZED else "kernel-check")
    configure = configure_arguments(build)
    # The compiler and CMake run without the interpreter's preloaded sanitizer runtime.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    steps = [] if (build / "CMakeCache.txt").exists() else [configure]
    steps.append([configure[0], "--build", str(build), "--parallel", "2"])
    for step in steps:
        proc = subprocess.run(step, cwd=ROOT, env=env, capture_output=True, text=True, timeout=600)
        assert proc.returncode == 0, f"{' '.join(step)}:\n{proc.stdout[-4000:]}\n{proc.stderr[-4000:]}"
    return build / "kernel_check", env


def processor_variants():
    """The variants this processor runs, from the kernel's flags; None where they are unknown."""
    if platform.machine() not in ("x86_64", "AMD64"):
        return ["portable"]
    try:
        text = Path("/proc/cpuinfo").read_text()
    except OSError:
        return None
    flags = set(re.search(r"^flags\s*:(.*)$", text, re.M).group(1).split())
    return ["portable"] + [v for v, flag in (("avx2", "avx2"), ("avx512", "avx512f")) if flag in flags]


def test_every_variant_gives_the_portable_bits():
    program, env = build_check()
    proc = subprocess.run([str(program)], env=env, capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    summary = re.fullmatch(r"kernel check: every variant run here \(([a-z0-9 ]+)\) gives the portable bits in "
                           r"(\d+) cases, (\d+) updates; MIMO cores take ([a-z0-9]+)\n", proc.stdout)
    assert summary, proc.stdout
    checked, cases, updates, chosen = summary[1].split(), int(summary[2]), int(summary[3]), summary[4]
    assert checked[0] == "portable" and cases >= 500 and updates >= 10 * cases
    # Every variant the processor has is checked, and the cores take the widest.
    expected = processor_variants()
    if expected is not None:
        assert checked == expected
    assert chosen == checked[-1]

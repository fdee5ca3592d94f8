"""The MIMO kernel variants: check/kernel_variants.cpp runs the three MIMO forms with the
passes of every variant the processor supports and compares each output and each layer,
bit for bit, with the portable variant. The program is built with the modules (CMake target
kernel_check: scripts/setup leaves it in build/<wheel tag>/, scripts/test-sanitized in
build/sanitized/); the test runs that binary and is skipped, saying why, where no build left
one. The in-process wide MIMO tests cover the variant that the module's cores take."""

import os
import platform
import re
import subprocess
from pathlib import Path

import pytest

from tests.running import SANITIZED

ROOT = Path(__file__).resolve().parents[1]


def built_check():
    """The checker of the build that installed the modules under test: the sanitized build's
    under the sanitized run, else the newest of the wheel builds (build/{wheel_tag})."""
    if SANITIZED:
        found = [ROOT / "build" / "sanitized" / "kernel_check"]
    else:
        found = sorted(ROOT.glob("build/cp3*-abi3-*/kernel_check"), key=lambda p: p.stat().st_mtime)
    found = [p for p in found if p.is_file() and os.access(p, os.X_OK)]
    if not found:
        where = "build/sanitized (scripts/test-sanitized)" if SANITIZED else "build/<wheel tag> (scripts/setup)"
        pytest.skip(f"no kernel_check binary in {where}: the build that installed vorn did not make one")
    # The program runs without the interpreter's preloaded sanitizer runtime (it links its own).
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    return found[-1], env


def processor_variants():
    """The variants this processor runs, from the kernel's flags; None where they are unknown."""
    if platform.machine() not in ("x86_64", "AMD64"):
        return ["portable"]
    try:
        text = Path("/proc/cpuinfo").read_text()
    except OSError:
        return None
    flags = set(re.search(r"^flags\s*:(.*)$", text, re.M).group(1).split())
    # AVX-512 is the set the kernels are compiled for (core/cpu_features.hpp): f, dq, vl and bw.
    avx512 = {"avx512f", "avx512dq", "avx512vl", "avx512bw"} <= flags
    return ["portable"] + (["avx2"] if "avx2" in flags else []) + (["avx512"] if avx512 else [])


def test_every_variant_gives_the_portable_bits():
    program, env = built_check()
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

"""The MIMO kernel variants that VORN_MIMO_KERNELS picks: the wide MIMO tests again under
each named variant (a variant the processor lacks must fall back, not crash; the
in-process run covers the automatic choice), and the names that import accepts."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

from vorn import _kernel_choice

ROOT = Path(__file__).resolve().parents[1]
VARIABLE = _kernel_choice.VARIABLE


def env_with(value):
    return {**os.environ, VARIABLE: value}


def test_wide_mimo_tests_under_every_variant():
    # The runs overlap: each takes a few seconds, mostly in starting the interpreter.
    variants = ["portable", "avx2", "avx512"]
    runs = {v: subprocess.Popen([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                                 "tests/test_mimo_wide.py"], cwd=ROOT, env=env_with(v),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            for v in variants}
    for v, proc in runs.items():
        out, _ = proc.communicate(timeout=600)
        assert proc.returncode == 0, f"{VARIABLE}={v}:\n{out[-3000:]}"
        assert " passed" in out and "skipped" not in out


@pytest.mark.parametrize("value, accepted", [
    ("", True), ("auto", True), ("portable", True), ("avx2", True), ("avx512", True),
    ("AVX2", False), ("sse2", False), ("avx-512", False), (" avx2", False), ("avx512f", False),
])
def test_variant_names(value, accepted):
    if accepted:
        _kernel_choice.check_environment({VARIABLE: value})
        return
    with pytest.raises(ImportError) as info:
        _kernel_choice.check_environment({VARIABLE: value})
    assert info.value.args == (f"{VARIABLE}={value!r} names no MIMO kernel variant; "
                               "use one of auto, portable, avx2, avx512, or leave it unset",)


def test_a_misspelt_variant_stops_the_import():
    proc = subprocess.run([sys.executable, "-c", "import vorn"], env=env_with("avx-512"),
                          capture_output=True, text=True)
    assert proc.returncode == 1
    assert proc.stderr.strip().endswith(f"ImportError: {VARIABLE}='avx-512' names no MIMO kernel variant; "
                                        "use one of auto, portable, avx2, avx512, or leave it unset")

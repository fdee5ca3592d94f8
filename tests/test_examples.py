"""The user's journey in examples/journey, and the MIMO deployment example: each script runs
to its end with a small search and prints what it says it does."""

import importlib.util
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from tests.running import time_limit

JOURNEY = Path(__file__).resolve().parents[1] / "examples" / "journey"


def run(script, *args, cwd):
    return subprocess.run([sys.executable, str(JOURNEY / script), *args], cwd=cwd, capture_output=True,
                          text=True, timeout=time_limit(300), env={**os.environ, "MPLBACKEND": "Agg"})


def needs(*modules):
    missing = [m for m in modules if importlib.util.find_spec(m) is None]
    return pytest.mark.skipif(bool(missing), reason=f"needs {', '.join(missing)}")


@needs("control", "cma")
def test_the_sopdt_journey_tunes_saves_and_exports_a_loop_that_replays(tmp_path):
    result = run("sopdt_control.py", str(tmp_path), "--generations", "4", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["sopdt.c", "sopdt.h", "sopdt.yaml"]
    tuned = float(result.stdout.split("IAE ")[1].split()[0])
    # The loop replayed from the saved file has the tuning's own cost.
    row = result.stdout.splitlines()[2].split()
    assert row[:2] == ["PFDLController", "sopdt"] and float(row[3]) == pytest.approx(tuned, rel=1e-3)
    assert "# form: pfdl" in (tmp_path / "sopdt.yaml").read_text()


@pytest.mark.parametrize("script, modules, words", [
    ("float_plant.py", ("cma",), ["cfdl tuned: IAE", "8 units with ±20 % heater gains: IAE from"]),
    ("noisy_robust.py", ("cma", "scipy"), ["1 scenario(s): IAE", "6 scenario(s): IAE", "on 10 fresh ones"]),
    ("mimo_plant.py", ("control",), ["MimoPfdlController  two tanks", "final levels [1. 1.]"]),
])
def test_each_journey_script_runs(tmp_path, script, modules, words):
    missing = [m for m in modules if importlib.util.find_spec(m) is None]
    if missing:
        pytest.skip(f"needs {', '.join(missing)}")
    result = run(script, "--generations", "3", cwd=tmp_path) if script != "mimo_plant.py" else run(script, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    for word in words:
        assert word in result.stdout, result.stdout


DEPLOY_MIMO = Path(__file__).resolve().parents[1] / "examples" / "deploy_mimo_c" / "deploy.py"


@pytest.mark.skipif(not any(map(shutil.which, ("cc", "gcc"))) and not os.environ.get("CC"), reason="no C compiler")
def test_the_mimo_deployment_reads_its_tuning_and_runs_the_same_signed_loop_in_c(tmp_path):
    result = subprocess.run([sys.executable, str(DEPLOY_MIMO), "45"], cwd=tmp_path, capture_output=True,
                            text=True, timeout=time_limit(300))
    assert result.returncode == 0, result.stderr
    assert "MimoPfdlController, channel signs [1.0, -1.0]" in result.stdout
    assert result.stdout.endswith("45 of 45 samples identical to the last bit\n") and "differs" not in result.stdout

"""The exported C over every face: a controller exported in the middle of a run (a single
one, or a fleet's member) continues in C bit for bit as it continues in Python. The compile
and run helpers are tests/test_export_c.py's (SISO) and tests/test_export_mimo.py's (MIMO)."""

import importlib
import random

import pytest

from tests import test_export_mimo as mimo_runs
from tests.conformance.faces import FACES, MIMO_FLEETS, Face
from tests.test_export_c import Run, needs_cc, run_exported, same_up_to_nan_payload

export = importlib.import_module("vorn.export.c")

SISO_FACES = [f for f in FACES if f.family in ("siso", "fleet")]


@needs_cc
@pytest.mark.parametrize("face", SISO_FACES, ids=str)
@pytest.mark.parametrize("exotic", [False, True], ids=["plain", "exotic"])
def test_exported_code_continues_as_the_python_object(tmp_path, face: Face, exotic):
    rng = random.Random(f"{face}-{exotic}")
    run = Run(face.form, rng, {}, exotic)
    for _ in range(rng.randrange(5, 30)):
        run.step(record=False)
        if rng.random() < 0.2:
            # A single takes estimate vectors of other lengths too; a fleet's members hold
            # exactly their orders' worth, so the run that becomes a member keeps to them.
            run.tune(record=face.family == "fleet")
    run.commands, run.expected = [], []
    if face.family == "fleet":
        # The member of a fleet made from it is what is exported; it is the same controller.
        fleet = face.cls.from_controllers([run.ctl, run.ctl])
        exported = fleet[1]
    else:
        exported = run.ctl
    export.export_c(exported, tmp_path, "ctl")
    for _ in range(600):
        run.step(record=True)
        if rng.random() < 0.02:
            run.tune(record=True)
    got = run_exported(tmp_path, run.commands)
    want = [same_up_to_nan_payload(line) for line in run.expected]
    assert got == want


MIMO_FACES = [f for f in FACES + MIMO_FLEETS if f.family in ("mimo", "mimo fleet")]


@needs_cc
@pytest.mark.parametrize("face", MIMO_FACES, ids=str)
def test_exported_mimo_code_continues_as_the_python_object(tmp_path, face: Face):
    # One program for the face: controllers of dim 1 to 6, plain and with odd samples.
    rng = random.Random(f"{face}-mimo")
    runs = {}
    for dim in range(1, 7):
        for exotic in (False, True):
            run = mimo_runs.advanced(face.form, rng, dim, exotic, 0)
            if face.family == "mimo fleet":
                # The member of a fleet made from it is what is exported; it is the same controller.
                run.exported = face.cls.from_controllers([run.ctl, run.ctl])[1]
            runs[f"m{dim}_{int(exotic)}"] = run
    mimo_runs.check_batch(tmp_path, runs, 600)

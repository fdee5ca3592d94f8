"""The exported C over every SISO face: a controller exported in the middle of a run (a
single one, or a fleet's member) continues in C bit for bit as it continues in Python.
The compile and run helpers are tests/test_export_c.py's."""

import importlib
import random

import pytest

from tests.conformance.faces import FACES, Face
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

"""`vorn tune`, `vorn run --config` and `vorn export-c --config` for a MIMO plant: the tuning's
file replays to the tuned IAE, exports as C, carries the channels' signs, and every mistake is
one line with exit status 2."""

import re
import shutil
from pathlib import Path

import pytest

from vorn.cli import main
from vorn.tuning.mimo_file import read_mimo_file

PLANTS = Path(__file__).with_name("mimo_plants.py")
COUNT = ("--budget", "2", "--steps", "240")


@pytest.fixture(scope="module")
def tuned(tmp_path_factory):
    """A saved tuning of the coupled plant, and what `vorn tune` printed."""
    where = tmp_path_factory.mktemp("tuned")
    path = where / "tuned.vorn"
    import contextlib
    import io

    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
        assert main(["tune", "--plant", "coupled", "--form", "pfdl", *COUNT, "--out", str(path)]) == 0
    return path, out.getvalue()


def test_the_saved_tuning_replays_to_its_iae_and_exports_as_c(tuned, tmp_path, capsys):
    path, printed = tuned
    tuned_iae = float(re.search(r"IAE (\S+) tuned", printed).group(1))
    assert "channel signs: +1, +1" in printed and f"--config {path}" in printed
    assert path.read_text().splitlines()[2] == "form: mimo-pfdl"
    assert main(["run", "--plant", "coupled", "--steps", "240", "--config", str(path)]) in (0, 1)
    row = next(line.split() for line in capsys.readouterr().out.splitlines() if line.startswith("MimoPfdl"))
    assert float(row[3]) == pytest.approx(tuned_iae, abs=6e-4)
    assert main(["export-c", "--config", str(path), "--out", str(tmp_path), "--name", "ctl"]) == 0
    header = (tmp_path / "ctl.h").read_text()
    assert re.search(r"#define CTL_DIM 2U?\b", header), header[:400]


def test_a_negative_channel_is_tuned_replayed_signed_and_exported_with_a_note(tmp_path, capsys):
    shutil.copy(PLANTS, tmp_path / "rigs.py")
    out = str(tmp_path / "neg.vorn")
    plant = f"{tmp_path / 'rigs.py'}:NegativeChannel"
    assert main(["tune", "--plant", plant, "--form", "cfdl", *COUNT, "--no-pid", "--out", out]) == 0
    assert "channel signs: +1, -1" in capsys.readouterr().out
    assert read_mimo_file(out).signs == (1.0, -1.0)
    assert main(["run", "--plant", plant, "--steps", "240", "--config", out]) == 0
    assert capsys.readouterr().out.splitlines()[1].startswith("MimoCfdlController  negative-channel")
    assert main(["export-c", "--config", out, "--out", str(tmp_path), "--name", "neg"]) == 0
    assert "apply u[c] * sign[c] to the plant after neg_update" in capsys.readouterr().err


@pytest.mark.parametrize("args, expected", [
    (["run", "--plant", "nonlinear", "--config", "{mimo}"], "holds a MIMO tuning; the nonlinear plant needs a SISO"),
    (["run", "--plant", "coupled", "--form", "cfdl", "--config", "{mimo}"], "holds a MIMO pfdl tuning, not cfdl"),
    (["run", "--plant", "coupled", "--config", "{broken}"], "line 5: eta must be a number"),
    (["run", "--plant", "coupled", "--config", "{siso}"], "--config holds SISO parameters; the coupled plant needs"),
    (["run", "--plant", "coupled", "--config", "missing.vorn"], "needs a MIMO controller, from a MIMO tuning's file"),
    (["run", "--plant", "coupled"], "the following arguments are required: --form"),
    (["run", "--plant", "nonlinear", "--config", "{siso}"], "the following arguments are required: --form"),
    (["export-c", "--config", "{siso}"], "the following arguments are required: --form"),
    (["export-c", "--form", "ffdl", "--config", "{mimo}"], "holds a MIMO pfdl tuning, not ffdl"),
    (["tune", "--plant", "coupled", "--form", "pfdl", "--signs", "1,-1,1", "--budget", "1"], "signs must hold one"),
])
def test_mistakes_end_in_one_line_with_status_2(tuned, tmp_path, capsys, args, expected):
    mimo = str(tuned[0])
    broken = tmp_path / "broken.vorn"
    broken.write_text(tuned[0].read_text().replace("\neta: ", "\neta: x", 1))
    siso = tmp_path / "siso.yaml"
    siso.write_text("rho: 0.5\n")
    filled = [a.format(mimo=mimo, broken=broken, siso=siso) for a in args]
    assert main(filled) == 2
    err = capsys.readouterr().err
    assert expected in err and len(err.strip().splitlines()) == 1, err

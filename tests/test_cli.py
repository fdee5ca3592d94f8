"""The vorn command through subprocess: the demo table, `run` with a YAML file, CSV output read
back against the plant's equation, plots, and the one-line errors; the demo's tracking measures."""

import csv
import importlib.util
import math

import pytest

from tests.running import vorn_command as vorn
from vorn import demo

have_matplotlib = importlib.util.find_spec("matplotlib") is not None
PNG = b"\x89PNG\r\n\x1a\n"


def rows_of(stdout):
    """The table's data rows as lists of cells."""
    lines = stdout.splitlines()
    assert lines[0].split()[:3] == ["controller", "plant", "steps"]
    return [line.split() for line in lines[1:] if line.split()[0].endswith("Controller") or line.split()[0] == "PID"]


@pytest.fixture(scope="module")
def demo_result():
    return vorn("demo")


def test_demo_prints_every_controller_and_the_pid_on_its_plants_and_all_track(demo_result):
    assert demo_result.returncode == 0, demo_result.stderr
    rows = rows_of(demo_result.stdout)
    pairs = {(r[0], r[1]) for r in rows}
    siso = {(c, p) for c in ("CFDLController", "PFDLController", "FFDLController", "PID")
            for p in ("nonlinear", "time-varying", "dead-time", "tank", "rational")}
    mimo = {(c, "coupled") for c in ("MimoCfdlController", "MimoPfdlController", "MimoFfdlController")}
    assert pairs == siso | mimo and len(rows) == 23
    for row in rows:
        steps, iae, rmse, overshoot, final = row[2:]
        assert steps == "600"
        assert 0.0 < float(iae) < 100.0 and float(rmse) < 0.3
        assert float(overshoot.rstrip("%")) < 50.0 and abs(float(final)) < 0.01
    assert demo_result.stdout.splitlines()[-1] == "all 23 runs track their set points"
    assert demo_result.stderr == ""


def test_no_arguments_run_the_demo(demo_result):
    assert vorn().stdout == demo_result.stdout


def test_run_with_a_yaml_file(tmp_path):
    config = tmp_path / "pfdl.yaml"
    config.write_text("rho: 0.5\nlambda_: 0.1\nmu: 0.1\ninitial_phi: 0.3\nL_u: 4\nu_min: -1.5\nu_max: 1.5\n")
    result = vorn("run", "--form", "pfdl", "--plant", "nonlinear", "--config", str(config), "--steps", "360")
    assert result.returncode == 0, result.stderr
    [row] = rows_of(result.stdout)
    assert row[:3] == ["PFDLController", "nonlinear", "360"]
    assert abs(float(row[6])) < 1e-3


def test_run_csv_follows_the_plant_equation(tmp_path):
    path = tmp_path / "run.csv"
    result = vorn("run", "--form", "cfdl", "--plant", "nonlinear", "--steps", "200", "--csv", str(path))
    assert result.returncode == 0, result.stderr
    with open(path, newline="", encoding="utf-8") as stream:
        rows = list(csv.DictReader(stream))
    assert len(rows) == 200
    assert [int(r["k"]) for r in rows] == list(range(200))
    assert {(r["controller"], r["plant"], r["channel"]) for r in rows} == {("CFDLController", "nonlinear", "1")}
    y = [float(r["y"]) for r in rows]
    u = [float(r["u"]) for r in rows]
    assert y[0] == 0.0
    for k in range(199):
        assert y[k + 1] == y[k] / (1.0 + y[k] * y[k]) + u[k] * u[k] * u[k]
    assert [float(r["yd"]) for r in rows[118:122]] == [0.5, 0.5, -0.5, -0.5]


def test_demo_csv_holds_every_run_and_both_coupled_channels(tmp_path):
    path = tmp_path / "demo.csv"
    assert vorn("demo", "--steps", "50", "--csv", str(path)).returncode == 0
    with open(path, newline="", encoding="utf-8") as stream:
        rows = list(csv.DictReader(stream))
    runs = {(r["controller"], r["plant"], r["channel"]) for r in rows}
    assert len(runs) == 26 and ("MimoFfdlController", "coupled", "2") in runs
    assert len(rows) == 26 * 50


@pytest.mark.parametrize(
    "args, expected",
    [
        (("run", "--form", "cfdl", "--plant", "moon"), "unknown plant 'moon': a built-in plant (nonlinear, "),
        (("run", "--form", "xfdl", "--plant", "nonlinear"), "invalid choice: 'xfdl'"),
        (("run", "--plant", "nonlinear"), "the following arguments are required: --form"),
        (("demo", "--steps", "many"), "invalid number of steps: 'many'"),
        (("demo", "--steps", "0"), "must be from 1 to"),
        (("--steps", "-3"), "must be from 1 to"),
        (("demo", "--colour"), "unrecognized arguments: --colour"),
        (("run", "--form", "cfdl", "--plant", "nonlinear", "--config", "missing.yaml"),
         "missing.yaml: YAML 错误: 无法读取 YAML 文件: "),
        (("run", "--form", "pfdl", "--plant", "coupled", "--config", "c.yaml"), "needs a MIMO controller"),
        (("run", "--form", "cfdl", "--plant", "dead-time", "--csv", "no/such/dir/x.csv"), "cannot write no/such/dir/x.csv"),
        (("run", "--form", "cfdl", "--plant", "tank", "--noise", "-0.1"), "invalid noise '-0.1'"),
        (("run", "--form", "cfdl", "--plant", "tank", "--seed", "x"), "invalid seed 'x'"),
        (("run", "--form", "cfdl", "--plant", "tank", "--disturbance", "0.2"), "invalid disturbance '0.2': SIZE@SAMPLE"),
        (("run", "--form", "cfdl", "--plant", "tank", "--disturbance", "0.2@-1"), "invalid disturbance '0.2@-1'"),
    ],
)
def test_user_errors_end_in_one_line(tmp_path, args, expected):
    result = vorn(*args, cwd=tmp_path)
    assert result.returncode == 2
    assert "Traceback" not in result.stderr
    [line] = result.stderr.splitlines()
    assert line.startswith("vorn: ") and expected in line


def test_a_seeded_noisy_disturbed_run_repeats():
    args = ("run", "--form", "ffdl", "--plant", "tank", "--noise", "0.01", "--seed", "3", "--disturbance", "0.2@300")
    first, again, other = vorn(*args), vorn(*args), vorn(*args[:-3], "--seed", "4")
    assert first.returncode == 0, first.stderr
    assert first.stdout == again.stdout != other.stdout
    assert first.stdout != vorn("run", "--form", "ffdl", "--plant", "tank").stdout


@pytest.mark.parametrize(
    "form, content, expected",
    [
        ("cfdl", "L_u: 2\n", "CFDL 要求 l_y == 0 且 l_u == 1"),
        ("pfdl", "eta: 3.0\n", "eta 必须满足 0 < eta <= 2"),
        ("ffdl", "eta: [1\n", "YAML 错误: YAML 解析失败: "),
    ],
)
def test_bad_configuration_files(tmp_path, form, content, expected):
    (tmp_path / "c.yaml").write_text(content, encoding="utf-8")
    result = vorn("run", "--form", form, "--plant", "time-varying", "--config", "c.yaml", cwd=tmp_path)
    assert result.returncode == 2 and result.stdout == ""
    [line] = result.stderr.splitlines()
    assert line.startswith("vorn: c.yaml: ") and expected in line


@pytest.mark.parametrize(
    "config, reason",
    [
        # A tiny initial estimate and no input limits: the cubic plant runs away at once.
        ("rho: 1.0\nlambda_: 0.001\ninitial_phi: 0.02\neta: 0.01\n", " (diverged after 2 samples)"),
        # Bounded, but it never settles.
        ("rho: 1.0\nlambda_: 0.0001\ninitial_phi: 0.01\neta: 2.0\n", ""),
    ],
)
def test_a_run_that_does_not_track_fails(tmp_path, config, reason):
    (tmp_path / "wild.yaml").write_text(config)
    result = vorn("run", "--form", "cfdl", "--plant", "nonlinear", "--config", "wild.yaml", cwd=tmp_path)
    assert result.returncode == 1
    assert result.stderr == f"vorn: did not track the set point: CFDLController on nonlinear{reason}\n"
    assert len(rows_of(result.stdout)) == 1


@pytest.mark.skipif(not have_matplotlib, reason="matplotlib is not installed")
@pytest.mark.parametrize("args", [("run", "--form", "ffdl", "--plant", "coupled"), ("demo", "--steps", "120")])
def test_plot_writes_a_png(tmp_path, args):
    path = tmp_path / "figure.png"
    result = vorn(*args, "--plot", str(path))
    assert result.returncode == 0, result.stderr
    assert path.read_bytes()[:8] == PNG


@pytest.mark.skipif(not have_matplotlib, reason="matplotlib is not installed")
def test_plot_to_an_unwritable_place_is_one_line(tmp_path):
    result = vorn("run", "--form", "cfdl", "--plant", "nonlinear", "--plot", str(tmp_path / "no" / "f.png"))
    assert result.returncode == 2
    [line] = result.stderr.splitlines()
    assert line.startswith(f"vorn: cannot write {tmp_path / 'no' / 'f.png'}")


def test_plot_without_matplotlib_says_how_to_install_before_any_run(tmp_path):
    blocked = "import sys; sys.modules['matplotlib'] = None; from vorn.cli import main; sys.exit(main())"
    path = tmp_path / "f.png"
    result = vorn("run", "--form", "cfdl", "--plant", "nonlinear", "--plot", str(path), code=blocked)
    assert result.returncode == 2
    assert result.stderr == "vorn: --plot needs matplotlib; install it with: pip install 'vorn[plot]'\n"
    assert result.stdout == "" and not path.exists()


def _run(yd, y):
    return demo.Run.from_channels("C", "p", [list(yd)], [list(y)], [[0.0] * len(y)])


@pytest.mark.parametrize(
    "yd, y, overshoot, rmse, tracks",
    [
        # From rest to 1: peaks at 1.2 (20 %), settled from sample 3 on.
        ([1.0] * 6, [0.0, 1.2, 0.9, 1.0, 1.0, 1.0], 20.0, 0.0, True),
        # A downward step overshoots below the new level.
        ([1.0] * 3 + [0.0] * 3, [0.0, 1.0, 1.0, 1.0, -0.5, 0.0], 50.0, math.sqrt(1.25 / 5), True),
        # Never within the band: the RMSE runs from the second change, and the run does not track.
        ([1.0] * 3 + [2.0] * 3, [0.0, 0.5, 0.5, 0.5, 1.0, 1.5], 0.0, math.sqrt((2.25 + 1 + 0.25) / 3), False),
    ],
)
def test_tracking_measures(yd, y, overshoot, rmse, tracks):
    m = demo.measure(_run(yd, y))
    assert m.overshoot == pytest.approx(overshoot)
    assert m.rmse == pytest.approx(rmse)
    assert m.tracks is tracks
    assert m.iae == pytest.approx(sum(abs(a - b) for a, b in zip(yd, y)))
    assert m.final_error == yd[-1] - y[-1]



PLANTS_FILE = """\
class Heater:
    def __init__(self, gain=2.0, rest=0.0):
        self.gain, self.rest = gain, rest

    def reset(self):
        self.y = self.rest
        return self.y

    def step(self, u):
        self.y = 0.9 * self.y + 0.1 * (self.rest + self.gain * u)
        return self.y


class Tanks:
    def reset(self):
        self.h = [0.0, 0.0]
        return list(self.h)

    def step(self, u):
        self.h = [0.7 * self.h[0] + 0.3 * u[0] + 0.05 * u[1], 0.6 * self.h[1] + 0.4 * u[1]]
        return list(self.h)


class Copies:
    # The plant protocol itself: n copies of a first-order lag.
    def reset(self, n):
        import numpy
        self.y = numpy.zeros(n)
        return self.y.copy()

    def step(self, u):
        self.y = 0.8 * self.y + 0.4 * u
        return self.y.copy()


class TextOut(Heater):
    def reset(self):
        return "warm"


class Nothing:
    pass


def broken(**kwargs):
    raise RuntimeError("the rig is offline")
"""


@pytest.fixture
def plants_dir(tmp_path):
    (tmp_path / "rigs.py").write_text(PLANTS_FILE)
    return tmp_path


@pytest.mark.parametrize("plant, extra, controller, dim", [
    ("rigs:Heater", ("--plant-arg", "gain=3", "--plant-arg", "rest=0.0"), "CFDLController", 1),
    ("rigs.py:Tanks", (), "MimoCfdlController", 2),
    ("rigs:Copies", ("--setpoint", "0.5,1.5"), "CFDLController", 1),
])
def test_run_takes_a_users_plant(plants_dir, plant, extra, controller, dim):
    result = vorn("run", "--form", "cfdl", "--plant", plant, *extra, "--steps", "240",
                  "--csv", "out.csv", cwd=plants_dir)
    assert result.returncode == 0, result.stderr
    [row] = rows_of(result.stdout)
    assert row[0] == controller and row[1] == plant.split(":")[1]
    with open(plants_dir / "out.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == 240 * dim
    levels = sorted({float(r["yd"]) for r in rows})
    assert levels == ([0.5, 1.5] if "--setpoint" in extra else [1.0, 2.0])


@pytest.mark.parametrize("plant, extra, expected", [
    ("rigs:Nothing", (), "rigs:Nothing does not follow the plant protocol: it makes a Nothing without reset() and step(u)"),
    ("rigs:TextOut", (), "the plant rigs:TextOut failed: TypeError: the TextOut plant's reset() must return a number"),
    ("rigs:broken", (), "the plant rigs:broken failed: RuntimeError: the rig is offline"),
    ("rigs:Heater", ("--plant-arg", "colour=1"), "unexpected keyword argument 'colour'"),
    ("rigs:Missing", (), "cannot load the plant: rigs has no Missing"),
    ("nosuchmodule:Plant", (), "cannot import nosuchmodule: ModuleNotFoundError"),
    ("nowhere/rigs.py:Heater", (), "cannot load the plant: no file nowhere/rigs.py"),
    ("rigs:Heater", ("--plant-arg", "gain"), "invalid plant argument 'gain': KEY=VALUE"),
    ("rigs:Heater", ("--setpoint", "1,x"), "invalid set point '1,x'"),
    ("tank", ("--plant-arg", "gain=1"), "--plant-arg is for your own plant"),
])
def test_a_users_plant_that_cannot_run_is_one_line(plants_dir, plant, extra, expected):
    result = vorn("run", "--form", "cfdl", "--plant", plant, *extra, cwd=plants_dir)
    assert result.returncode == 2 and "Traceback" not in result.stderr, result.stderr
    [line] = result.stderr.splitlines()
    assert line.startswith("vorn: ") and expected in line


def test_tune_takes_a_users_plant_and_records_the_form_and_the_pid(plants_dir):
    from vorn.tuning.save import read_record

    result = vorn("tune", "--form", "pfdl", "--plant", "rigs:Heater", "--plant-arg", "gain=3",
                  "--steps", "240", "--budget", "2", "--out", "t.yaml", cwd=plants_dir)
    assert result.returncode == 0, result.stderr
    assert "pfdl on rigs:Heater" in result.stdout and "--plant-arg gain=3" in result.stdout
    text = (plants_dir / "t.yaml").read_text()
    assert text.startswith("# vorn tune: pfdl on Heater, IAE ")
    record = read_record(text)
    assert record["form"] == "pfdl" and set(record["pid"]) >= {"kp", "ki", "kd"}
    printed = result.stdout.split("with the tuned PID (")[1].split(")")[0]
    assert printed == ", ".join(f"{k}={v!r}" for k, v in record["pid"].items())
    replay = vorn("run", "--form", "pfdl", "--plant", "rigs:Heater", "--plant-arg", "gain=3",
                  "--steps", "240", "--config", "t.yaml", cwd=plants_dir)
    assert replay.returncode in (0, 1) and replay.stderr.count("warning") == 0, replay.stderr


def test_tune_tunes_a_users_mimo_plant_but_refuses_the_siso_stress_table_on_it(plants_dir):
    result = vorn("tune", "--form", "cfdl", "--plant", "rigs:Tanks", "--budget", "1", "--stress", cwd=plants_dir)
    assert result.returncode == 2
    assert result.stderr == ("vorn: --stress covers SISO tunings; run the MIMO controller on your perturbed "
                             "plants instead\n")
    result = vorn("tune", "--form", "cfdl", "--plant", "rigs:Tanks", "--steps", "240", "--budget", "2",
                  cwd=plants_dir)
    assert result.returncode == 0, result.stderr
    assert "channel signs: +1, +1; costs are summed over the 2 channels" in result.stdout

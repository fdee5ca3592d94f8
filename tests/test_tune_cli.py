"""`vorn tune` through subprocess: the written file replays with `vorn run` to the same IAE,
progress lines when not on a terminal, Ctrl-C, and one-line errors."""

import os
import re
import signal
import subprocess
import sys

import pytest

import vorn
from tests.running import time_limit, vorn_command as command
from vorn.cli import main


def test_the_written_file_replays_with_run_to_the_same_iae(tmp_path):
    done = command("tune", "--form", "cfdl", "--plant", "dead-time", "--budget", "1.5", "--steps", "240",
                   "--out", "t.yaml", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    tuned = float(re.search(r"IAE (\S+) tuned", done.stdout).group(1))
    assert "with the tuned PID (kp=" in done.stdout
    assert re.search(r"^pid: generation \d+", done.stderr, re.M)  # plain progress lines off a terminal
    params = vorn.load_config_from_yaml(True, str(tmp_path / "t.yaml"))
    replay = command("run", "--form", "cfdl", "--plant", "dead-time", "--config", "t.yaml", "--steps", "240",
                     cwd=tmp_path)
    assert replay.returncode == 0, replay.stderr
    row = next(line.split() for line in replay.stdout.splitlines() if line.startswith("CFDLController"))
    assert float(row[3]) == pytest.approx(tuned, abs=6e-4)
    assert params[5:7] == (0, 1)


@pytest.mark.parametrize("save", [False, True])
def test_ctrl_c_prints_the_best_so_far_and_writes_only_when_asked(tmp_path, save):
    # Ctrl-C reaches the command as it would from a terminal, even where this suite itself was
    # started with SIGINT ignored (a background job of a script), which a child inherits.
    args = [sys.executable, "-c", "import runpy, signal, sys; signal.signal(signal.SIGINT, signal.default_int_handler); "
            "sys.argv[0] = 'vorn'; runpy.run_module('vorn', run_name='__main__')",
            "tune", "--form", "pfdl", "--plant", "tank", "--budget", "60",
            "--out", "t.yaml", *(["--save-interrupted"] if save else [])]
    with subprocess.Popen(args, cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as p:
        first = p.stderr.readline()  # the first generation is done
        assert first.startswith("pfdl: generation"), first
        for _ in range(10):  # a signal that lands inside a finaliser is lost: press again
            p.send_signal(signal.SIGINT)
            try:
                out, err = p.communicate(timeout=time_limit(3))
                break
            except subprocess.TimeoutExpired:
                continue
        else:
            p.kill()
            out, err = p.communicate()
            pytest.fail(f"ten presses of Ctrl-C did not stop the command: {err}")
    assert p.returncode == 130, err
    assert "interrupted" in err and "tuned" in out
    assert (tmp_path / "t.yaml").exists() == save
    if save:
        assert "interrupted" in (tmp_path / "t.yaml").read_text(encoding="utf-8")
    assert [name for name in os.listdir(tmp_path) if name.startswith(".vorn-")] == []


@pytest.mark.parametrize("args, expected", [
    (["--budget", "0"], "invalid budget '0'"),
    (["--budget", "nan"], "invalid budget"),
    (["--noise", "-1"], "noise must be"),
    (["--scenarios", "0"], "invalid number of scenarios"),
    # Counts that size the search's arrays share `vorn run`'s bound of 10^6 samples.
    (["--steps", "1000000000"], "invalid number of steps '1000000000': must be from 1 to 1000000"),
    (["--scenarios", "1000000000"], "invalid number of scenarios '1000000000': must be from 1 to 1000000"),
    (["--scenarios", "1001", "--steps", "1000"], "is 1001000 samples per candidate; at most 1000000"),
    (["--steps", "2.5"], "invalid number of steps: '2.5'"),
    (["--plant", "coupled", "--u-min", "0"], "the MIMO controllers have no input limits"),
    (["--plant", "coupled", "--signs", "1,0"], "invalid signs '1,0'"),
    (["--signs", "1"], "--signs gives the input signs of a MIMO plant's channels"),
    (["--l-u", "0"], "l_u must be at least 1"),
    (["--u-min", "2", "--u-max", "1"], "u_min"),
])
def test_bad_arguments_end_in_one_line(tmp_path, capsys, args, expected):
    base = {"--form": "pfdl", "--plant": "dead-time", "--budget": "1"}
    for flag, value in zip(args[::2], args[1::2]):
        base[flag] = value
    out = str(tmp_path / "t.yaml")
    assert main(["tune", *[x for pair in base.items() for x in pair], "--out", out]) == 2
    err = capsys.readouterr().err
    assert expected in err and len(err.strip().splitlines()) == 1
    assert not (tmp_path / "t.yaml").exists()

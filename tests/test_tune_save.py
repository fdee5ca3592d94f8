"""Tuning.save: the YAML file reads back through load_config_from_yaml to exactly the tuned
parameters, and a write that fails leaves the target as it was and no stray file."""

import math
import os

import numpy as np
import pytest

import vorn
from vorn.tuning.result import Tuning
from vorn.tuning.save import config_text, save_config

AWKWARD = [0.1 + 0.2, 1e-300, 5e-324, 1.7976931348623157e308, 2.0, 1.0 / 3.0, 123456789.123456789, -0.0]


def tuning(form, params, interrupted=False):
    return Tuning(form, params, 1.5, 9.0, None, [1.5], 10, 1, 0.1, interrupted, ("iae", "mean"),
                  "dead-time", np.ones(4))


@pytest.mark.parametrize("value", AWKWARD)
@pytest.mark.parametrize("key", ["eta", "mu", "rho", "lambda_", "initial_phi", "u0"])
def test_every_double_reads_back_bit_for_bit(tmp_path, key, value):
    if key in ("eta", "rho", "mu", "lambda_") and not (0 < value <= 1.0):
        value = math.ldexp(value, -math.frexp(value)[1]) if value > 0 else 0.5
    params = {"l_u": 3, key: value}
    t = tuning("pfdl", params)
    path = tmp_path / "tuned.yaml"
    t.save(path)
    back = vorn.load_config_from_yaml(True, str(path))
    assert [repr(v) for v in back] == [repr(v) for v in t.config()]
    controller = vorn.PFDLController(*back)
    assert repr(controller.__getnewargs__()) == repr(t.controller().__getnewargs__())


@pytest.mark.parametrize("form, params", [
    ("cfdl", {"eta": 0.3, "u_min": -1.5, "u_max": 1.5}),
    ("pfdl", {"l_u": 5, "u_min": float("-inf"), "u_max": float("inf")}),
    ("ffdl", {"l_y": 0, "l_u": 4, "initial_phi": -2.5}),
])
def test_orders_limits_and_forms_read_back(tmp_path, form, params):
    t = tuning(form, params)
    path = tmp_path / "t.yaml"
    t.save(path)
    text = path.read_text(encoding="utf-8")
    assert "L_u:" in text and "L_y:" in text and "lambda_:" in text
    back = vorn.load_config_from_yaml(True, str(path))
    assert [repr(v) for v in back] == [repr(v) for v in t.config()]
    assert text.startswith("# vorn tune: ")


def test_a_value_the_loader_refuses_leaves_the_target_and_no_stray_file(tmp_path):
    path = tmp_path / "t.yaml"
    path.write_text("rho: 0.5\n", encoding="utf-8")
    with pytest.raises(ValueError, match="eta"):
        tuning("cfdl", {"eta": 3.0}).save(path)
    assert path.read_text(encoding="utf-8") == "rho: 0.5\n"
    assert os.listdir(tmp_path) == ["t.yaml"]


def test_a_missing_directory_fails_without_writing(tmp_path):
    with pytest.raises(OSError):
        save_config(tmp_path / "missing" / "t.yaml", vorn.load_config_from_yaml(False))
    assert os.listdir(tmp_path) == []


def test_an_interrupted_result_says_so_in_its_file():
    text = tuning("cfdl", {}, interrupted=True).yaml()
    assert "interrupted" in text.splitlines()[1]
    assert config_text(vorn.load_config_from_yaml(False)).count("\n") == 11

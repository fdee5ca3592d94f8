"""`vorn check-config` and the warning of `vorn run --config`: ignored keys with the key likely
meant, exit statuses, and a key scan that sees the root keys exactly as the loader does."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vorn
from tests.running import vorn_command as vorn_cli
from vorn import _vorn_config
from vorn.cli.config import FILE_KEYS, likely_key


def write(tmp_path, text, name="c.yaml"):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return str(path)


@pytest.mark.parametrize("key, meant", [
    ("l_u", "L_u"), ("l_y", "L_y"), ("LU", "L_u"), ("lamda_", "lambda_"), ("lambda", "lambda_"),
    ("Lambda", "lambda_"), ("ETA", "eta"), ("rh0", "rho"), ("epsilon", "eps"), ("umin", "u_min"),
    ("initial-phi", "initial_phi"), ("phi0", "initial_phi"), ("colour", None), ("x", None),
])
def test_likely_key(key, meant):
    assert likely_key(key) == meant


def test_lower_case_pseudo_order_is_caught_and_the_file_still_reports_its_parameters(tmp_path):
    path = write(tmp_path, "rho: 0.5\nl_u: 4\n")
    result = vorn_cli("check-config", path)
    assert result.returncode == 1, result.stderr
    assert f"{path}: ignored key 'l_u' at line 2, column 1 (did you mean 'L_u'?)" in result.stdout
    assert "  rho          0.5\n" in result.stdout and "  L_u          1\n" in result.stdout
    assert "builds: CFDLController, PFDLController, FFDLController" in result.stdout


@pytest.mark.parametrize("text, builds", [
    ("L_u: 4\nlambda_: 0.1\n", "PFDLController, FFDLController"),
    ("", "CFDLController, PFDLController, FFDLController"),
    ("L_y: 2\nL_u: 2\n", "FFDLController"),
    ("L_u: 0\n", "no SISO class"),
])
def test_a_clean_file_exits_0_and_names_the_classes_it_builds(tmp_path, text, builds):
    result = vorn_cli("check-config", write(tmp_path, text))
    assert result.returncode == 0, result.stdout + result.stderr
    assert "ignored" not in result.stdout
    assert f"builds: {builds}" in result.stdout


@pytest.mark.parametrize("text, message, english", [
    ("eta: 3.0\n", "eta 必须满足 0 < eta <= 2", "eta must satisfy 0 < eta <= 2"),
    ("eta: 1\neta: 1\n", "YAML 错误: YAML 解析失败: duplicate field `eta`", "YAML error: parsing failed"),
    ("l_u: 4\nrho: '0.5'\n", "YAML 错误: YAML 解析失败: invalid type: quoted string", "YAML error: parsing failed"),
])
def test_a_file_the_loader_refuses_exits_2_with_its_message_in_english_too(tmp_path, text, message, english):
    path = write(tmp_path, text)
    result = vorn_cli("check-config", path)
    assert result.returncode == 2
    assert result.stdout == ""
    [line] = result.stderr.splitlines()
    assert line.startswith(f"vorn: {path}: {message}") and line.endswith(f" ({english})")


def test_a_missing_file_exits_2(tmp_path):
    result = vorn_cli("check-config", str(tmp_path / "none.yaml"))
    assert result.returncode == 2 and "无法读取 YAML 文件" in result.stderr


def test_run_with_config_warns_about_ignored_keys_on_stderr(tmp_path):
    path = write(tmp_path, "L_u: 4\nlamda_: 0.1\nrho: 0.5\nmu: 0.1\ninitial_phi: 0.3\nu_min: -1.5\nu_max: 1.5\n")
    result = vorn_cli("run", "--form", "pfdl", "--plant", "nonlinear", "--config", path, "--steps", "240")
    assert result.stderr.splitlines()[0] == (
        f"vorn: warning: {path}: ignored key 'lamda_' at line 2, column 1 (did you mean 'lambda_'?)")
    assert "PFDLController" in result.stdout


@pytest.mark.parametrize("text, ignored", [
    ("'l_u': 1\n\"L_u\": 2\n", [("l_u", 1, 1)]),                  # quoting does not change a key
    ("{l_u: 1, eta: 1.0, extra: {rho: 9}}\n", [("l_u", 1, 2), ("extra", 1, 20)]),
    ("? l_u\n: 1\n", [("l_u", 1, 3)]),
    ("a: &k l_y\n*k : 1\n", [("a", 1, 1), ("l_y", 2, 1)]),          # an alias as a key
    ("? [L_u]\n: 1\n? {eta: 1}\n: 2\n", [(None, 1, 3), (None, 3, 3)]),
    ("\ufeffl_u: 1\n", [("l_u", 1, 1)]),                           # byte order mark
    ("nested:\n  l_u: 4\n  eta: 9\nlist: [l_u, 1]\n", [("nested", 1, 1), ("list", 4, 1)]),
    ("--- \nl_u: 1\n...\n", [("l_u", 2, 1)]),
    ("", []),
    ("# only a comment\n", []),
])
def test_ignored_keys_of_the_root_mapping_only(tmp_path, text, ignored):
    vorn.load_config_from_yaml(True, write(tmp_path, text))  # the loader accepts each text
    assert _vorn_config.ignored_keys(text) == ignored


def test_ignored_keys_refuses_what_the_loader_refuses():
    with pytest.raises(ValueError, match="duplicate field `eta`"):
        _vorn_config.ignored_keys("eta: 1\neta: 2\n")
    with pytest.raises(TypeError):
        _vorn_config.ignored_keys(b"eta: 1\n")


# Keys a file may hold: the eleven and spellings next to them.
KEYS = st.sampled_from(FILE_KEYS + ("l_u", "l_y", "lambda", "lamda_", "Eta", "u_Min", "<<", "1", "x y"))
VALUES = {"eta": "0.5", "mu": "2", "rho": "0.25", "lambda_": "0.5", "eps": "1e-3", "L_y": "3", "L_u": "0x2",
          "initial_phi": "-1.5", "u0": "7", "u_min": "-4", "u_max": "~"}
EXPECTED = {"eta": 0.5, "mu": 2.0, "rho": 0.25, "lambda_": 0.5, "eps": 1e-3, "L_y": 3, "L_u": 2,
            "initial_phi": -1.5, "u0": 7.0, "u_min": -4.0, "u_max": None}


def _quote(key, style):
    if style == "single":
        return f"'{key}'"
    if style == "double":
        return f'"{key}"'
    return key if key not in ("<<", "x y") else f"'{key}'"


@settings(max_examples=60, deadline=None)
@given(keys=st.lists(KEYS, unique=True, max_size=8),
       styles=st.lists(st.sampled_from(["plain", "single", "double"]), min_size=8, max_size=8),
       layout=st.sampled_from(["block", "flow", "explicit"]))
def test_the_scan_and_the_loader_agree_on_every_root_key(tmp_path_factory, keys, styles, layout):
    entries = [(_quote(k, s), VALUES.get(k, "{eta: 5, L_u: 9}")) for k, s in zip(keys, styles)]
    if layout == "flow":
        text = "{" + ", ".join(f"{k}: {v}" for k, v in entries) + "}\n"
    elif layout == "explicit":
        text = "".join(f"? {k}\n: {v}\n" for k, v in entries)
    else:
        text = "".join(f"{k}: {v}\n" for k, v in entries)
    path = tmp_path_factory.mktemp("scan") / "c.yaml"
    path.write_text(text, encoding="utf-8")
    params = dict(zip(FILE_KEYS, vorn.load_config_from_yaml(True, str(path))))
    defaults = dict(zip(FILE_KEYS, vorn.load_config_from_yaml(False)))
    assert params == {k: EXPECTED[k] if k in keys else defaults[k] for k in FILE_KEYS}
    assert [k for k, _, _ in _vorn_config.ignored_keys(text)] == [k for k in keys if k not in FILE_KEYS]


# --- one read of the file, and what each form accepts without building it ---

import builtins
import io
import os

from vorn.cli import check_config
from vorn.cli import main

SISO = {"cfdl": vorn.CFDLController, "pfdl": vorn.PFDLController, "ffdl": vorn.FFDLController}


@pytest.mark.parametrize("text", [
    "", "rho: 0.5\nl_u: 4\n", "{L_u: 3, extra: [1], ? [a] : 2}\n", "\ufeffL_y: 2\nL_u: 2\nu_min: ~\n",
    "eta: 3.0\n", "eta: 1\neta: 1\n", "rho: '0.5'\n", "- 1\n", "L_u: 1\n---\nL_u: 2\n", "\xff",
])
def test_load_reads_what_the_loader_reads_and_refuses_what_it_refuses(tmp_path, text):
    path = str(tmp_path / "c.yaml")
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as stream:
        stream.write(text)
    try:
        expected = vorn.load_config_from_yaml(True, path)
    except ValueError as refusal:
        with pytest.raises(ValueError) as caught:
            _vorn_config.load(path)
        assert str(caught.value) == str(refusal)
        return
    assert _vorn_config.load(path) == (expected, _vorn_config.ignored_keys(text))


@pytest.mark.parametrize("make", ["missing", "directory", "fifo", "large", "latin-1"])
def test_load_refuses_every_unreadable_file_as_the_loader_does(tmp_path, make):
    path = tmp_path / "c.yaml"
    if make == "directory":
        path.mkdir()
    elif make == "fifo":
        os.mkfifo(path)  # never opened: a read would block
    elif make == "large":
        path.write_text("# " + "x" * (1 << 20) + "\n")
    elif make == "latin-1":
        path.write_bytes(b"eta: 1\n# caf\xe9\n")
    with pytest.raises(ValueError) as loader:
        vorn.load_config_from_yaml(True, str(path))
    with pytest.raises(ValueError) as one_read:
        _vorn_config.load(str(path))
    assert str(one_read.value) == str(loader.value) and "无法读取 YAML 文件" in str(loader.value)
    for command in (["check-config"], ["run", "--form", "pfdl", "--plant", "nonlinear", "--steps", "20", "--config"],
                    ["export-c", "--form", "pfdl", "--out", str(tmp_path / "c"), "--config"]):
        # the same one line wherever the file is read (a MIMO tuning's reader never waits on a FIFO)
        result = vorn_cli(*command, str(path))
        assert result.returncode == 2 and result.stdout == "" and len(result.stderr.splitlines()) == 1
        assert str(loader.value).split(":")[0] in result.stderr


def test_check_config_and_run_read_the_file_once_through_the_loader(tmp_path, monkeypatch, capsys):
    # No second open of the path (which a FIFO swapped in could block): Python's open is gone.
    path = write(tmp_path, "L_u: 4\nlamda_: 0.1\n")
    reads = []
    real = _vorn_config.load
    monkeypatch.setattr(_vorn_config, "load", lambda p: reads.append(p) or real(p))
    for opener in (builtins, io):
        monkeypatch.setattr(opener, "open", lambda *a, **k: pytest.fail(f"reopened {a[0]}"))
    assert main(["check-config", path]) == 1
    assert "ignored key 'lamda_'" in capsys.readouterr().out
    assert main(["run", "--form", "pfdl", "--plant", "nonlinear", "--config", path, "--steps", "20"]) in (0, 1)
    assert "ignored key 'lamda_'" in capsys.readouterr().err
    assert reads == [path, path]


# Records at the edges of each rule, and orders from one to beyond any memory.
RECORDS = [
    (1.0, 1.0, 0.5, 1.0, 1e-5, 0, 1, 1.0, 0.0, None, None),
    (2.5, 1.0, 0.5, 1.0, 1e-5, 0, 1, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 0, 1, 1.0, 0.0, 2.0, 1.0),
    (float("nan"), 1.0, 0.5, 1.0, 1e-5, 0, 1, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 0, 4, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 3, 2, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 0, 0, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 0, 10**11, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 2**63, 1, 1.0, 0.0, None, None),
    (1.0, 1.0, 0.5, 1.0, 1e-5, 0, 2**64 - 1, 1.0, 0.0, None, None),
    (1.0,), (), (1.0, 1.0, 0.5, 1.0, 1e-5, 2),
]


@pytest.mark.parametrize("form", SISO)
@pytest.mark.parametrize("params", RECORDS)
def test_refusal_is_what_the_class_raises(form, params):
    refusal = _vorn_config.refusal(form, params)
    try:
        SISO[form](*params)  # the class refuses a state beyond memory before allocating it
    except (ValueError, OverflowError, MemoryError) as raised:
        assert type(refusal) is type(raised) and str(refusal) == str(raised)
    else:
        assert refusal is None


@pytest.mark.parametrize("form, params, error", [
    ("xfdl", (), ValueError), (b"cfdl", (), TypeError), ("cfdl", [1.0], TypeError),
    ("cfdl", ("1",), TypeError), ("pfdl", (1.0,) * 12, TypeError),
])
def test_refusal_raises_for_arguments_that_do_not_convert(form, params, error):
    with pytest.raises(error):
        _vorn_config.refusal(form, params)


def test_check_config_decides_the_classes_without_allocating_their_state(tmp_path):
    # L_u = 2e7 makes states of some 480 MB for PFDL and FFDL; none is built, so the peak is
    # that of a file with small orders (measured alike, as sanitizers inflate both).
    code = ("import resource, sys; from vorn.cli import main; status = main(['check-config', sys.argv[1]]); "
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss); sys.exit(status)")
    peaks = []
    for order in (2, 20000000):
        result = vorn_cli(write(tmp_path, f"L_u: {order}\n"), code=code)
        assert result.returncode == 0, result.stderr
        assert "builds: PFDLController, FFDLController" in result.stdout
        peaks.append(int(result.stdout.split()[-1]))  # KiB
    assert peaks[1] - peaks[0] < 100 * 1024


@pytest.mark.parametrize("value, english", [
    ("100000000000", "more than this machine's memory"), ("0xFFFFFFFFFFFFFFFF", "cannot be represented")])
@pytest.mark.parametrize("command", [
    ("check-config", "{}"), ("export-c", "--form", "pfdl", "--config", "{}"),
    ("run", "--form", "ffdl", "--plant", "tank", "--config", "{}")])
def test_pseudo_orders_too_large_end_in_one_line_with_status_2(tmp_path, command, value, english):
    path = write(tmp_path, f"L_u: {value}\n")
    result = vorn_cli(*[part.format(path) for part in command], cwd=tmp_path)
    assert result.returncode == 2 and "Traceback" not in result.stderr, result.stderr
    [line] = result.stderr.splitlines()
    assert line.startswith(f"vorn: {path}: 控制器状态") and line.endswith(f"{english})")
    assert result.stdout == "" and os.listdir(tmp_path) == ["c.yaml"]


def test_export_c_warns_about_ignored_keys_as_run_does(tmp_path):
    path = write(tmp_path, "L_u: 2\nlamda_: 0.1\n")
    result = vorn_cli("export-c", "--form", "pfdl", "--config", path, "--out", str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert result.stderr.splitlines() == [
        f"vorn: warning: {path}: ignored key 'lamda_' at line 2, column 1 (did you mean 'lambda_'?)"]


@pytest.mark.parametrize("companions, vector, start, status", [
    ("", "none (the scalar rho)", "plant (the loop starts at the plant's initial output)", 0),
    ("rho_vector: [0.25, 1.0, 0.5]\noperating_point: zero\n", "[0.25, 1.0, 0.5]  (full form only)",
     "zero (the loop starts at zero)", 0),
    ("operating_point: plant  # its output at rest: 7.0\n", "none (the scalar rho)",
     "plant (the loop starts at the plant's initial output)", 0),
    ("rho_vector: [0.25, 1.0]\n", "[0.25, 1.0]  (full form only)",
     "plant (the loop starts at the plant's initial output)", 1),
])
def test_check_config_shows_the_companion_keys_one_line_each(tmp_path, companions, vector, start, status):
    path = write(tmp_path, "L_y: 1\nL_u: 2\n" + companions)
    result = vorn_cli("check-config", path)
    assert result.returncode == status, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert f"  rho_vector       {vector}" in lines and f"  operating_point  {start}" in lines
    assert "ignored" not in result.stdout  # the companion keys are known keys
    if status:  # the vector cannot go with L_y + L_u = 3: the full form is not offered
        assert "FFDLController refuses it: the rho_vector key holds 2 step factors; L_y + L_u = 3" in result.stdout
        assert lines[-1] == "builds: no SISO class (see the pseudo-orders L_y, L_u)"
    else:
        assert lines[-1] == "builds: FFDLController"


MIMO_TUNING = "examples/deploy_mimo_c/tuned.vorn"


def test_a_mimo_tuning_is_shown_as_its_own_reader_reads_it():
    from vorn.tuning.mimo_file import read_mimo_file

    record = read_mimo_file(MIMO_TUNING)
    result = vorn_cli("check-config", MIMO_TUNING)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == f"{MIMO_TUNING} holds a MIMO {record.form} tuning of {record.dim} channels (in constructor order):"
    shown = dict(line.split(maxsplit=1) for line in lines[1:-1])
    # every value printed as its shortest round-trip text, so the lines are the file's doubles
    assert {k: shown[k] for k in record.params} == {k: repr(v) for k, v in record.params.items()}
    assert shown["signs"] == repr(list(record.signs)) and "-1.0" in shown["signs"]
    assert lines[-1] == f"builds: {type(record.controller()).__name__}"


@pytest.mark.parametrize("line, replacement, message", [
    ("eta:", "eta: 5.0", "eta 必须满足 0 < eta <= 2"),
    ("dim:", "dim: x", "line 4: dim must be a whole number of at least 1, not 'x'"),
])
def test_a_mimo_tuning_its_reader_or_class_refuses_is_one_line_with_status_2(tmp_path, line, replacement, message):
    from pathlib import Path

    text = "".join(replacement + "\n" if row.startswith(line) else row
                   for row in Path(MIMO_TUNING).read_text(encoding="utf-8").splitlines(keepends=True))
    result = vorn_cli("check-config", write(tmp_path, text, "t.vorn"))
    assert result.returncode == 2 and result.stdout == ""
    assert len(result.stderr.splitlines()) == 1 and message in result.stderr

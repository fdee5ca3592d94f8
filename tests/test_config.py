"""load_config_from_yaml: the file's keys, value forms, documents, anchors, bounds and the
read failures, each on a small file written into a temporary directory."""

import math
import os
import pathlib
import signal
import sys
import time

import pytest

from vorn import _vorn_core as m

DEFAULT = (1.0, 1.0, 0.1, 0.02, 1e-05, 0, 1, 0.5, 0.0, None, None)
KEYS = ["eta", "mu", "rho", "lambda_", "eps", "L_y", "L_u", "initial_phi", "u0", "u_min", "u_max"]
READ_FAILURE = "YAML 错误: 无法读取 YAML 文件: "
PARSE_FAILURE = "YAML 错误: YAML 解析失败: "


@pytest.fixture
def load(tmp_path):
    """Writes `content` (str or bytes) to a file and loads it."""

    def load_content(content):
        path = tmp_path / "c.yaml"
        if isinstance(content, str):
            content = content.encode()
        path.write_bytes(content)
        return m.load_config_from_yaml(True, str(path))

    return load_content


@pytest.fixture
def failure(load):
    """The message of the ValueError that loading `content` raises."""

    def message(content):
        with pytest.raises(ValueError) as info:
            load(content)
        assert len(info.value.args) == 1
        return info.value.args[0]

    return message


def with_value(index, value):
    t = list(DEFAULT)
    t[index] = value
    return tuple(t)


def test_documentation():
    f = m.load_config_from_yaml
    assert f.__text_signature__ == "(read, path=None)"
    assert f.__doc__ == (
        "从 YAML 文件加载配置或返回默认配置。\n\n# 参数\n"
        "- `read`: 为 `True` 时读取 YAML 文件；为 `False` 时返回默认配置。\n"
        "- `path`: YAML 文件路径；为 `None` 时使用当前工作目录下的 `config.yaml`。\n\n# 返回值\n"
        "可用于构造控制器的参数元组：\n`(eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0, u_min, u_max)`。")


@pytest.mark.parametrize("path", [None, "/nonexistent/dir/c.yaml", "/", "/dev/zero"])
def test_read_false_returns_the_defaults_and_touches_nothing(path):
    t = m.load_config_from_yaml(False, path)
    assert t == DEFAULT
    assert [type(x) for x in t] == [float] * 5 + [int] * 2 + [float] * 2 + [type(None)] * 2
    assert m.load_config_from_yaml(read=False) == DEFAULT


def test_a_single_key(load):
    assert load("rho: 0.5\n") == (1.0, 1.0, 0.5, 0.02, 1e-05, 0, 1, 0.5, 0.0, None, None)


@pytest.mark.parametrize("content", ["", "\n\n", "# only a comment\n  # and another\n", "---\n", "--- \n...\n",
                                     "---\n# comment\n", "\ufeff"])
def test_no_content_yields_the_defaults(load, content):
    assert load(content) == DEFAULT


@pytest.mark.parametrize("text,value", [
    ("1", 1.0), ("+1.5", 1.5), ("-0.25", -0.25), ("1e-3", 0.001), ("2.5E+2", 250.0), (".5", 0.5), ("1.", 1.0),
    ("-0", -0.0), ("0.1", 0.1), ("123456789012345678901234567890", 1.2345678901234568e29), ("1e-400", 0.0),
    (".inf", math.inf), (".Inf", math.inf), (".INF", math.inf), ("+.inf", math.inf), ("+.Inf", math.inf),
    ("+.INF", math.inf), ("-.inf", -math.inf), ("-.Inf", -math.inf), ("-.INF", -math.inf),
    ("!!float 2.5", 2.5), ("!!int 3", 3.0),
])
def test_number_forms(load, text, value):
    got = load(f"u0: {text}\n")[8]
    assert type(got) is float
    assert got == value and math.copysign(1, got) == math.copysign(1, value)


@pytest.mark.parametrize("text", [".nan", ".NaN", ".NAN"])
def test_nan_spellings_pass_validation(load, text):
    assert math.isnan(load(f"eta: {text}\n")[0])


@pytest.mark.parametrize("text", ["'1.0'", '"1.0"', "", "~", "null", "true", "False", "abc", "1e999", "-1e999",
                                  "1.0.0", "1e", "[1.0]", "{a: 1}", "|\n  1.0", ">\n  1.0", "!!str 1.0", "nan",
                                  "inf", "- 1"])
def test_number_refusals(failure, text):
    assert failure(f"u0: {text}\n").startswith(PARSE_FAILURE)


@pytest.mark.parametrize("text,value", [
    ("2", 2), ("+7", 7), ("007", 7), ("0x2", 2), ("0xfF", 255), ("0o17", 15), ("0b101", 5), ("+0b1", 1),
    ("18446744073709551615", 2**64 - 1), ("0xffffffffffffffff", 2**64 - 1),
])
def test_integer_forms(load, text, value):
    got = load(f"L_u: {text}\n")[6]
    assert type(got) is int and got == value


@pytest.mark.parametrize("text", ["-1", "-0", "1.5", "1e3", "2.0", "'2'", '"2"', "18446744073709551616", "0x",
                                  "0x1g", "0X2", "0b2", "0o8", "~", "", "two", "[2]", "+-1"])
def test_integer_refusals(failure, text):
    assert failure(f"L_y: {text}\n").startswith(PARSE_FAILURE)


@pytest.mark.parametrize("text", ["~", "", "null", "Null", "NULL", "!!null ~"])
def test_null_spellings_leave_a_limit_absent(load, text):
    assert load(f"u_min: {text}\nu_max: {text}\n") == DEFAULT


@pytest.mark.parametrize("text", ["'null'", "'~'", '""', "nil", "NuLL", "[]"])
def test_limit_refusals(failure, text):
    assert failure(f"u_max: {text}\n").startswith(PARSE_FAILURE)


def test_limits(load, failure):
    assert load("u_min: -1.0\nu_max: 1.0\n")[9:] == (-1.0, 1.0)
    assert load("u_min: 3\n")[9:] == (3.0, None)
    assert load("u_max: -3\n")[9:] == (None, -3.0)
    assert load("u_min: 1\nu_max: 1\n")[9:] == (1.0, 1.0)
    assert failure("u_min: 2.0\nu_max: 1.0\n") == "u_min 不能大于 u_max"


@pytest.mark.parametrize("content,message", [
    ("eta: 3.0\n", "eta 必须满足 0 < eta <= 2"),
    ("eta: 0\nmu: -1\n", "eta 必须满足 0 < eta <= 2"),
    ("mu: 0\n", "mu 必须为正"),
    ("rho: 1.5\nlambda_: 0\n", "rho 必须满足 0 < rho <= 1"),
    ("lambda_: 0\n", "lambda 必须为正"),
    ("eps: -1e-9\n", "eps 必须为正"),
    ("eps: -.inf\nu_min: 1\nu_max: 0\n", "eps 必须为正"),
])
def test_validation_messages_have_no_prefix(failure, content, message):
    assert failure(content) == message


def test_values_that_pass_validation(load):
    assert load("eta: 2.0\nrho: 1.0\n")[:3] == (2.0, 1.0, 1.0)
    assert load("L_y: 5\nL_u: 0\n")[5:7] == (5, 0)


@pytest.mark.parametrize("ignored", [
    "l_y: 2", "Lambda: 5", "lambda: 5", "ETA: 9", "eta_: 9", "extra: [1, 2]", "extra: {a: {b: [1, {c: d}]}}",
    "? [a, b]\n: 1", "? {a: 1}\n: [2, 3]", "<<: {eta: 5}", "1: 2", "~: x", "true: 1", "extra: !!binary aGk=",
    "extra: |\n  some text\n  more", "x: 1\nx: [2]\nx: {three: 3}", "extra:\n  - a\n  - b: [c, {d: e}]", "'': empty key",
])
def test_unknown_keys_are_ignored_with_their_values(load, ignored):
    assert load(f"{ignored}\neta: 1.5\n") == with_value(0, 1.5)
    assert load(f"eta: 1.5\n{ignored}\n") == with_value(0, 1.5)


@pytest.mark.parametrize("key", ['"eta"', "'eta'", "? eta\n"])
def test_quoted_and_explicit_keys_match(load, key):
    assert load(f"{key}: 1.5\n") == with_value(0, 1.5)


def test_every_key_in_a_flow_mapping(load):
    content = "{" + ", ".join(f"{k}: {v}" for k, v in zip(KEYS, [1.5, 2, 0.5, 0.1, 1e-6, 0, 3, 0.7, 0.2, -1, 1])) + "}"
    assert load(content) == (1.5, 2.0, 0.5, 0.1, 1e-06, 0, 3, 0.7, 0.2, -1.0, 1.0)


@pytest.mark.parametrize("content,position", [
    ("eta: 1.0\neta: 1.0\n", "at line 2 column 1"),
    ("eta: 1.0\nmu: 2\n'eta': 1.0\n", "at line 3 column 1"),
    ("{L_u: 1, x: 2, L_u: 1}", "at line 1 column 16"),
])
def test_duplicate_keys(failure, content, position):
    key = "L_u" if "L_u" in content else "eta"
    assert failure(content) == f"{PARSE_FAILURE}duplicate field `{key}` {position}"


def test_unknown_keys_may_repeat(load):
    assert load("x: 1\nx: 2\nx: 3\n") == DEFAULT


def test_error_positions(failure):
    assert failure("eta: '1.0'\n").endswith(" at line 1 column 6")
    assert failure("mu: 1\nL_u: 1.5\n").endswith(" at line 2 column 6")
    assert failure("a: b: c\n").startswith(PARSE_FAILURE)
    assert " at line 1 column " in failure("a: b: c\n")
    assert failure("- 1\n").endswith(" at position 0")


@pytest.mark.parametrize("content,expected", [
    ("x: &v 0.25\nrho: *v\n", with_value(2, 0.25)),
    ("x: &v 0.25\nrho: *v\ninitial_phi: *v\n", (1.0, 1.0, 0.25, 0.02, 1e-05, 0, 1, 0.25, 0.0, None, None)),
    ("defs: {a: [1, &q 0.75]}\ninitial_phi: *q\n", with_value(7, 0.75)),
    ("k: &k u0\n*k : 2.5\n", with_value(8, 2.5)),
    ("n: &n ~\nu_min: *n\n", DEFAULT),
    ("x: &v 1\nx: &v 2\nL_u: *v\n", with_value(6, 2)),  # the latest definition counts
    ("s: &s [1, 2]\ny: *s\nz: [*s, *s]\n", DEFAULT),
])
def test_aliases_are_followed(load, content, expected):
    assert load(content) == expected


@pytest.mark.parametrize("content", [
    "rho: *nope\n",
    "x: *nope\n",
    "a: &a [*a]\n",  # an anchor is defined once its node is complete
    "s: &s [1]\nrho: *s\n",
    "m: &m {a: 1}\nrho: *m\n",
    "q: &q '0.5'\nrho: *q\n",
])
def test_alias_refusals(failure, content):
    assert failure(content).startswith(PARSE_FAILURE)


def bomb(levels, width=9):
    lines = ["a0: &a0 [" + ", ".join(["lol"] * width) + "]"]
    for i in range(1, levels):
        lines.append(f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * width) + "]")
    return "\n".join(lines) + "\n"


def test_alias_bomb_fails_fast(failure):
    start = time.perf_counter()
    assert failure(bomb(12)) == PARSE_FAILURE + "repetition limit exceeded"
    assert failure(bomb(30, width=2) + "eta: 1.0\n") == PARSE_FAILURE + "repetition limit exceeded"
    assert time.perf_counter() - start < 2.0


def test_modest_alias_use_is_within_the_limit(load):
    assert load(bomb(2) + "eta: 1.5\n") == with_value(0, 1.5)


@pytest.mark.parametrize("opening", ["[", "{a: ", "- "])
def test_deep_nesting_fails_fast(failure, opening):
    start = time.perf_counter()
    content = "x: " + opening * 100_000 + "\n" if opening != "- " else "x:\n" + "- " * 100_000 + "1\n"
    message = failure(content)
    assert message.startswith(PARSE_FAILURE)
    assert time.perf_counter() - start < 2.0


def test_moderate_nesting_is_accepted(load):
    assert load("x: " + "[" * 500 + "]" * 500 + "\neta: 1.5\n") == with_value(0, 1.5)


@pytest.mark.parametrize("content", ["- 1\n- 2\n", "[1, 2]\n", "hello\n", "~\n", "null\n", "'quoted'\n", "42\n",
                                     "''\n", "--- |\n  text\n"])
def test_root_must_be_a_mapping(failure, content):
    assert failure(content).startswith(PARSE_FAILURE)


@pytest.mark.parametrize("content", ["eta: 1.0\n---\neta: 2.0\n", "---\neta: 1.0\n---\n", "---\n---\n",
                                     "eta: 1.0\n...\n---\neta: 1.0\n"])
def test_more_than_one_document(failure, content):
    assert failure(content).startswith(PARSE_FAILURE)


def test_one_document_with_markers(load):
    assert load("%YAML 1.1\n---\neta: 1.5\n...\n") == with_value(0, 1.5)


@pytest.mark.parametrize("content", [b"eta: \xff\n", b"eta: \xc0\xaf\n", b"eta: \xed\xa0\x80\n", b"x: \xf4\x90\x80\x80\n",
                                     b"\xff\xfee\x00t\x00a\x00", b"eta: 1.0\n\xe4\xb8"])
def test_non_utf8_file(failure, content):
    assert failure(content) == READ_FAILURE + "stream did not contain valid UTF-8"


def test_utf8_text_and_byte_order_mark(load):
    assert load("\ufeffeta: 1.5\n注释: 中文\n".encode()) == with_value(0, 1.5)


@pytest.mark.parametrize("content", [b"eta: 1\x00\n", b"eta: 1\x01\n"])
def test_control_characters_are_a_parse_failure(failure, content):
    assert failure(content).startswith(PARSE_FAILURE)


def read_failure(path):
    with pytest.raises(ValueError) as info:
        m.load_config_from_yaml(True, path)
    message = info.value.args[0]
    assert message.startswith(READ_FAILURE) and len(message) > len(READ_FAILURE)
    return message


def test_missing_file_and_directory(tmp_path):
    read_failure(str(tmp_path / "missing.yaml"))
    read_failure(str(tmp_path))
    read_failure("")
    read_failure(str(tmp_path / "c.yaml") + "\0tail")


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
def test_fifo_and_device_do_not_block(tmp_path):
    fifo = tmp_path / "pipe.yaml"
    os.mkfifo(fifo)
    previous = signal.signal(signal.SIGALRM, lambda *_: pytest.fail("the loader blocked"))
    signal.alarm(5)
    try:
        read_failure(str(fifo))
        if os.path.exists("/dev/zero"):
            read_failure("/dev/zero")
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


@pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc/self/fd")
def test_file_is_closed_on_every_path(tmp_path, load):
    before = len(os.listdir("/proc/self/fd"))
    for content in ["eta: 1.5\n", "eta: '1'\n", "eta: 9\n", b"\xff"]:
        for _ in range(20):
            try:
                load(content)
            except ValueError:
                pass
    for _ in range(20):
        with pytest.raises(ValueError):
            m.load_config_from_yaml(True, str(tmp_path))
    assert len(os.listdir("/proc/self/fd")) == before


def test_path_none_reads_config_yaml_in_the_working_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    message = read_failure(None)
    (tmp_path / "config.yaml").write_text("mu: 2.5\n")
    assert m.load_config_from_yaml(True) == with_value(1, 2.5)
    assert m.load_config_from_yaml(True, None) == with_value(1, 2.5)
    assert m.load_config_from_yaml(read=True, path="config.yaml") == with_value(1, 2.5)
    assert message != ""


@pytest.mark.parametrize("read", [1, 0, None, "yes", 1.0])
def test_read_must_be_a_bool(read):
    with pytest.raises(TypeError) as info:
        m.load_config_from_yaml(read)
    assert info.value.__notes__ == ["while processing 'read'"]


def test_read_accepts_numpy_bool(tmp_path, monkeypatch):
    np = pytest.importorskip("numpy")
    assert m.load_config_from_yaml(np.bool_(False), "/nonexistent") == DEFAULT
    monkeypatch.chdir(tmp_path)
    (tmp_path / "config.yaml").write_text("eps: 0.5\n")
    assert m.load_config_from_yaml(np.bool_(True)) == with_value(4, 0.5)


@pytest.mark.parametrize("path", [pathlib.Path("config.yaml"), b"config.yaml", 3])
def test_path_must_be_a_str_or_none(path):
    with pytest.raises(TypeError) as info:
        m.load_config_from_yaml(True, path)
    assert str(info.value) == f"'{type(path).__name__}' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'path'"]


def test_call_shape():
    with pytest.raises(TypeError) as info:
        m.load_config_from_yaml()
    assert str(info.value) == "load_config_from_yaml() missing 1 required positional argument: 'read'"
    with pytest.raises(TypeError) as info:
        m.load_config_from_yaml(True, None, 3)
    assert str(info.value) == "load_config_from_yaml() takes from 1 to 2 positional arguments but 3 were given"


@pytest.mark.skipif(sys.getfilesystemencoding() != "utf-8", reason="needs a UTF-8 file system encoding")
def test_non_ascii_path(tmp_path):
    path = tmp_path / "配置.yaml"
    path.write_text("rho: 0.25\n")
    assert m.load_config_from_yaml(True, str(path)) == with_value(2, 0.25)


def test_round_trip_into_controllers(load, failure):
    content = ("eta: 1.5\nmu: 2\nrho: 0.5\nlambda_: 0.1\neps: 1e-6\nL_y: 0\nL_u: 3\ninitial_phi: 0.7\nu0: 0.2\n"
               "u_min: -1\nu_max: 1\n")
    t = load(content)
    assert t == (1.5, 2.0, 0.5, 0.1, 1e-06, 0, 3, 0.7, 0.2, -1.0, 1.0)
    c = m.PFDLController(*t)
    assert c.__getnewargs__() == t
    assert repr(c) == ("PFDLController(eta=1.5000, mu=2.0000, rho=0.5000, lambda_=0.1000, eps=0.0000, l_y=0, l_u=3, "
                       "initial_phi=0.7000, u0=0.2000)")
    assert c.get_phi() == [0.7, 0.7, 0.7]
    assert -1.0 <= c.update(0.0, 10.0) <= 1.0
    assert m.FFDLController(*load(content.replace("L_y: 0", "L_y: 2"))).__getnewargs__()[5:7] == (2, 3)
    with pytest.raises(ValueError) as info:
        m.PFDLController(*load("L_y: 5\nL_u: 0\n"))
    assert info.value.args == ("PFDL 要求 l_y == 0 且 l_u >= 1",)

"""docs/messages.md covers every fixed message the module raises: each case below provokes one,
and the documented template (placeholders in angle brackets) must match it in full."""

import pathlib
import re

import pytest

import vorn
from vorn.messages import TEMPLATES, explain

ROOT = pathlib.Path(__file__).resolve().parent.parent
CJK = re.compile(r"[\u4e00-\u9fff]")
DOC = (ROOT / "docs" / "messages.md").read_text(encoding="utf-8")


def _templates():
    # The code spans of every table row's first cell, which holds the message.
    for line in DOC.splitlines():
        if line.startswith("|"):
            for double, single in re.findall(r"``\s?(.+?)\s?``|`([^`]+)`", line.split("|")[1]):
                yield double or single


def _pattern(template):
    parts = re.split(r"<[^>]+>", template)
    return re.compile(".+?".join(re.escape(p) for p in parts) + r"\Z", re.S)


# The KeyError row, `'<key>'`, would match any quoted message; it is kept for KeyError alone.
KEY_TEMPLATE = "'<key>'"
PATTERNS = [_pattern(t) for t in _templates() if t != KEY_TEMPLATE]


def _yaml(tmp_path, text):
    path = tmp_path / "c.yaml"
    path.write_text(text, encoding="utf-8")
    return lambda: vorn.load_config_from_yaml(True, str(path))


def _pfdl():
    return vorn.PFDLController()


CASES = {
    "eta": lambda t: vorn.CFDLController(eta=0),
    "mu": lambda t: vorn.CFDLController(mu=0),
    "rho": lambda t: vorn.PFDLController(rho=2),
    "lambda": lambda t: vorn.FFDLController(lambda_=0),
    "eps": lambda t: vorn.CFDLController(eps=-1),
    "limits": lambda t: vorn.CFDLController(u_min=2, u_max=1),
    "m_upper": lambda t: vorn.MimoCfdlController(2, m_upper=0),
    "m_lower": lambda t: vorn.MimoCfdlController(2, m_lower=0),
    "m_bounds": lambda t: vorn.MimoCfdlController(2, m_upper=1e-6, m_lower=1e-5),
    "cfdl form": lambda t: vorn.CFDLController(l_u=2),
    "pfdl form": lambda t: vorn.PFDLController(l_y=1),
    "ffdl form": lambda t: vorn.FFDLController(l_u=0),
    "mimo form": lambda t: vorn.MimoCfdlController(2, l_u=2),
    "cfdl phi": lambda t: vorn.CFDLController().set_phi_hat([1.0, 2.0]),
    "least": lambda t: vorn.FFDLController().set_rho_vector([1.0]),
    "mimo length": lambda t: vorn.MimoCfdlController(2).update([0.0], [1.0, 2.0]),
    "cfdl layers": lambda t: vorn.MimoCfdlController(2).set_phi_hat([]),
    "pfdl layers": lambda t: vorn.MimoPfdlController(2).set_phi_hat([]),
    "ffdl layers": lambda t: vorn.MimoFfdlController(2).set_phi_hat([]),
    "rows": lambda t: vorn.MimoCfdlController(2).set_phi_hat([[[1.0, 0.0]]]),
    "columns": lambda t: vorn.MimoPfdlController(2).set_phi_hat([[[1.0, 0.0], [0.0, 1.0]], [[1.0], [0.0]]]),
    "order": lambda t: vorn.pid_to_pfdl(1.0, 1.0, 0.25, 0.5, order=4),
    "tuning value": lambda t: vorn.zn_response_to_pfdl(0.0, 4.0, 2.0, 0.5),
    "unreadable": lambda t: vorn.load_config_from_yaml(True, str(t / "missing.yaml")),
    "unparsable": lambda t: _yaml(t, "eta: 1\neta: 2\n")(),
    "quoted": lambda t: _yaml(t, "rho: '0.5'\n")(),
    "size": lambda t: vorn.PFDLController(l_u=2**62),
    "memory": lambda t: vorn.PFDLController(l_u=2**40),
    "str": lambda t: vorn.CFDLController().set_phi_hat("1"),
    "type": lambda t: vorn.ffdl_zn_tuning(_pfdl(), 1.0, 1.0, 1.0, 1.0),
    "none": lambda t: vorn.apply_pfdl_initial_guess(None, [1.0]),
    "shape": lambda t: vorn.CFDLController().update(1.0),
    "state key": lambda t: vorn.CFDLController().__setstate__({}),
}


@pytest.mark.parametrize("case", list(CASES))
def test_every_message_is_documented(tmp_path, case):
    with pytest.raises(Exception) as caught:
        CASES[case](tmp_path)
    message = str(caught.value.args[0]) if caught.value.args else ""
    if isinstance(caught.value, KeyError):
        assert f"`{KEY_TEMPLATE}`" in DOC and message == "eta"
        return
    assert any(p.match(message) for p in PATTERNS), f"{case}: {message!r} is not in docs/messages.md"
    if CJK.search(message):
        english = explain(message)
        assert english and not CJK.search(english), f"{case}: no English for {message!r}"


def test_the_message_constants_of_the_core_are_all_documented():
    source = (ROOT / "core" / "messages.hpp").read_text(encoding="utf-8")
    for message in re.findall(r'= "([^"]+)";', source):
        assert f"`{message}`" in DOC


def test_the_english_table_holds_exactly_the_documented_chinese_messages():
    documented = {t for t in _templates() if CJK.search(t)}
    assert {message for message, _ in TEMPLATES} == documented


@pytest.mark.parametrize("message, english", [
    ("phi 长度至少为 3，实际为 2", "phi needs at least 3 items, got 2"),
    ("phi[1] 列数 1 ≠ dim 2", "a row of phi[1] has 1 columns, not dim 2"),
    ("YAML 错误: YAML 解析失败: duplicate field `eta` at line 2 column 1", "YAML error: parsing failed"),
    ("Already borrowed", None),
])
def test_explain_fills_the_placeholders(message, english):
    assert explain(message) == english

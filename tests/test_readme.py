"""Every Python block of the README runs as a reader would paste it: alone in a fresh
namespace, or, where the README marks it `<!-- continues the block above -->`, in the
namespace the block above left."""

import importlib.util
import re
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[1] / "README.md"
CONTINUES = "<!-- continues the block above -->"
BLOCK = re.compile(r"(<!-- continues the block above -->\n)?```python\n(.*?)```", re.S)


def blocks():
    return [(bool(marker), code) for marker, code in BLOCK.findall(README.read_text(encoding="utf-8"))]


def test_the_readme_has_python_blocks_and_marks_continuations_only_before_them():
    text = README.read_text(encoding="utf-8")
    assert len(blocks()) >= 4
    assert text.count(CONTINUES) == sum(marked for marked, _ in blocks())
    assert not blocks()[0][0]


def test_every_block_runs_alone_or_after_the_block_it_continues(tmp_path, monkeypatch, capsys):
    if importlib.util.find_spec("matplotlib") is None or importlib.util.find_spec("cma") is None:
        pytest.skip("the README's blocks draw with matplotlib and tune with cma")
    monkeypatch.chdir(tmp_path)
    (tmp_path / "firmware").mkdir()  # export_c writes into a directory that exists, as the README says
    namespace: dict = {}
    for index, (continues, code) in enumerate(blocks()):
        if not continues:
            namespace = {"__name__": "__readme__"}
        try:
            exec(compile(code, f"README.md block {index + 1}", "exec"), namespace)
        except Exception as error:
            pytest.fail(f"README block {index + 1} fails on its own: {type(error).__name__}: {error}\n{code}")
    capsys.readouterr()
    assert (tmp_path / "firmware" / "pump.c").exists()

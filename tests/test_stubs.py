"""The package's public surface: re-exports, version, and the type stubs checked against the
built module by stubtest and against typical calls by mypy."""

import ast
import importlib.metadata
import importlib.util
import pathlib
import re
import subprocess
import sys
import textwrap
import tomllib

import pytest

import vorn
from tests.running import SANITIZED
from vorn import _vorn_core, _vorn_fleet

ROOT = pathlib.Path(__file__).resolve().parent.parent
needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
# The type checks exercise no native code of their own; under the sanitizers mypy only runs
# for minutes, so the plain run keeps them.
plain_run_only = pytest.mark.skipif(SANITIZED,
                                    reason="type checks run in the plain suite")
STUBS = ["_vorn_core", "_vorn_fleet", "_vorn_config"]


def test_package_reexports_the_module_names_in_order():
    core = list(_vorn_core.__all__)
    assert vorn.__all__[:len(core)] == core
    for name in core:
        assert getattr(vorn, name) is getattr(_vorn_core, name)
    assert all(hasattr(vorn, name) for name in vorn.__all__)
    fleet_start = len(_vorn_core.__all__)
    assert vorn.__all__[fleet_start:fleet_start + len(_vorn_fleet.__all__)] == list(_vorn_fleet.__all__)
    for name in _vorn_fleet.__all__:
        assert getattr(vorn, name) is getattr(_vorn_fleet, name)


def test_version_has_one_home_that_the_build_reads():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))["project"]
    assert "version" not in project and "version" in project["dynamic"]
    assert vorn.__version__ == importlib.metadata.version("vorn")


def test_stub_and_marker_are_installed_beside_the_module():
    package = pathlib.Path(_vorn_core.__file__).parent
    assert all((package / f"{stub}.pyi").is_file() for stub in STUBS)
    assert (package / "py.typed").is_file()


def _documented(tree):
    """(qualified name, docstring, parameters, class docstring) of every public class, method
    and function of a stub, and of the stub-only classes they derive from; dunder methods
    count as public."""
    def public(name):
        return not name.startswith("_") or (name.startswith("__") and name.endswith("__"))

    # Stub-only bases of the public classes hold methods that hover shows for them.
    bases = {b.id for node in tree.body if isinstance(node, ast.ClassDef) and public(node.name)
             for b in node.bases if isinstance(b, ast.Name)}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and public(node.name):
            yield node.name, ast.get_docstring(node), node.args, None
        elif isinstance(node, ast.ClassDef) and (public(node.name) or node.name in bases):
            class_doc = ast.get_docstring(node)
            yield node.name, class_doc, None, None
            for item in node.body:
                if isinstance(item, ast.FunctionDef) and public(item.name):
                    yield f"{node.name}.{item.name}", ast.get_docstring(item), item.args, class_doc


@pytest.mark.parametrize("stub", STUBS)
def test_every_public_name_of_the_stubs_has_an_english_docstring_naming_its_parameters(stub):
    tree = ast.parse((ROOT / "src" / "vorn" / f"{stub}.pyi").read_text(encoding="utf-8"))
    assert ast.get_docstring(tree), stub
    seen = 0
    for name, doc, args, class_doc in _documented(tree):
        seen += 1
        assert doc, f"{name} has no docstring"
        # English around the module's fixed messages, which are quoted.
        assert not re.search(r"[\u4e00-\u9fff]", re.sub(r'"[^"\n]*"', "", doc)), name
        if args is None:
            continue
        text = doc + (class_doc or "")  # the constructor's parameters are in the class docstring
        for arg in args.posonlyargs + args.args + args.kwonlyargs:
            if arg.arg not in ("self", "cls"):
                assert re.search(rf"\b{arg.arg}\b", text), f"{name}: parameter {arg.arg} is not described"
    assert seen >= 1


def _members(tree):
    """Each class of a stub with the methods it declares or inherits from stub-only bases."""
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}

    def members(name):
        node = classes[name]
        own = {item.name for item in node.body if isinstance(item, ast.FunctionDef)}
        for base in node.bases:
            if isinstance(base, ast.Name) and base.id in classes:
                own |= members(base.id)
        return own

    return {name: members(name) for name in classes}


def test_the_stubs_document_every_runtime_member():
    tree = ast.parse((ROOT / "src" / "vorn" / "_vorn_core.pyi").read_text(encoding="utf-8"))
    documented = {name for name, *_ in _documented(tree)}
    members = _members(tree)
    for member in _vorn_core.__all__:
        assert member in documented
        obj = getattr(_vorn_core, member)
        if isinstance(obj, type):
            for attr in vars(obj):
                if not attr.startswith("_") or attr in ("__getnewargs__", "__getstate__", "__setstate__"):
                    assert attr in members[member], f"{member}.{attr}"


def _mypy(tmp_path, *args):
    # Run outside the repository so that only the installed package is seen.
    return subprocess.run([sys.executable, "-m", *args], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300)


@needs_mypy
@plain_run_only
def test_stubtest_is_clean(tmp_path):
    result = _mypy(tmp_path, "mypy.stubtest", *(f"vorn.{stub}" for stub in STUBS))
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
@plain_run_only
def test_stubs_accept_arrays_and_refuse_strings(tmp_path):
    pytest.importorskip("numpy")
    (tmp_path / "use.py").write_text(textwrap.dedent("""\
        import numpy as np
        import vorn

        c = vorn.FFDLController(l_u=np.int64(2))
        c.set_phi_hat(np.array([0.1, 0.2, 0.3]))
        u: float = c.update(np.float64(1.0), 2)
        record = c.update_logged(0.5, yd=1.0)
        phi: list[float] = record[4]
        m = vorn.MimoFfdlController(2)
        v: list[float] = m.update(np.zeros(2), [1.0, 2.0])
        m.set_phi_hat(np.zeros((3, 2, 2)))
        layers: list[list[list[float]]] = m.get_phi()
        params = vorn.load_config_from_yaml(False)
        vorn.PFDLController(*params)
        c.set_phi_hat("ab")  # line 15
        n: int = c.update(0.0, 1.0)  # line 16
        vorn.apply_pfdl_initial_guess(c, [0.1])  # line 17
        """))
    result = _mypy(tmp_path, "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), "use.py")
    errors = sorted(int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error:" in line)
    assert errors == [15, 16, 17], result.stdout


@needs_mypy
@plain_run_only
def test_the_whole_package_passes_stubtest_and_strict_mypy(tmp_path):
    # The installed package, every module and stub of it, as CI checks it.
    result = _mypy(tmp_path, "mypy.stubtest", "vorn")
    assert result.returncode == 0, result.stdout + result.stderr
    result = _mypy(tmp_path, "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(ROOT / "src" / "vorn"))
    assert result.returncode == 0, result.stdout + result.stderr

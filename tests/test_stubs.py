"""The package's public surface: re-exports, version, and the type stubs checked against the
built module by stubtest and against typical calls by mypy."""

import importlib.metadata
import importlib.util
import pathlib
import subprocess
import sys
import textwrap
import tomllib

import pytest

import vorn
from vorn import _vorn_core, _vorn_fleet

ROOT = pathlib.Path(__file__).resolve().parent.parent
needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


def test_package_reexports_the_module_names_in_order():
    core = list(_vorn_core.__all__)
    assert vorn.__all__[:len(core)] == core
    for name in core:
        assert getattr(vorn, name) is getattr(_vorn_core, name)
    assert vorn.__all__[len(core):len(core) + len(_vorn_fleet.__all__)] == list(_vorn_fleet.__all__)
    for name in _vorn_fleet.__all__:
        assert getattr(vorn, name) is getattr(_vorn_fleet, name)


def test_version_matches_the_project_and_the_installed_metadata():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))["project"]
    assert vorn.__version__ == project["version"] == importlib.metadata.version("vorn")


def test_stub_and_marker_are_installed_beside_the_module():
    package = pathlib.Path(_vorn_core.__file__).parent
    assert (package / "_vorn_core.pyi").is_file()
    assert (package / "_vorn_fleet.pyi").is_file()
    assert (package / "py.typed").is_file()


def _mypy(tmp_path, *args):
    # Run outside the repository so that only the installed package is seen.
    return subprocess.run([sys.executable, "-m", *args], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300)


@needs_mypy
@pytest.mark.parametrize("module", ["vorn._vorn_core", "vorn._vorn_fleet"])
def test_stubtest_is_clean(tmp_path, module):
    result = _mypy(tmp_path, "mypy.stubtest", module)
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
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

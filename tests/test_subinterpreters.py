"""Subinterpreters: vorn._vorn_core and vorn._vorn_config load in an isolated subinterpreter
(own GIL, own objects) and compute there exactly what they compute in the main one;
vorn._vorn_fleet, which runs on NumPy, refuses every subinterpreter cleanly. Each module
instance has its own classes. Every case runs in a fresh process; the extension files are
loaded by path, since the package itself imports NumPy."""

import subprocess
import sys
import textwrap

import pytest

import vorn
from vorn import _vorn_config, _vorn_core, _vorn_fleet
from tests.running import time_limit

PATHS = {"core": _vorn_core.__file__, "config": _vorn_config.__file__, "fleet": _vorn_fleet.__file__}

# Loads an extension file as vorn.<name> without the package (a bare stand-in holds the
# name, so that pickle can find the classes).
LOADER = f"""
import importlib.machinery, importlib.util, sys, types
PATHS = {PATHS!r}
sys.modules.setdefault("vorn", types.ModuleType("vorn")).__path__ = []
def load(name):
    full = "vorn._vorn_" + name
    loader = importlib.machinery.ExtensionFileLoader(full, PATHS[name])
    spec = importlib.util.spec_from_file_location(full, PATHS[name], loader=loader)
    module = importlib.util.module_from_spec(spec)
    sys.modules[full] = module
    spec.loader.exec_module(module)
    return module
"""

# What a module instance computes: every form's steps, the tuning functions on its own
# classes, keyword calls, buffer arguments, pickles and the configuration functions.
WORKLOAD = LOADER + """
import array, pickle
core, config = load("core"), load("config")
out = []
for cls in (core.CFDLController, core.PFDLController, core.FFDLController):
    c = cls(rho=0.4, l_u=2) if cls is not core.CFDLController else cls(rho=0.4)
    c.set_phi_hat(array.array("d", [0.75] * len(c.get_phi())))
    out += [repr(c), cls.__module__, cls.__qualname__]
    for k in range(40):
        out.append(repr(c.update(y=0.01 * k, yd=1.0)))
    twin = pickle.loads(pickle.dumps(c))
    out.append(repr(twin.update(0.5, 1.0) == c.update(0.5, 1.0)))
p = core.PFDLController(l_u=3)
core.apply_pfdl_initial_guess(p, core.pid_to_pfdl(1.0, 2.0, 0.1, 0.5))
f = core.FFDLController(l_u=1)
out += [repr(p.get_phi()), repr(core.ffdl_zn_tuning(f, 1.0, 4.0, 2.0, ts=0.5))]
for cls in (core.MimoCfdlController, core.MimoPfdlController, core.MimoFfdlController):
    mimo = cls(2)
    out += [repr(mimo)] + [repr(mimo.update([0.1 * k, 0.0], [1.0, 0.5])) for k in range(10)]
out += [repr(config.refusal("pfdl", (1.0,) * 5 + (0, 0))), repr(config.ignored_keys("eta: 1\\nfoo: 2\\n"))]
try:
    core.apply_pfdl_initial_guess(f, [0.5])
except TypeError as e:
    out.append(str(e))
RESULT = "\\n".join(out)
"""

MAIN = "exec(WORKLOAD); print(RESULT)"

# The workload in a subinterpreter of the given kind, its result sent back through a pipe.
SUB = """
import os, _xxsubinterpreters as sub
read_end, write_end = os.pipe()
interp = sub.create(isolated=ISOLATED)
sub.run_string(interp, WORKLOAD + "\\nimport os; os.write(FD, RESULT.encode()); os.close(FD)", {"FD": write_end})
sub.destroy(interp)
chunks = []
while chunk := os.read(read_end, 1 << 16):
    chunks.append(chunk)
print(b"".join(chunks).decode())
"""


def run(code, **names):
    """Runs `code` in a fresh interpreter with WORKLOAD, LOADER and `names` defined."""
    prelude = "".join(f"{k} = {v!r}\n" for k, v in dict(WORKLOAD=WORKLOAD, LOADER=LOADER, **names).items())
    return subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=time_limit(120))


@pytest.fixture(scope="module")
def subinterpreters():
    try:
        import _xxsubinterpreters  # noqa: F401
    except ImportError:
        pytest.skip("this interpreter has no subinterpreter module")


@pytest.fixture(scope="module")
def main_result():
    r = run(MAIN)
    assert r.returncode == 0, r.stderr[-3000:]
    return r.stdout


@pytest.mark.parametrize("isolated", [True, False], ids=["isolated", "legacy"])
def test_core_and_config_compute_in_a_subinterpreter_what_they_compute_in_the_main_one(
        subinterpreters, main_result, isolated):
    r = run(SUB, ISOLATED=isolated)
    assert r.returncode == 0, r.stderr[-3000:]
    assert r.stdout == main_result
    assert "vorn._vorn_core\nCFDLController\n" in r.stdout and "'FFDLController' object is not an instance" in r.stdout


@pytest.mark.parametrize("isolated", [True, False], ids=["isolated", "legacy"])
def test_the_fleet_module_refuses_a_subinterpreter_and_the_main_one_keeps_working(subinterpreters, isolated):
    code = """
    import os, _xxsubinterpreters as sub
    import vorn
    interp = sub.create(isolated=ISOLATED)
    sub.run_string(interp, LOADER + '''
    core = load("core")
    try:
        load("fleet")
        message = "loaded"
    except ImportError as e:
        message = str(e)
    # The refusal came before the module imported anything.
    assert "numpy" not in sys.modules, sorted(sys.modules)
    assert message == "module vorn._vorn_fleet does not support loading in subinterpreters", message
    assert core.PFDLController().update(0.0, 1.0) > 0
    ''')
    sub.destroy(interp)
    fleet = vorn.PFDLFleet.from_controllers([vorn.PFDLController(), vorn.PFDLController()])
    print(fleet.update([0.0, 0.0], 1.0).tolist() == [vorn.PFDLController().update(0.0, 1.0)] * 2)
    """
    r = run(code, ISOLATED=isolated)
    assert r.returncode == 0, r.stderr[-3000:]
    assert r.stdout.strip() == "True"


def test_isolated_subinterpreters_run_controllers_at_once_on_their_own_gils(subinterpreters, main_result):
    """Keyword calls and buffer arguments in three interpreters at the same time, each
    repeated and then destroyed: every result equals the main interpreter's."""
    code = """
    import os, threading, _xxsubinterpreters as sub
    script = WORKLOAD + "\\nimport os; os.write(FD, RESULT.encode()); os.close(FD)"
    results = {}
    def worker(i):
        for round_ in range(3):
            read_end, write_end = os.pipe()
            interp = sub.create(isolated=True)
            sub.run_string(interp, script, {"FD": write_end})
            sub.destroy(interp)
            chunks = []
            while chunk := os.read(read_end, 1 << 16):
                chunks.append(chunk)
            os.close(read_end)
            results[i, round_] = b"".join(chunks).decode()
    threads = [threading.Thread(target=worker, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    exec(WORKLOAD)  # the main interpreter meanwhile
    for t in threads:
        t.join()
    print(len(set(results.values())) == 1 and len(results) == 6 and RESULT in results.values())
    """
    r = run(code)
    assert r.returncode == 0, r.stderr[-3000:]
    assert r.stdout.strip() == "True"


def test_each_instance_of_the_module_has_classes_of_its_own():
    """A second instance of vorn._vorn_core in the same interpreter makes its own classes;
    its functions take its own controllers only, and the fleets take those of the instance
    imported as vorn._vorn_core."""
    code = LOADER.replace('sys.modules.setdefault("vorn", types.ModuleType("vorn")).__path__ = []', "") + \
        textwrap.dedent("""
    import vorn
    first = sys.modules["vorn._vorn_core"]
    loader = importlib.machinery.ExtensionFileLoader("vorn._vorn_core", PATHS["core"])
    second = importlib.util.module_from_spec(importlib.util.spec_from_file_location("vorn._vorn_core", PATHS["core"], loader=loader))
    loader.exec_module(second)
    assert second.PFDLController is not first.PFDLController
    assert second.PFDLController.__qualname__ == first.PFDLController.__qualname__
    psi = first.pid_to_pfdl(1.0, 2.0, 0.1, 0.5)
    second.apply_pfdl_initial_guess(second.PFDLController(l_u=3), psi)
    for apply, c in ((second.apply_pfdl_initial_guess, first.PFDLController(l_u=3)),
                     (first.apply_pfdl_initial_guess, second.PFDLController(l_u=3))):
        try:
            apply(c, psi)
            raise SystemExit("accepted a controller of another instance")
        except TypeError as e:
            assert "is not an instance of 'PFDLController'" in str(e), e
    try:
        vorn.PFDLFleet.from_controllers([second.PFDLController()])
        raise SystemExit("a fleet took a controller of another instance")
    except TypeError:
        pass
    fleet = vorn.PFDLFleet.from_controllers([first.PFDLController()])
    assert type(fleet[0]) is first.PFDLController
    del second, loader
    import gc; gc.collect()
    print(first.PFDLController().update(0.0, 1.0) == fleet.update([0.0], 1.0)[0])
    """)
    r = run(code)
    assert r.returncode == 0, r.stderr[-3000:]
    assert r.stdout.strip() == "True"


# Stand-ins put in place of the classes of vorn._vorn_core before the fleets load.
STAND_INS = {
    "imitation": ("class Imitation:\n    pass\nImitation.__name__ = Imitation.__qualname__ = 'CFDLController'\n"
                  "core.CFDLController = Imitation", "CFDLController"),
    "swapped": ("core.PFDLController, core.FFDLController = core.FFDLController, core.PFDLController",
                "PFDLController"),
}


@pytest.mark.parametrize("stand_in", STAND_INS)
def test_the_fleet_module_takes_only_the_core_modules_own_classes(stand_in):
    """The fleets read controllers through the class's object layout, so they refuse to
    load when vorn._vorn_core's attribute is not that very class."""
    change, name = STAND_INS[stand_in]
    code = LOADER + 'core = load("core")\n' + change + """
try:
    load("fleet")
    print("loaded")
except ImportError as e:
    print(e)
"""
    r = run(code)
    assert r.returncode == 0, r.stderr[-3000:]
    assert r.stdout.strip() == f"vorn._vorn_core.{name} is not the module's own class"

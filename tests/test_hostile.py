"""Inputs chosen as an attacker would, one test per kind of fault they once caused: buffers
that convert unlike their items (a buffer without strides crashed the interpreter),
allocation failures escaping as C++ exceptions, scratch memory kept after a refusal,
configuration files that are not small regular files, and command lines that ended in a
traceback or said nothing. Whatever could kill the interpreter runs in a subprocess. What
applies to every class and fleet alike (conversions that call back or empty the dicts they
read, arguments reallocated by another's conversion) is the conformance suite's
(tests/conformance/test_hostile.py)."""

import os
import pathlib
import stat
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

from tests.running import SANITIZED, time_limit, vorn_command
from vorn import _vorn_core as m

TESTS = pathlib.Path(__file__).parent
READ_PREFIX = "YAML 错误: 无法读取 YAML 文件: "


def isolated(code, **kwargs):
    """Runs `code` in a fresh interpreter that sees the helpers beside this file."""
    prelude = (f"import sys; sys.path.insert(0, {str(TESTS)!r})\n"
               "import warnings; warnings.simplefilter('ignore')\n"
               "from vorn import _vorn_core as m\n")
    return subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=time_limit(120), **kwargs)


# --- buffers convert exactly as their items do --------------------------------------------

# Each call builds its vector arguments with `v(values)` and leaves what it produced in `out`.
VECTOR_CALLS = {
    "CFDLController.set_phi_hat": "c = m.CFDLController(); c.set_phi_hat(v([0.25])); out = c.get_phi()",
    "PFDLController.set_phi_hat": "c = m.PFDLController(); c.set_phi_hat(v([0.25, -0.5])); out = c.get_phi()",
    "FFDLController.set_phi_hat": "c = m.FFDLController(); c.set_phi_hat(v([0.25, -0.5, 2.0])); out = c.get_phi()",
    "PFDLController.set_initial_phi":
        "c = m.PFDLController(); c.set_initial_phi(v([0.25, -0.5])); c.reset(); out = (repr(c), c.get_phi())",
    "FFDLController.set_initial_phi":
        "c = m.FFDLController(); c.set_initial_phi(v([0.25, -0.5, 2.0])); c.reset(); out = (repr(c), c.get_phi())",
    "FFDLController.set_rho_vector":
        "c = m.FFDLController(); c.set_rho_vector(v([0.25, 0.5, 1.0])); out = c.__getstate__()",
    "apply_pfdl_initial_guess":
        "c = m.PFDLController(); m.apply_pfdl_initial_guess(c, v([0.25, -0.5])); out = c.get_phi()",
    "MimoCfdlController.update": "c = m.MimoCfdlController(2); out = (c.update(v([0.5, 0.25]), v([1.0, 2.0])),"
                                 " c.update(v([0.75, 0.5]), v([1.0, 2.0])))",
    "MimoFfdlController.update": "c = m.MimoFfdlController(3); out = c.update(v([0.5, 0.25, 0.0]), v([1.0, 2.0, 3.0]))",
    "PFDLController.__setstate__":
        "c = m.PFDLController(); s = c.__getstate__(); s['u_hist'] = v([0.1, 0.2, 0.3]);"
        " s['phi_hat'] = v([0.25, 0.5]); c.__setstate__(s); out = c.__getstate__()",
    "FFDLController.__setstate__":
        "c = m.FFDLController(); s = c.__getstate__(); s['y_hist'] = v([0.1, 0.2]); s['u_hist'] = v([0.1, 0.2, 0.3]);"
        " s['phi_hat'] = v([0.25, 0.5, 1.0]); s['rho_vector'] = v([1.0, 0.5, 0.5]); c.__setstate__(s);"
        " out = c.__getstate__()",
}

COMPARE_VECTORS = """
from tests.buffer_kinds import VECTOR_KINDS, plain

def outcome(call, v):
    scope = {"m": m, "v": v}
    try:
        exec(call, scope)
        return repr(scope["out"])
    except Exception as e:
        return f"{type(e).__name__}: {e}"

differences = []
for resize in (lambda xs: xs, lambda xs: [], lambda xs: xs + [0.75]):
    for name, kind in VECTOR_KINDS.items():
        got = outcome(CALL, lambda xs: kind(resize(xs)))
        want = outcome(CALL, lambda xs: plain(kind(resize(xs))))
        if got != want:
            differences.append((name, got, want))
print(differences)
"""


@pytest.mark.parametrize("call", VECTOR_CALLS.values(), ids=VECTOR_CALLS.keys())
def test_buffer_arguments_convert_as_their_items(call):
    result = isolated(f"CALL = {call!r}\n" + COMPARE_VECTORS)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "[]\n"


@pytest.mark.parametrize("cls", ["MimoCfdlController", "MimoPfdlController", "MimoFfdlController"])
def test_matrix_layers_convert_as_their_rows(cls):
    result = isolated(f"""
        import numpy as np
        from buffer_kinds import ctypes_matrix, ctypes_vector, masked
        KINDS = [ctypes_matrix, lambda rows: [ctypes_vector(r) for r in rows],
                 lambda rows: np.array(rows, dtype=float).reshape(len(rows), -1),
                 lambda rows: [masked(r) for r in rows]]

        def layers(make, dim, count, width):
            return [make([[0.25 * (k + 1) + i - j for j in range(width)] for i in range(dim)])
                    for k in range(count)]

        def outcome(make, dim, extra, width):
            c = m.{cls}(dim)
            try:
                c.set_phi_hat(layers(make, dim, len(c.get_phi()) + extra, width))
                return repr(c.get_phi())
            except Exception as e:
                return f"{{type(e).__name__}}: {{e}}"

        for kind in KINDS:
            for dim, width, extra in ((2, 2, 0), (2, 1, 0), (2, 2, 1), (0, 0, 0)):
                got = outcome(kind, dim, extra, width)
                want = outcome(lambda rows: [list(x) for x in kind(rows)], dim, extra, width)
                assert got == want, (got, want)
        print("same")
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "same\n"


def test_memoryview_of_a_buffer_without_strides_reads_its_doubles():
    # Item access of such a view is refused ("<d"), but its doubles are unambiguous.
    result = isolated("""
        import ctypes
        c = m.PFDLController()
        c.set_phi_hat(memoryview((ctypes.c_double * 2)(0.25, -0.5)))
        print(c.get_phi())
        try:
            c.set_initial_phi(memoryview((ctypes.c_double * 0)()))
        except ValueError as e:
            print(e)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "[0.25, -0.5]\ninitial_phi 长度至少为 1，实际为 0\n"


# --- no C++ exception reaches the interpreter; a refused call changes nothing --------------

# A vector of N doubles (64 MB) is stored, then the address space is capped a little above
# what the process holds: a reset into that vector must not allocate. A new vector of that
# size, converted within a cap of 1.5 N doubles, cannot also be copied or given room in the
# estimate: MemoryError, and the controller stays as it was.
LIMITED = """
import resource
import numpy as np
N = 8_000_000
BIG = np.broadcast_to(0.5, (N,))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)

def limit(headroom=24 * 2**20):
    vm = next(int(l.split()[1]) * 1024 for l in open("/proc/self/status") if l.startswith("VmSize"))
    resource.setrlimit(resource.RLIMIT_AS, (vm + headroom, hard))

def unlimit():
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

def refused(call):
    try:
        call()
    except MemoryError:
        return True
    return False
"""

UNDER_PRESSURE = {
    "PFDL reset": "c = m.PFDLController(); c.set_phi_hat([0.5]); c.set_initial_phi(BIG); limit(); c.reset();"
                  " unlimit(); assert len(c.get_phi()) == N",
    "FFDL reset": "c = m.FFDLController(l_y=1, l_u=1); c.set_initial_phi(BIG); limit(); c.reset()",
    "PFDL update": "c = m.PFDLController(l_u=1); c.set_initial_phi(BIG); limit(); u = c.update(0.0, 1.0);"
                   " assert u == 0.18518518518518517",
    "FFDL update": "c = m.FFDLController(l_y=1, l_u=1); c.set_initial_phi(BIG); limit(); c.update(0.0, 1.0)",
    "set_initial_phi": "c = m.PFDLController(); s = c.__getstate__(); r = repr(c); limit(96 * 2**20);"
                       " assert refused(lambda: c.set_initial_phi(BIG)); c.reset(); unlimit();"
                       " assert c.__getstate__() == s and repr(c) == r",
    "set_phi_hat": "c = m.FFDLController(); s = c.__getstate__(); limit(96 * 2**20);"
                   " assert refused(lambda: c.set_phi_hat(BIG)); unlimit(); assert c.__getstate__() == s",
    "set_rho_vector": "c = m.FFDLController(); s = c.__getstate__(); limit();"
                      " assert refused(lambda: c.set_rho_vector(BIG)); unlimit(); assert c.__getstate__() == s",
    "MIMO update": "c = m.MimoCfdlController(2); limit(); messages = []\n"
                   "for args in ((BIG, [0.0, 0.0]), ([0.0, 0.0], BIG)):\n"
                   "    try: c.update(*args)\n"
                   "    except ValueError as e: messages.append(str(e))\n"
                   "unlimit(); assert messages == [f'y 长度 {N} ≠ dim 2', f'yd 长度 {N} ≠ dim 2'], messages",
}


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves more address space than any cap allows")
@pytest.mark.parametrize("code", UNDER_PRESSURE.values(), ids=UNDER_PRESSURE.keys())
def test_allocation_failures_become_memory_errors(code):
    result = isolated(LIMITED + code + "\nprint('ok')\n")
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout == "ok\n"


def _resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("make", [lambda: [0.0] * 4_000_000, lambda: np.broadcast_to(0.0, (50_000_000,)),
                                  lambda: np.zeros(4_000_000)], ids=["list", "broadcast", "ndarray"])
def test_refused_mimo_arguments_leave_no_memory_behind(make):
    c = m.MimoCfdlController(2)
    y = make()
    before = _resident_bytes()
    for name, args in (("y", (y, [0.0, 0.0])), ("yd", ([0.0, 0.0], y))):
        with pytest.raises(ValueError, match=f"^{name} 长度 {len(y)} ≠ dim 2$"):
            c.update(*args)
    assert _resident_bytes() - before < 8 * 2**20
    assert c.update([0.0, 0.0], [1.0, 2.0]) == [0.4807692307692307, 0.9615384615384615]


# --- the loader reads small regular files only -------------------------------------------

def _fifo(tmp_path):
    path = tmp_path / "fifo.yaml"
    os.mkfifo(path)
    return path


def _sparse(tmp_path):
    path = tmp_path / "sparse.yaml"
    with open(path, "wb") as f:
        f.truncate(6 * 2**30)
    return path


def _symlink_to_fifo(tmp_path):
    link = tmp_path / "link.yaml"
    link.symlink_to(_fifo(tmp_path))
    return link


def _just_too_big(tmp_path):
    path = tmp_path / "big.yaml"
    path.write_bytes(b"#" * 2**20 + b"\n")
    return path


HOSTILE_FILES = {
    "fifo": (_fifo, "not a regular file"),
    "symlink-to-fifo": (_symlink_to_fifo, "not a regular file"),
    "device": (lambda _: pathlib.Path("/dev/zero"), "not a regular file"),
    "directory": (lambda p: p, os.strerror(21)),
    "sparse-6GiB": (_sparse, "file is larger than 1 MiB"),
    "1MiB-and-a-byte": (_just_too_big, "file is larger than 1 MiB"),
    "proc-pagemap": (lambda _: pathlib.Path("/proc/self/pagemap"), "file is larger than 1 MiB"),
}


@pytest.mark.parametrize("make, reason", HOSTILE_FILES.values(), ids=HOSTILE_FILES.keys())
def test_loader_refuses_what_is_not_a_small_regular_file(tmp_path, make, reason):
    path = make(tmp_path)
    if not os.access(path, os.R_OK):
        pytest.skip(f"{path} is not readable here")
    with pytest.raises(ValueError) as info:
        m.load_config_from_yaml(True, str(path))
    assert str(info.value) == READ_PREFIX + reason


def test_loader_accepts_a_file_of_exactly_one_mebibyte(tmp_path):
    path = tmp_path / "padded.yaml"
    path.write_bytes(b"rho: 0.5\n" + b"#" * (2**20 - 10) + b"\n")
    assert path.stat().st_size == 2**20
    assert m.load_config_from_yaml(True, str(path))[2] == 0.5


def test_loader_leaves_a_fifo_writer_waiting(tmp_path):
    path = _fifo(tmp_path)
    opened = []
    writer = threading.Thread(target=lambda: opened.append(os.open(path, os.O_WRONLY)), daemon=True)
    writer.start()
    with pytest.raises(ValueError, match="not a regular file"):
        m.load_config_from_yaml(True, str(path))
    writer.join(0.3)
    still_waiting = writer.is_alive()
    reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)  # lets the writer go
    writer.join(10)
    for fd in (reader, *opened):
        os.close(fd)
    assert still_waiting and stat.S_ISFIFO(os.stat(path).st_mode)


# --- the command line ends every refusal in one line --------------------------------------

def vorn(*args, cwd=None, stdout=subprocess.PIPE, unbuffered="1"):
    return vorn_command(*args, cwd=cwd, stdout=stdout, env=dict(os.environ, PYTHONUNBUFFERED=unbuffered))


RUN = ("run", "--form", "pfdl", "--plant", "nonlinear", "--steps", "20")

COMMAND_LINE_REFUSALS = {
    "order-overflows": (RUN + ("--config", "c.yaml"), "L_u: 0xFFFFFFFFFFFFFFFF\n",
                        "vorn: c.yaml: 控制器状态的规模超出可表示的范围"),
    "order-beyond-memory": (RUN + ("--config", "c.yaml"), "L_u: 100000000000\n", "vorn: c.yaml: 控制器状态需要 "),
    "empty-csv": (("demo", "--csv", ""), None, "vorn: --csv needs a file name"),
    "empty-plot": (RUN + ("--plot", ""), None, "vorn: --plot needs a file name"),
    "csv-in-missing-directory": (RUN + ("--csv", "no/such/x.csv"), None,
                                 "vorn: cannot write no/such/x.csv: No such file or directory"),
    "csv-is-a-directory": (RUN + ("--csv", "."), None, "vorn: cannot write .: Is a directory"),
}


@pytest.mark.parametrize("args, config, expected", COMMAND_LINE_REFUSALS.values(), ids=COMMAND_LINE_REFUSALS.keys())
def test_command_line_refusals_are_one_line_before_any_run(tmp_path, args, config, expected):
    if config is not None:
        (tmp_path / "c.yaml").write_text(config)
    result = vorn(*args, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (2, "")  # refused before any loop ran
    assert sorted(p.name for p in tmp_path.iterdir()) == (["c.yaml"] if config else [])
    [line] = result.stderr.splitlines()
    assert line.startswith(expected)


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("unbuffered", ["1", ""], ids=["unbuffered", "buffered"])
@pytest.mark.parametrize("args", [("demo",), RUN, ("--help",), ("--version",),
                                  RUN + ("--csv", "/dev/full")])
def test_failed_writes_are_one_line(tmp_path, args, unbuffered):
    with open("/dev/full", "w") as full:
        result = vorn(*args, cwd=tmp_path, stdout=full, unbuffered=unbuffered)
    assert result.returncode == 2
    [line] = result.stderr.splitlines()
    assert line.startswith("vorn: cannot write ")
    # Standard output fills up; a CSV file is never written over a device, so that one is refused.
    assert line.endswith(os.strerror(28) if "--csv" not in args else "only regular files are replaced")


@pytest.mark.parametrize("args", [("demo",), ("--help",)])
def test_a_closed_pipe_ends_quietly(args):
    process = subprocess.Popen([sys.executable, "-m", "vorn", *args], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    process.stdout.close()  # the reader is gone before the first line is written
    error = process.stderr.read()
    process.stderr.close()
    assert (process.wait(timeout=time_limit(120)), error) == (1, b"")


# --- every extension module refuses a subinterpreter ------------------------------------

SUBINTERPRETER_IMPORTS = """
import warnings; warnings.simplefilter("ignore")
import importlib
for name in ("vorn._vorn_core", "vorn._vorn_fleet", "vorn._vorn_config"):
    try:
        importlib.import_module(name)
        print("imported", name)
    except ImportError as e:
        # In a legacy subinterpreter numpy, which the package imports first, may refuse first.
        assert "does not support loading in subinterpreters" in str(e) or "more than once" in str(e), e
        print("refused", name)
"""


@pytest.mark.parametrize("kind", ["isolated", "legacy"])
def test_subinterpreters_are_refused_cleanly(kind):
    """Every extension module refuses a subinterpreter with ImportError; the main
    interpreter's modules keep working."""
    code = f"""
    try:
        import _xxsubinterpreters as sub
    except ImportError:
        print("unavailable"); raise SystemExit
    import vorn
    interp = sub.create(isolated={kind == "isolated"})
    sub.run_string(interp, {SUBINTERPRETER_IMPORTS!r})
    sub.destroy(interp)
    print(vorn.PFDLFleet(2).update([0.0, 0.0], 1.0).shape, vorn.PFDLController().update(0.0, 1.0) > 0)
    """
    r = isolated(code)
    if r.stdout.strip() == "unavailable":
        pytest.skip("this interpreter has no subinterpreter module")
    assert r.returncode == 0, r.stderr[-3000:]
    assert r.stdout.split("\n")[:3] == [f"refused vorn._vorn_{n}" for n in ("core", "fleet", "config")], r.stdout
    assert r.stdout.strip().endswith("(2,) True")

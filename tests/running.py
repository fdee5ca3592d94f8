"""running.py: what kind of run this is and how the tests start the vorn command: the long
run (VORN_LONG=1, more examples and seeds), the sanitized run (VORN_SANITIZED=1, set by
scripts/test-sanitized), and time limits that allow for the latter. Under the sanitizers
every allocation is checked, so a command that spends its time in Python (matplotlib laying
out the demo's grid of panels) runs several times slower."""

import os
import subprocess
import sys

LONG = os.environ.get("VORN_LONG") == "1"
SANITIZED = os.environ.get("VORN_SANITIZED") == "1"


def time_limit(seconds: float) -> float:
    """A limit in seconds for the plain run, stretched for the sanitized one."""
    return seconds * 10 if SANITIZED else seconds


def vorn_command(*args, cwd=None, code=None, **options) -> subprocess.CompletedProcess:
    """`python -m vorn ARGS` (or `python -c CODE ARGS`) with its output captured as text."""
    command = [sys.executable, "-c", code, *args] if code else [sys.executable, "-m", "vorn", *args]
    options.setdefault("stdout", subprocess.PIPE)
    return subprocess.run(command, stderr=subprocess.PIPE, text=True, encoding="utf-8", cwd=cwd,
                          timeout=time_limit(120), **options)

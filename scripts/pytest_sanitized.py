"""A pytest plugin for the sanitized run (scripts/test-sanitized): every process that runs
tests keeps AddressSanitizer's leak check for itself, but hands the interpreters it starts
(the tests' subprocesses) an environment without it. At their exit the check would count
the interpreter's own allocations as leaks and replace their exit status, which the tests
read; without it they need no full allocation stacks either (the slow unwinder made a
plotting command sixteen times slower). A controller of parallel workers runs no test, and
its children, the workers, keep the check."""

import os


def pytest_configure(config):
    worker = os.environ.get("PYTEST_XDIST_WORKER")
    if not worker and getattr(config.option, "numprocesses", None):
        return
    os.environ["ASAN_OPTIONS"] = os.environ["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
    os.environ["LSAN_OPTIONS"] = os.environ["LSAN_OPTIONS"].replace("fast_unwind_on_malloc=0", "fast_unwind_on_malloc=1")

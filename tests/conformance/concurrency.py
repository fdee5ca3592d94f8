"""concurrency.py: how the thread checks start their threads: all at once behind a barrier,
switching as often as the interpreter allows, every exception of a thread reported."""

import sys
import threading

import pytest

from tests.running import LONG

THREADS = 8
STEPS = 2000 if LONG else 300
CONFLICTS = {"Already borrowed", "Already mutably borrowed"}


@pytest.fixture(autouse=True)
def fast_switching():
    """Switch threads as often as the interpreter allows, to interleave the calls."""
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def run_threads(targets):
    errors = []
    start = threading.Barrier(len(targets))

    def wrap(fn):
        def run():
            try:
                start.wait()
                fn()
            except BaseException as e:  # noqa: BLE001 - reported below
                errors.append(e)
        return run

    threads = [threading.Thread(target=wrap(fn)) for fn in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors

"""leak_loop.py: the loop-and-measure machinery of the leak checks: one call repeated many
times, and the interpreter's object count, the C heap in use and the process's resident
memory compared before and after, within a small fixed margin.

3·10^3 calls per loop by default (a leak of one object or of 32 bytes per call still
shows), 10^5 with VORN_LONG=1. VORN_LEAK_REPORT=<file> writes the
figures (before and after each loop) to that file. Under the sanitizers (VORN_SANITIZED=1)
the loops are short and the leak checker at exit does the judging."""

import ctypes
import gc
import os
import sys

from tests.running import LONG, SANITIZED

N = 300 if SANITIZED else 100_000 if LONG else 3_000
# Interpreter blocks: a leak grows with the calls (one block per call is N blocks); the
# interpreter's own caches drift by a few hundred at most.
OBJECT_MARGIN = max(50, N // 20)
HEAP_MARGIN = 64 * 1024     # bytes of C heap in use
RSS_MARGIN = (2 if LONG else 1) * 1024 * 1024

PAGE = os.sysconf("SC_PAGE_SIZE")
FIGURES = []


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


try:
    _libc = ctypes.CDLL(None)
    _libc.mallinfo2.restype = _Mallinfo2
except (OSError, AttributeError):
    _libc = None


def heap_in_use():
    """Bytes the C allocator has handed out and not had back, or None where unknown."""
    if _libc is None or SANITIZED:
        return None
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


class Boom(Exception):
    pass


class RaisingFloat:
    def __float__(self):
        raise Boom


def refused(exc, fn, *args, **kwargs):
    """A call that must raise `exc`."""
    def run():
        try:
            fn(*args, **kwargs)
        except exc:
            return
        raise AssertionError(f"{fn} did not raise {exc}")
    return run


def write_report():
    path = os.environ.get("VORN_LEAK_REPORT")
    if path and FIGURES:
        with open(path, "a") as f:
            f.write(f"{'loop':52} {'calls':>7} {'rss before':>11} {'rss after':>11} {'heap +':>8} {'objects +':>9}\n")
            for name, n, r0, r1, dh, db in FIGURES:
                f.write(f"{name:52} {n:7d} {r0:11d} {r1:11d} {dh if dh is not None else '-':>8} {db:9d}\n")
        FIGURES.clear()


def _loop(call):
    """N calls, with the interpreter's blocks, the C heap and the resident memory before and after."""
    gc.collect()
    before = sys.getallocatedblocks(), heap_in_use(), rss()
    for _ in range(N):
        call()
    gc.collect()
    return (*before, sys.getallocatedblocks(), heap_in_use(), rss())


def block_growth(run, margin):
    """The interpreter blocks that `run()` leaves behind, measured once more when they reach
    `margin`: an interpreter cache that grew once grows no more, a leak grows again."""
    def once():
        gc.collect()
        before = sys.getallocatedblocks()
        run()
        gc.collect()
        return sys.getallocatedblocks() - before

    growth = once()
    return once() if growth >= margin else growth


def assert_no_growth(name, call):
    # What exists already is frozen out of the collector's way: each collection then visits
    # only what the loop made, so that a loop costs its calls, not the size of the heap.
    gc.freeze()
    try:
        _measure(name, call)
    finally:
        gc.unfreeze()


def _measure(name, call):
    # Warm-up: free lists, caches and the first exception of each kind settle first.
    for _ in range(min(N, 1000)):
        call()
    blocks0, heap0, rss0, blocks1, heap1, rss1 = _loop(call)
    if not SANITIZED and blocks1 - blocks0 > OBJECT_MARGIN:
        # An interpreter cache that grew once (seen: 221 blocks in one run of a loop that
        # otherwise grows by 15 to 115) grows no more; a leak grows again, as much.
        blocks0, heap0, rss0, blocks1, heap1, rss1 = _loop(call)
    heap_growth = None if heap0 is None else heap1 - heap0
    FIGURES.append((name, N, rss0, rss1, heap_growth, blocks1 - blocks0))
    if SANITIZED:
        return  # the quarantine of freed memory makes these figures meaningless
    assert blocks1 - blocks0 <= OBJECT_MARGIN, f"{blocks1 - blocks0} interpreter objects more after {N} calls"
    if heap_growth is not None:
        assert heap_growth <= HEAP_MARGIN, f"C heap grew by {heap_growth} bytes over {N} calls"
    assert rss1 - rss0 <= RSS_MARGIN, f"resident memory grew by {rss1 - rss0} bytes over {N} calls"

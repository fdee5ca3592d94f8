"""progress.py: how a tuning shows its progress: a tqdm bar per stage on a terminal (the
generation, the best cost so far, the time left when there is a budget), plain lines
elsewhere."""

from __future__ import annotations

import math
import sys
import time
from typing import Any, TextIO

from vorn.tuning.search import Progress

# Plain lines come at most this often (seconds), and once at the end of every stage.
LINE_EVERY = 2.0


class ProgressReport:
    """A progress callback for `vorn.tune`; call close() when the tuning returns."""

    def __init__(self, stream: TextIO | None = None, bar: bool | None = None) -> None:
        self.stream = stream if stream is not None else sys.stderr
        self.bar_wanted = bar if bar is not None else bool(getattr(self.stream, "isatty", lambda: False)())
        self.stage: str | None = None
        self.bar: Any = None
        self.last_line = 0.0
        self.last: Progress | None = None

    def __call__(self, p: Progress) -> None:
        if p.stage != self.stage:
            self._finish()
            self.stage = p.stage
            if self.bar_wanted:
                self.bar = _tqdm(self.stream, p)
        self.last = p
        if self.bar is not None:
            self.bar.n = min(p.elapsed, p.budget)  # a bar without a budget shows no count
            self.bar.set_description_str(f"{p.stage} gen {p.generation}: best {p.best:.6g}{_left(p)}",
                                         refresh=False)
            self.bar.refresh()
        elif time.monotonic() - self.last_line >= LINE_EVERY:
            self._line(p)

    def _line(self, p: Progress) -> None:
        self.last_line = time.monotonic()
        print(f"{p.stage}: generation {p.generation}, {p.evaluations} candidates, best {p.best:.6g}"
              f"{_left(p)}", file=self.stream, flush=True)

    def _finish(self) -> None:
        if self.bar is not None:
            self.bar.close()
            self.bar = None
        elif self.last is not None and self.last.stage == self.stage:
            self._line(self.last)

    def close(self) -> None:
        self._finish()
        self.stage = None


def _left(p: Progress) -> str:
    """", N s left", or nothing for a search that only a count of generations ends."""
    return f", {max(p.budget - p.elapsed, 0.0):.0f} s left" if math.isfinite(p.budget) else ""


def _tqdm(stream: TextIO, p: Progress) -> Any:
    try:
        from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        return None
    if not math.isfinite(p.budget):  # no clock to fill a bar: the description says it all
        return tqdm(total=None, file=stream, leave=True, dynamic_ncols=True, bar_format="{desc}")
    return tqdm(total=p.budget, file=stream, unit="s", leave=True, dynamic_ncols=True,
                bar_format="{desc} |{bar}|")

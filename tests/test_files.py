"""Every file vorn writes is written whole or not at all, and only over a regular file: each
writer of the package (configurations, exported C, CSV tables, figures) against the same
hostile targets (FIFO, directory, device, symlink, read-only or private file, long name,
a failure half-way)."""

from __future__ import annotations

import errno
import importlib
import os
import stat
import tempfile
from pathlib import Path
from typing import Any, Callable

import numpy as np
import pytest

import vorn
from vorn import cli, demo, files
from vorn.loop import csv_file
from vorn.loop import figure as plot
from vorn.export import export_c
from vorn.tuning.result import Tuning

OLD = "old content\n"


def _tuning() -> Tuning:
    return Tuning("cfdl", {"eta": 0.5}, 1.5, 9.0, None, [1.5], 10, 1, 0.1, False, ("iae", "mean"),
                  "dead-time", np.ones(4))


def _figure(path: Path) -> None:
    plt = plot._pyplot()
    fig = plt.figure(figsize=(1, 1))
    try:
        plot.save_figure(fig, path, dpi=20)
    finally:
        plt.close(fig)


def _stream(path: Path) -> None:
    with files.replacing(path) as stream:
        stream.write("new\n")


# Every writer of the package: the file name it writes to, and how it writes it.
WRITERS: dict[str, tuple[str, Callable[[Path], Any]]] = {
    "write_file": ("out.txt", lambda p: files.write_file(p, "new\n")),
    "replacing": ("out.txt", _stream),
    "write_files": ("out.txt", lambda p: files.write_files([(p, b"new\n")])),
    "Tuning.save": ("out.yaml", lambda p: _tuning().save(p)),
    "Run.to_csv": ("out.csv", lambda p: vorn.simulate(vorn.CFDLController(), "dead-time", 5).to_csv(p)),
    "vorn run --csv": ("out.csv", lambda p: csv_file.write_csv(p, [demo.close_loop(vorn.CFDLController(), "dead-time", 3)])),
    "export_c": ("out.h", lambda p: export_c(vorn.PFDLController(l_u=2), p.parent, p.stem)),
    "figure": ("out.png", _figure),
}
writers = pytest.mark.parametrize("writer", WRITERS)


def target(tmp_path: Path, writer: str) -> tuple[Path, Callable[[Path], Any]]:
    if writer == "figure" and not plot.have_matplotlib():
        pytest.skip("matplotlib is not installed")
    name, write = WRITERS[writer]
    return tmp_path / name, write


def listing(directory: Path) -> list[str]:
    return sorted(p.name for p in directory.iterdir())


@writers
def test_a_new_file_gets_the_mode_open_gives(tmp_path: Path, writer: str) -> None:
    path, write = target(tmp_path, writer)
    old_mask = os.umask(0o027)
    try:
        write(path)
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE(path.stat().st_mode) == 0o640
    assert not [n for n in listing(tmp_path) if n.startswith(".")]


@writers
@pytest.mark.parametrize("mode", [0o600, 0o640, 0o604])
def test_a_replaced_file_keeps_its_mode(tmp_path: Path, writer: str, mode: int) -> None:
    path, write = target(tmp_path, writer)
    path.write_text(OLD)
    path.chmod(mode)
    write(path)
    assert path.read_bytes() != OLD.encode()
    assert stat.S_IMODE(path.stat().st_mode) == mode


@writers
def test_a_symlink_is_written_through_and_kept(tmp_path: Path, writer: str) -> None:
    path, write = target(tmp_path, writer)
    real = tmp_path / "elsewhere" / f"real{path.suffix}"
    real.parent.mkdir()
    real.write_text(OLD)
    real.chmod(0o600)
    path.symlink_to(real)
    write(path)
    assert path.is_symlink() and os.readlink(path) == str(real)
    assert real.read_bytes() != OLD.encode() and stat.S_IMODE(real.stat().st_mode) == 0o600
    assert listing(real.parent) == [real.name]


def _special(kind: str, path: Path) -> None:
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "directory":
        path.mkdir()
    elif kind == "device":
        if os.geteuid() != 0:
            pytest.skip("making a device node needs root")
        os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 3))  # a null device of our own


@writers
@pytest.mark.parametrize("kind, words", [("fifo", "is a FIFO"), ("directory", "Is a directory"),
                                         ("device", "is a character device")])
@pytest.mark.parametrize("linked", [False, True])
def test_what_is_not_a_regular_file_is_refused_and_kept(tmp_path: Path, writer: str, kind: str,
                                                       words: str, linked: bool) -> None:
    path, write = target(tmp_path, writer)
    special = tmp_path / "special" if linked else path
    _special(kind, special)
    if linked:
        path.symlink_to(special)
    before = special.lstat().st_mode
    with pytest.raises(OSError) as raised:
        write(path)
    assert words in str(raised.value) and raised.value.filename == str(path)
    assert special.lstat().st_mode == before
    assert not [n for n in listing(tmp_path) if n.startswith(".")]


@writers
def test_a_long_name_works(tmp_path: Path, writer: str) -> None:
    path, write = target(tmp_path, writer)
    limit = os.pathconf(tmp_path, "PC_NAME_MAX")
    long = tmp_path / ("n" * (limit - len(path.suffix) - (2 if writer == "export_c" else 0)) + path.suffix)
    write(long)
    assert long.exists() and listing(tmp_path)[0].startswith("n")


@writers
@pytest.mark.parametrize("step", ["fsync", "replace"])
def test_a_failure_leaves_the_old_file_and_names_the_given_path(tmp_path: Path, writer: str, step: str,
                                                                monkeypatch: pytest.MonkeyPatch) -> None:
    path, write = target(tmp_path, writer)
    path.write_text(OLD)

    def no_space(*args: Any) -> None:
        raise OSError(errno.ENOSPC, "No space left on device", "/somewhere/.hidden")

    with monkeypatch.context() as patch, pytest.raises(OSError) as raised:
        patch.setattr(files.os, step, no_space)
        write(path)
    assert raised.value.errno == errno.ENOSPC and raised.value.filename == str(path)
    assert path.read_text() == OLD and listing(tmp_path) == [path.name]


@writers
def test_a_missing_directory_is_named(tmp_path: Path, writer: str) -> None:
    path, write = target(tmp_path / "missing", writer)
    with pytest.raises(FileNotFoundError) as raised:
        write(path)
    assert raised.value.filename == str(path)
    assert listing(tmp_path) == []


def test_a_file_the_user_cannot_write_is_refused_like_open_refuses_it() -> None:
    # As root every file is writable, so the check runs as nobody, in a directory nobody may
    # write to (renaming over the file would succeed there: only the file's mode forbids it).
    directory = Path(tempfile.mkdtemp())
    try:
        directory.chmod(0o777)
        path = directory / "read-only.yaml"
        path.write_text(OLD)
        path.chmod(0o444)
        root = os.geteuid() == 0
        if root:
            os.seteuid(65534)
        try:
            with pytest.raises(PermissionError) as by_open:
                open(path, "w")
            for write in (lambda: _tuning().save(path), lambda: files.check_writable(path),
                          lambda: files.write_file(path, "x")):
                with pytest.raises(PermissionError) as raised:
                    write()
                assert raised.value.filename == str(path) and raised.value.errno == by_open.value.errno
        finally:
            if root:
                os.seteuid(0)
        assert path.read_text() == OLD and listing(directory) == [path.name]
    finally:
        for p in directory.iterdir():
            p.unlink()
        directory.rmdir()


def test_a_failed_check_abandons_the_write(tmp_path: Path) -> None:
    path = tmp_path / "t.txt"
    path.write_text(OLD)

    def refuse(temporary: str) -> None:
        assert Path(temporary).read_text() == "new" and Path(temporary).parent == tmp_path
        raise ValueError("no")

    with pytest.raises(ValueError, match="no"):
        files.write_file(path, "new", check=refuse)
    assert path.read_text() == OLD and listing(tmp_path) == [path.name]


def test_an_exception_inside_the_stream_keeps_the_old_file(tmp_path: Path) -> None:
    path = tmp_path / "t.csv"
    path.write_text(OLD)
    with pytest.raises(KeyboardInterrupt):
        with files.replacing(path) as stream:
            stream.write("partial")
            raise KeyboardInterrupt
    assert path.read_text() == OLD and listing(tmp_path) == [path.name]


def test_several_files_are_renamed_only_when_all_are_complete(tmp_path: Path) -> None:
    first, second = tmp_path / "a", tmp_path / "b"
    os.mkfifo(second)
    with pytest.raises(OSError, match="FIFO"):
        files.write_files([(first, "a"), (second, "b")])
    assert listing(tmp_path) == ["b"]


@pytest.mark.parametrize("case", ["new", "existing", "link", "fifo", "missing dir", "empty", "trailing slash"])
def test_check_writable_refuses_what_a_write_refuses_and_changes_nothing(tmp_path: Path, case: str) -> None:
    path = tmp_path / "x"
    given = {"missing dir": str(tmp_path / "no" / "x"), "empty": "", "trailing slash": f"{path}/"}.get(case, str(path))
    if case == "existing":
        path.write_text(OLD)
    elif case == "link":
        (tmp_path / "real").write_text(OLD)
        path.symlink_to(tmp_path / "real")
    elif case == "fifo":
        os.mkfifo(path)
    before = listing(tmp_path)
    if case in ("new", "existing", "link"):
        assert files.check_writable(given) == str((tmp_path / ("real" if case == "link" else "x")).resolve())
    else:
        with pytest.raises(OSError) as raised:
            files.check_writable(given)
        assert raised.value.filename == given
    assert listing(tmp_path) == before


@pytest.mark.parametrize("argv, words", [
    (["tune", "--form", "cfdl", "--plant", "dead-time", "--out", "{dir}/nosuch/x.yaml"],
     "cannot write {dir}/nosuch/x.yaml: No such file or directory"),
    (["tune", "--form", "cfdl", "--plant", "dead-time", "--out", ""], "--out needs a file name"),
    (["tune", "--form", "cfdl", "--plant", "dead-time", "--out", "{dir}/fifo"], "cannot write {dir}/fifo: is a FIFO"),
    (["run", "--form", "cfdl", "--plant", "dead-time", "--csv", "{dir}/fifo"], "cannot write {dir}/fifo: is a FIFO"),
])
def test_commands_refuse_an_output_before_they_start(tmp_path: Path, capsys: pytest.CaptureFixture[str],
                                                     monkeypatch: pytest.MonkeyPatch, argv: list[str],
                                                     words: str) -> None:
    os.mkfifo(tmp_path / "fifo")

    def never(*args: Any, **kwargs: Any) -> None:
        raise AssertionError("the job ran before its output was checked")

    monkeypatch.setattr(importlib.import_module("vorn.tuning.tune"), "tune", never)
    monkeypatch.setattr(demo, "close_loop", never)
    assert cli.main([a.format(dir=tmp_path) for a in argv]) == 2
    err = capsys.readouterr().err
    assert err.startswith("vorn: " + words.format(dir=tmp_path)) and err.count("\n") == 1
    assert stat.S_ISFIFO((tmp_path / "fifo").stat().st_mode) and listing(tmp_path) == ["fifo"]


@pytest.mark.parametrize("kind, error, words", [
    ("fifo", OSError, "is a FIFO"), ("directory", IsADirectoryError, "Is a directory"),
    ("missing", FileNotFoundError, "No such file"), ("large", ValueError, "larger than 64 bytes"),
    ("latin-1", UnicodeDecodeError, "utf-8"),
])
def test_read_text_refuses_what_is_not_a_small_regular_text_file_without_blocking(tmp_path: Path, kind: str,
                                                                                   error: type, words: str) -> None:
    path = tmp_path / "t.vorn"
    if kind == "fifo":
        os.mkfifo(path)  # no writer: an ordinary open would wait for one
    elif kind == "directory":
        path.mkdir()
    elif kind == "large":
        path.write_text("x" * 65)
    elif kind == "latin-1":
        path.write_bytes(b"form: caf\xe9\n")
    with pytest.raises(error, match=words) as caught:
        files.read_text(path, limit=64)
    assert isinstance(caught.value, UnicodeDecodeError) or str(path) in str(caught.value)
    (tmp_path / "ok").write_text("x" * 64)
    assert files.read_text(tmp_path / "ok", limit=64) == "x" * 64

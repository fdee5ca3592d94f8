"""files.py: the one way vorn writes a file (completely or not at all), and how it reads a small
text file back without blocking on what is not a regular file.

Every file the package writes (tuned configurations, exported C, CSV tables, figures) goes
through this module. The new content goes to a temporary file in the target's directory, is
flushed to the disk, and is renamed over the target, so that a reader sees the old file or
the complete new one, never half of one, whatever stops the write (an error, Ctrl-C, kill -9).

    write_file(path, data, check=None) -> str      one file (str is written as UTF-8)
    write_files([(path, data), ...], check=None)   several: all complete before any is renamed
    replacing(path, newline=None)                  a text stream; the file is replaced on exit
    check_writable(path) -> str                    what a write would refuse, refused now
    read_text(path, limit=READ_LIMIT) -> str       a regular file's UTF-8 text, at most limit bytes

Each returns the path of the file it wrote (or would write): `path` with symbolic links
followed. The rules:

- A symbolic link is written through, as `open()` writes through it: the file it points to
  is replaced and the link is kept (a dangling link creates its target).
- A target that exists and is not a regular file (a directory, FIFO, socket or device) is
  refused: renaming over it would put a regular file in its place.
- A file `open(path, "w")` would refuse (permissions, a read-only file system) is refused
  with the same PermissionError or OSError.
- The replaced file keeps its permission bits (a 0600 file stays 0600) and, where the process
  may set them, its owner and group; a new file gets the mode `open()` would give it (0666
  less the umask).
- A file with several hard links is replaced at the path written; its other links keep the
  old content (as with any rename).
- On any failure the old file is untouched and the temporary file removed. Errors are the
  operating system's (or a ValueError from `check`) and name the path the caller gave, never
  the temporary file.
"""

from __future__ import annotations

import errno
import os
import secrets
import stat
from contextlib import contextmanager
from dataclasses import dataclass
from typing import Callable, Iterator, Sequence, TextIO

__all__ = ["write_file", "write_files", "replacing", "check_writable", "read_text", "READ_LIMIT"]

Path = str | os.PathLike[str]
Check = Callable[[str], None]  # given the complete temporary file; raises to abandon the write

_O_CLOEXEC = getattr(os, "O_CLOEXEC", 0)
_O_NONBLOCK = getattr(os, "O_NONBLOCK", 0)  # a FIFO swapped in after the check must not block
_O_NOCTTY = getattr(os, "O_NOCTTY", 0)
READ_LIMIT = 1 << 20  # a configuration or tuning file is far smaller
_KINDS = ((stat.S_ISFIFO, "a FIFO"), (stat.S_ISSOCK, "a socket"),
          (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device"))


def _temporary_name() -> str:
    # Short whatever the target's name, so that a name near the file system's limit still works.
    return f".vorn-{secrets.token_hex(6)}.tmp"


def _naming(error: OSError, path: str) -> OSError:
    """The same error, naming `path` (the caller's) instead of whatever file it named."""
    if error.errno is None:
        return error
    renamed = OSError(error.errno, error.strerror, path)
    renamed.__traceback__ = error.__traceback__
    return renamed


def _not_regular(mode: int, path: str) -> OSError:
    if stat.S_ISDIR(mode):  # what open() says of one
        return IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    kind = next((name for test, name in _KINDS if test(mode)), "not a regular file")
    return OSError(errno.EINVAL, f"is {kind}, not a regular file: only regular files are replaced", path)


def _open_regular(real: str, given: str, flags: int) -> tuple[int, os.stat_result]:
    """A descriptor of the regular file `real`, opened without waiting on a FIFO, and its
    status; what is not a regular file is refused, and errors name `given`."""
    try:
        fd = os.open(real, flags | _O_NONBLOCK | _O_NOCTTY | _O_CLOEXEC)
    except OSError as error:
        raise _naming(error, given) from None
    try:
        info = os.fstat(fd)
    except OSError as error:
        os.close(fd)
        raise _naming(error, given) from None
    if not stat.S_ISREG(info.st_mode):
        os.close(fd)
        raise _not_regular(info.st_mode, given)
    return fd, info


@dataclass(frozen=True)
class _Target:
    given: str                    # the path as the caller gave it: what errors name
    real: str                     # the file to replace: `given` with its links followed
    mode: int | None              # permission bits to keep; None: a new file
    owner: tuple[int, int] | None

    @property
    def directory(self) -> str:
        return os.path.dirname(self.real)


def _target(path: Path) -> _Target:
    """Where a write of `path` lands, refusing what it must not replace."""
    given = os.fspath(path)
    if not given:
        raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), given)
    if given.endswith(("/", os.sep)):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), given)
    real = os.path.realpath(given)
    try:
        found = os.stat(given)  # follows links; ELOOP for a loop
    except FileNotFoundError:
        return _Target(given, real, None, None)  # a new file, or the target of a dangling link
    except OSError as error:
        raise _naming(error, given) from None
    if not stat.S_ISREG(found.st_mode):
        raise _not_regular(found.st_mode, given)
    # Opening for writing (without truncating) asks exactly what open(path, "w") would.
    fd, info = _open_regular(real, given, os.O_WRONLY)
    os.close(fd)
    return _Target(given, real, stat.S_IMODE(info.st_mode), (info.st_uid, info.st_gid))


class _Pending:
    """One target and its temporary file, open for writing until `finish`."""

    def __init__(self, target: _Target):
        self.target = target
        self.temporary = os.path.join(target.directory, _temporary_name())
        mode = 0o666 if target.mode is None else 0o600  # the old mode is set before the rename
        self.fd = os.open(self.temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | _O_CLOEXEC, mode)

    def write(self, data: bytes) -> None:
        view = memoryview(data)
        while view:
            view = view[os.write(self.fd, view):]

    def finish(self, check: Check | None) -> None:
        """Makes the temporary file durable, with the old file's mode; runs `check` on it."""
        fd, self.fd = self.fd, -1
        try:
            os.fsync(fd)
            if self.target.owner is not None and hasattr(os, "fchown"):
                try:  # only a privileged process can give a file away; the mode matters more
                    os.fchown(fd, *self.target.owner)
                except OSError:
                    pass
        finally:
            os.close(fd)
        if self.target.mode is not None:
            os.chmod(self.temporary, self.target.mode)
        if check is not None:
            check(self.temporary)

    def rename(self) -> None:
        try:  # a directory or FIFO put there since the check is refused, not replaced
            mode = os.lstat(self.target.real).st_mode
        except FileNotFoundError:
            mode = stat.S_IFREG
        if not stat.S_ISREG(mode):
            raise _not_regular(mode, self.target.given)
        os.replace(self.temporary, self.target.real)
        self.temporary = ""

    def discard(self) -> None:
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1
        if self.temporary:
            try:
                os.unlink(self.temporary)
            except OSError:
                pass


def _sync_directory(directory: str) -> None:
    # The rename itself reaches the disk with the directory; not every system can sync one.
    try:
        fd = os.open(directory, os.O_RDONLY | _O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def write_files(files: Sequence[tuple[Path, str | bytes]], check: Check | None = None) -> list[str]:
    """Writes every `(path, data)` to a temporary file, and renames them into place only when
    all are complete (and `check`, if given, accepted each one). Returns the paths written."""
    targets = [_target(path) for path, _ in files]
    pending: list[_Pending] = []
    given = ""
    try:
        for target, (_, data) in zip(targets, files):
            given = target.given
            item = _Pending(target)
            pending.append(item)
            item.write(data.encode("utf-8") if isinstance(data, str) else bytes(data))
            item.finish(check)
        for item in pending:
            given = item.target.given
            item.rename()
    except OSError as error:
        raise _naming(error, given) from None
    finally:
        for item in pending:
            item.discard()
    for directory in dict.fromkeys(t.directory for t in targets):
        _sync_directory(directory)
    return [t.real for t in targets]


def write_file(path: Path, data: str | bytes, check: Check | None = None) -> str:
    """Replaces the file `path` with `data` (a str is written as UTF-8); returns the path
    written. `check(temporary)` may inspect the complete new file first and raise to abandon it."""
    return write_files([(path, data)], check)[0]


@contextmanager
def replacing(path: Path, newline: str | None = None) -> Iterator[TextIO]:
    """A UTF-8 text stream whose content replaces `path` when the block ends normally; an
    exception in the block leaves `path` as it was. For content too long to build in memory."""
    target = _target(path)
    try:
        item = _Pending(target)
    except OSError as error:
        raise _naming(error, target.given) from None
    try:
        stream = open(item.fd, "w", encoding="utf-8", newline=newline, closefd=False)
        try:
            yield stream
        finally:
            stream.close()  # flushes; the descriptor stays open for finish
        item.finish(None)
        item.rename()
    except OSError as error:
        raise _naming(error, target.given) from None
    finally:
        item.discard()
    _sync_directory(target.directory)


def check_writable(path: Path) -> str:
    """Raises now the error a write of `path` would raise (a long job can refuse its output
    before it starts); returns the path a write would replace or create. Nothing is changed."""
    target = _target(path)
    try:
        _Pending(target).discard()  # the directory exists and takes a new file
    except OSError as error:
        raise _naming(error, target.given) from None
    return target.real


def read_text(path: Path, limit: int = READ_LIMIT) -> str:
    """The UTF-8 text of the regular file `path`. A directory, FIFO, socket or device is refused
    (OSError) without waiting for a writer; a file over `limit` bytes is refused (ValueError),
    as is text that is not UTF-8 (UnicodeDecodeError). Errors name the caller's path."""
    given = os.fspath(path)
    fd, _ = _open_regular(given, given, os.O_RDONLY)
    with os.fdopen(fd, "rb") as file:
        data = file.read(limit + 1)
    if len(data) > limit:
        raise ValueError(f"{given}: larger than {limit} bytes")
    return data.decode("utf-8")

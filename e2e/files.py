"""The files a run works on: a fresh working directory per test, the report
pages of tests/fixtures, konta.txt as the program writes it, and waiting for
a database file to be written before its bytes are compared."""

import os
import shutil
import tempfile
from dataclasses import dataclass
from pathlib import Path

import display

ROOT = Path(__file__).resolve().parent.parent
FIXTURES = ROOT / "tests" / "fixtures" / "reports"


def fixture(name):
    """The bytes of a report page of tests/fixtures/reports."""
    return (FIXTURES / name).read_bytes()


class WorkDir:
    """A program's working directory, made empty for one test."""

    def __init__(self, root):
        self.root = Path(root)

    @classmethod
    def fresh(cls, prefix):
        return cls(tempfile.mkdtemp(prefix=prefix))

    def path(self, name):
        return self.root / name

    def write(self, name, data):
        self.path(name).write_bytes(data)

    def read(self, name):
        return self.path(name).read_bytes()

    def exists(self, name):
        return self.path(name).exists()

    def stamp(self, name):
        """What changes whenever the program saves the file: it replaces the
        file through a rename, so a save gives it a new inode even with equal
        bytes."""
        st = os.stat(self.path(name))
        return st.st_ino, st.st_mtime_ns

    def names(self):
        """The file names in the directory, as bytes, sorted."""
        return sorted(os.listdir(os.fsencode(self.root)))

    def read_grown(self, name, size, what, timeout=10.0):
        """The file's bytes once it exists and holds at least size bytes: a
        database is appended to, so it is compared once it is long enough."""
        display.wait_until(lambda: self.exists(name) and len(self.read(name)) >= size, what, timeout=timeout)
        return self.read(name)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


@dataclass
class Account:
    name: str
    zone: int = 0
    luck: int = 0
    kind: int = 0
    tag: int = 0


def konta(*accounts):
    """The bytes of a konta.txt holding these accounts, as the program writes it."""
    lines = [str(len(accounts))]
    for position, a in enumerate(accounts):
        lines += [str(position), str(a.tag), a.name, str(a.zone), str(a.luck), str(a.kind)]
    return b"".join(line.encode("cp1250") + b"\r\n" for line in lines)


def parse_konta(data):
    """The accounts of a konta.txt; a file of the wrong shape fails the test."""
    text = data.decode("cp1250")
    if not text.endswith("\r\n"):
        raise AssertionError(f"konta.txt does not end with CR LF: {data!r}")
    lines = text[:-2].split("\r\n")
    count = int(lines[0])
    if len(lines) != 1 + 6 * count:
        raise AssertionError(f"konta.txt has {len(lines)} lines for {count} accounts")
    accounts = []
    for i in range(count):
        _, tag, name, zone, luck, kind = lines[1 + 6 * i: 7 + 6 * i]
        accounts.append(Account(name, int(zone), int(luck), int(kind), int(tag)))
    return accounts

#!/usr/bin/env python3
"""Real-window tests of wyprawy: the Linux program (GTK 3) and the Windows
program (under Wine), each started in a fresh working directory inside the X
session that e2e/run.sh prepares (Xvfb, Polish keyboard, openbox), driven by
real keyboard and mouse input through xdotool and checked through the files it
writes and the windows it shows.

The tests are unittest test cases in e2e/test_*.py, derived from
programs.ProgramTest; each runs once for each program, first all of them on
the Linux program, then on the Windows one. A line per test (PASS or FAIL,
with its time and notes), and at the end "N passed, N failed".

    e2e/run.sh [--only linux|windows] [-k NAME_PART] [--keep]
"""

import argparse
import os
import sys
import time
import traceback
import unittest
from pathlib import Path

from programs import KINDS, PROGRAMS, SHOTS, ProgramTest

HERE = Path(__file__).resolve().parent


def describe(err):
    """A failed check as its message and the test's line; any other error
    with its whole traceback."""
    kind, value, tb = err
    while tb is not None and "__unittest" in tb.tb_frame.f_globals:  # unittest's own frames, as it skips them
        tb = tb.tb_next
    if issubclass(kind, AssertionError):
        frames = [f for f in traceback.extract_tb(tb) if Path(f.filename).name.startswith("test_")]
        where = f" [{Path(frames[-1].filename).name}:{frames[-1].lineno}]" if frames else ""
        return f"{value}{where}"
    return "".join(traceback.format_exception(kind, value, tb)).rstrip()


class Results(unittest.TestResult):
    """Prints a line per test when it has ended, set-up and tear-down
    included; on a failure also a screenshot, the program's last output and
    the working directory, which is kept."""

    def __init__(self, keep):
        super().__init__()
        self.keep = keep
        self.failed = []
        self._started = 0.0
        self._problem = None
        self._skipped = False

    def startTest(self, test):
        super().startTest(test)
        self._started = time.monotonic()
        self._problem = None
        self._skipped = False

    def _trouble(self, test, err):
        # unittest (3.11 and later) reports a failure as it happens, before
        # tearDown stops the program, so the screenshot shows what the test
        # saw. A second failure (in tearDown) keeps the first one's picture.
        if self._problem is not None:
            return
        self._problem = describe(err)
        if isinstance(test, ProgramTest) and test.app is not None:
            try:
                test.app.screenshot(f"failed-{test._testMethodName}")
            except Exception:  # noqa: BLE001 (a failed screenshot must not hide the failure)
                pass

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._trouble(test, err)

    def addError(self, test, err):
        super().addError(test, err)
        self._trouble(test, err)

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self._skipped = True
        print(f"SKIP {test}: {reason}")

    def stopTest(self, test):
        super().stopTest(test)
        elapsed = time.monotonic() - self._started
        notes = getattr(test, "notes", [])
        if self._skipped and self._problem is None:
            return
        if self._problem is None:
            print(f"PASS {test} ({elapsed:.1f} s)")
            for text in notes:
                print(f"     {text}")
            if not self.keep and isinstance(test, ProgramTest):
                test.discard()
            return
        self.failed.append(str(test))
        print(f"FAIL {test} ({elapsed:.1f} s): {self._problem}")
        for text in notes:
            print(f"     {text}")
        if isinstance(test, ProgramTest) and test.app is not None:
            log = test.app.log().strip()
            if log:
                print("     program output:\n       " + "\n       ".join(log.splitlines()[-20:]))
            print(f"     working directory kept: {test.workdir.root}")

    def counts(self):
        """(passed, failed): a test that failed more than once (in the test
        and again in its tear-down) counts once."""
        failed = len(self.failed)
        return self.testsRun - failed - len(self.skipped), failed


class Loader(unittest.TestLoader):
    """Test methods in the order the file defines them (the standard loader
    sorts them by name), so that a file reads in the order it runs."""

    def getTestCaseNames(self, testCaseClass):  # noqa: N802 (the library's name)
        position = {}
        for cls in reversed(testCaseClass.__mro__):
            for name in vars(cls):
                position.setdefault(name, len(position))
        return sorted(super().getTestCaseNames(testCaseClass), key=position.__getitem__)


def all_tests(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from all_tests(item)
        else:
            yield item


def suite_for(kind, tests, pattern, first):
    """The tests of one program: each ProgramTest method made anew for the
    kind; anything else (a file that failed to load) only with the first."""
    suite = unittest.TestSuite()
    for test in tests:
        if isinstance(test, ProgramTest):
            method = test._testMethodName
            if test.runs_on(kind) and (not pattern or pattern in method):
                suite.addTest(type(test)(method, kind))
        elif first:
            suite.addTest(test)
    return suite


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", choices=KINDS, help="run the tests of one program only")
    parser.add_argument("-k", dest="pattern", help="run only tests whose name contains this")
    parser.add_argument("--keep", action="store_true", help="keep working directories of passed tests")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    if not os.environ.get("DISPLAY"):
        print("e2e: no DISPLAY; run through e2e/run.sh")
        print("0 passed, 1 failed")
        return 1
    tests = list(all_tests(Loader().discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))))
    for stale in SHOTS.glob("*-failed-*.png"):
        stale.unlink()
    kinds = [args.only] if args.only else list(KINDS)
    results = Results(args.keep)
    for kind in kinds:
        print(f"--- {kind} program: {PROGRAMS[kind]}")
        suite_for(kind, tests, args.pattern, kind == kinds[0]).run(results)
    passed, failed = results.counts()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

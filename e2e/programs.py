"""Starting and stopping the programs: the Linux program, and the Windows
program under Wine through cmake/wine-run.sh; their windows once they show,
their exit codes, other executables run to their end; and ProgramTest, the
test case that gives each test one program, not yet started, in a fresh
working directory, and stops it afterwards.

A test runs once for each program ("linux", "windows") unless only() names
one; e2e/runner.py makes one instance of the test per program."""

import os
import subprocess
import unittest
from pathlib import Path

import display
from files import WorkDir
from layout import ERROR_TITLE, MAIN_TITLE, SETTINGS_TITLE, Window

ROOT = Path(__file__).resolve().parent.parent
OUT = Path(os.environ.get("WYPRAWY_E2E_OUT", ROOT / "build" / "e2e"))
SHOTS = OUT / "screenshots"
LINUX_PROGRAM = os.environ.get("WYPRAWY_LINUX_PROGRAM", str(ROOT / "build" / "linux" / "wyprawy"))
WINDOWS_PROGRAM = os.environ.get("WYPRAWY_WINDOWS_PROGRAM", str(ROOT / "build" / "windows" / "wyprawy.exe"))
GTK_UI_TEST = os.environ.get("WYPRAWY_GTK_UI_TEST", str(Path(LINUX_PROGRAM).parent / "gtk_ui_test"))
WIN32_UI_TEST = os.environ.get("WYPRAWY_WIN32_UI_TEST", str(Path(WINDOWS_PROGRAM).parent / "win32_ui_test.exe"))
WINE_RUN = os.environ.get("WYPRAWY_WINE_RUN", str(ROOT / "cmake" / "wine-run.sh"))
KINDS = ("linux", "windows")
PROGRAMS = {"linux": LINUX_PROGRAM, "windows": WINDOWS_PROGRAM}

# No run of a program may outlive this; a hung program fails its test.
PROGRAM_LIMIT_S = 90


class Program:
    """One run of the Linux or the Windows program in a working directory."""

    def __init__(self, kind, workdir):
        self.kind = kind
        self.workdir = Path(workdir)
        self.proc = None
        self.log_path = self.workdir.parent / f"{self.workdir.name}.log"
        self._log = None

    def executable(self):
        return PROGRAMS[self.kind]

    def command(self):
        if self.kind == "linux":
            return [LINUX_PROGRAM]
        return [WINE_RUN, WINDOWS_PROGRAM]

    def start(self, env=None, command=None):
        """Starts the program, or command in its place (a packaged copy); env
        adds to or replaces variables of its environment (GDK_SCALE, the Wine
        prefix)."""
        executable = command[0] if command else self.executable()
        if not Path(executable).is_file():
            raise AssertionError(f"program not built: {executable}")
        command = command or self.command()
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen(
            ["timeout", "-k", "5", str(PROGRAM_LIMIT_S), *command],
            cwd=self.workdir, stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT,
            env=dict(display.UTF8_ENV, **(env or {})), start_new_session=True)
        return self

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def pid(self):
        """The program's own process (below timeout, and below wine's start script)."""
        pid = self.proc.pid
        for _ in range(50):
            children = Path(f"/proc/{pid}/task/{pid}/children")
            kids = children.read_text().split() if children.exists() else []
            if not kids:
                return pid
            pid = int(kids[0])
        return pid

    def exit_code(self, timeout=15):
        """Waits for the program to end; its exit code."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"program still running {timeout} s after it should have ended") from None

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, 15)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, 9)
                self.proc.wait()
        if self._log is not None:
            self._log.close()
            self._log = None

    def log(self):
        try:
            return self.log_path.read_text(errors="replace")
        except OSError:
            return ""

    def window(self, title, timeout=20):
        """The program's one visible window with this title, once it shows."""

        def found():
            if not self.running():
                raise AssertionError(f"program ended (code {self.proc.returncode}) before showing {title!r}")
            return display.find_windows(title) or None

        ids = display.wait_until(found, f"window {title!r}", timeout=timeout)
        if len(ids) != 1:
            raise AssertionError(f"{len(ids)} visible windows titled {title!r}")
        return Window(ids[0], title)

    def windows(self, timeout=20):
        """(MainWindow, SettingsWindow), once both show and one of them has
        been activated: input sent before the program's own activation of
        its windows has settled can be lost."""
        main, settings = self.window(MAIN_TITLE, timeout), self.window(SETTINGS_TITLE, timeout)
        display.wait_until(self.owns_active_window, "one of the program's windows active", timeout=10)
        display.pause(0.3)
        return main, settings

    def owns_active_window(self):
        """True when the active window is one of this program's (by _NET_WM_PID)."""
        return display.active_window_pid() == self.pid()

    def screenshot(self, name):
        SHOTS.mkdir(parents=True, exist_ok=True)
        return display.screenshot(SHOTS / f"{self.kind}-{name}.png")


def run_to_end(command, cwd, output_name, env=None, timeout=120):
    """Runs an executable to its end (bounded by timeout); its exit code and
    output, which is also kept in cwd/output_name. The output goes through
    a file, not a pipe: Wine's helper processes inherit a pipe and would hold
    it open after the run."""
    out_path = Path(cwd) / output_name
    with open(out_path, "wb") as out:
        code = subprocess.run(["timeout", str(timeout), *command], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.STDOUT).returncode
    return code, out_path.read_text(errors="replace")


def cpu_seconds(pid):
    """User plus system CPU time of a process so far."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime, stime
    return ticks / os.sysconf("SC_CLK_TCK")


def leftover_windows():
    """Titles of the program's windows that still show."""
    return [t for t in (MAIN_TITLE, SETTINGS_TITLE, ERROR_TITLE) if display.find_windows(t)]


def only(*kinds):
    """Limits a test method (or a whole test class) to these programs."""

    def mark(test):
        test.programs = kinds
        return test

    return mark


class ProgramTest(unittest.TestCase):
    """A test of one program: self.kind is "linux" or "windows", self.app the
    program (not yet started) and self.workdir its fresh working directory.
    After the test the program is stopped, and its windows must go before the
    next test starts."""

    programs = KINDS
    maxDiff = None

    def __init__(self, methodName="runTest", kind="linux"):
        super().__init__(methodName)
        self.kind = kind
        self.notes = []
        self.workdir = None
        self.app = None

    @property
    def name(self):
        return f"{self.kind}:{self._testMethodName}"

    def __str__(self):
        return self.name

    def runs_on(self, kind):
        return kind in getattr(getattr(self, self._testMethodName), "programs", self.programs)

    def setUp(self):
        self.workdir = WorkDir.fresh(prefix=f"wyprawy-{self.kind}-{self._testMethodName}-")
        self.app = Program(self.kind, self.workdir.root)

    def tearDown(self):
        self.app.stop()
        display.wait_until(lambda: not leftover_windows(), "the program's windows to go", timeout=10)

    def note(self, text):
        """A measured figure worth reporting; printed with the test's result."""
        self.notes.append(text)

    def discard(self):
        """Removes what a passed test leaves: its working directory and log."""
        if self.workdir is not None:
            self.workdir.remove()
        if self.app is not None:
            self.app.log_path.unlink(missing_ok=True)

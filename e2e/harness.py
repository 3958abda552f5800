#!/usr/bin/env python3
"""Real-window tests of wyprawy: the Linux program (GTK 3) and the Windows
program (under Wine), each started in a fresh working directory inside the X
session that e2e/run.sh prepares (Xvfb, Polish keyboard, openbox), driven by
real keyboard and mouse input through xdotool and checked through the files it
writes and the windows it shows.

A test is a function in e2e/test_*.py, decorated with @test, that takes one
Program (not yet started) and runs once for each program kind:

    from harness import *

    @test
    def test_adds_an_account(app):
        app.start()
        main, settings = app.windows()
        settings.click(NewAccountField)
        type_text("Anna")
        settings.click(AddButton)
        wait_until(lambda: app.exists("konta.txt"), "konta.txt written")
        main.close_with_alt_f4()
        check_equal(app.exit_code(), 0, "exit code")
        check_equal(parse_konta(app.read("konta.txt"))[0].name, "Anna", "account name")

Only the standard library is used.
"""

import argparse
import http.server
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
OUT = Path(os.environ.get("WYPRAWY_E2E_OUT", ROOT / "build" / "e2e"))
SHOTS = OUT / "screenshots"
LINUX_PROGRAM = os.environ.get("WYPRAWY_LINUX_PROGRAM", str(ROOT / "build" / "linux" / "wyprawy"))
WINDOWS_PROGRAM = os.environ.get("WYPRAWY_WINDOWS_PROGRAM", str(ROOT / "build" / "windows" / "wyprawy.exe"))
GTK_UI_TEST = os.environ.get("WYPRAWY_GTK_UI_TEST", str(Path(LINUX_PROGRAM).parent / "gtk_ui_test"))
WIN32_UI_TEST = os.environ.get("WYPRAWY_WIN32_UI_TEST", str(Path(WINDOWS_PROGRAM).parent / "win32_ui_test.exe"))
WINE_RUN = os.environ.get("WYPRAWY_WINE_RUN", str(ROOT / "cmake" / "wine-run.sh"))
KINDS = ("linux", "windows")

# No run of a program may outlive this; a hung program fails its test.
PROGRAM_LIMIT_S = 90

# ---------------------------------------------------------------------------
# What the program must show: titles, client sizes and control rectangles,
# written down here on their own so that a wrong table in the program is
# caught, not copied.
# ---------------------------------------------------------------------------

MAIN_TITLE = "Dodaj wyprawę"
SETTINGS_TITLE = "Ustawienia"
ERROR_TITLE = "Błąd!"

MainWindow, SettingsWindow = 0, 1
WINDOW_TITLES = {MainWindow: MAIN_TITLE, SettingsWindow: SETTINGS_TITLE}
CLIENT_SIZES = {MainWindow: (200, 300), SettingsWindow: (200, 270)}
SETTINGS_OUTER_ORIGIN = (551, 364)


@dataclass(frozen=True)
class Rect:
    x: int
    y: int
    w: int
    h: int

    def centre(self):
        return self.x + self.w // 2, self.y + self.h // 2


@dataclass(frozen=True)
class ControlSpec:
    number: int
    name: str
    window: int
    rect: Rect


_CONTROL_ROWS = [
    (0, "AccountLabel", 0, 10, 10, 50, 20),
    (1, "AccountCombo", 0, 70, 10, 120, 20),
    (2, "ZoneLabel", 0, 10, 40, 80, 20),
    (3, "LuckLabel", 0, 10, 60, 80, 20),
    (4, "KindLabel", 0, 10, 80, 80, 20),
    (5, "ZoneCombo", 0, 100, 40, 90, 20),
    (6, "LuckField", 0, 100, 60, 90, 20),
    (7, "KindCombo", 0, 100, 80, 90, 20),
    (8, "LinkLabel", 0, 10, 110, 170, 20),
    (9, "LinkField", 0, 10, 130, 180, 20),
    (10, "ResultCaptionLabel", 0, 10, 190, 110, 20),
    (11, "ResultLabel", 0, 10, 210, 180, 40),
    (12, "CheckButton", 0, 20, 160, 150, 20),
    (13, "AppendButton", 0, 10, 260, 180, 30),
    (14, "AccountListLabel", 1, 10, 10, 140, 20),
    (15, "AccountList", 1, 10, 30, 180, 100),
    (16, "DeleteButton", 1, 20, 140, 160, 20),
    (17, "NewAccountLabel", 1, 10, 180, 140, 20),
    (18, "NewAccountField", 1, 10, 200, 180, 20),
    (19, "AddButton", 1, 40, 230, 120, 30),
]
CONTROLS = {n: ControlSpec(n, name, win, Rect(x, y, w, h)) for n, name, win, x, y, w, h in _CONTROL_ROWS}
for _spec in CONTROLS.values():
    globals()[_spec.name] = _spec.number  # AccountCombo == 1, ...

# ---------------------------------------------------------------------------
# Failures and waiting
# ---------------------------------------------------------------------------


class TestFailure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise TestFailure(f"{what}: expected {expected!r}, got {actual!r}")


def wait_until(predicate, what, timeout=10.0, interval=0.05):
    """Polls predicate until it gives a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TestFailure(f"timed out after {timeout:.0f} s waiting for: {what}")
        time.sleep(interval)


_notes = []


def note(text):
    """A measured figure worth reporting; printed with the test's result."""
    _notes.append(text)


# ---------------------------------------------------------------------------
# The X session: windows, geometry, keyboard and mouse
# ---------------------------------------------------------------------------

_UTF8_ENV = dict(os.environ, LC_ALL="C.UTF-8")


def run(args, timeout=15, check_status=True):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=_UTF8_ENV)
    if check_status and result.returncode != 0:
        raise TestFailure(f"{' '.join(map(str, args))} failed ({result.returncode}): {result.stderr.strip()}")
    return result.stdout


def _title_pattern(title):
    special = set(".^$*+?()[]{}|\\")
    return "^" + "".join("\\" + c if c in special else c for c in title) + "$"


def find_windows(title):
    """Ids of the visible X windows with exactly this title."""
    out = run(["xdotool", "search", "--onlyvisible", "--name", _title_pattern(title)], check_status=False)
    return [int(line) for line in out.split()]


def screen_size():
    info = _xwininfo("-root")
    return info["Width"], info["Height"]


def _xwininfo(*args):
    out = run(["xwininfo", *args])
    values = {}
    for line in out.splitlines():
        key, sep, value = line.strip().partition(":")
        if sep and value.strip().lstrip("-").isdigit():
            values[key.strip()] = int(value.strip())
        elif key.startswith("Map State"):
            values["Map State"] = value.strip()
    return values


def active_window():
    out = run(["xdotool", "getactivewindow"], check_status=False).strip()
    return int(out) if out.isdigit() else None


def keys(*names, delay_ms=40):
    """Key presses (xdotool key names: Tab, shift+Tab, Down, Return, alt+F4)
    sent to whatever has the keyboard focus, as a user's keyboard would."""
    run(["xdotool", "key", "--delay", str(delay_ms), *names])


def type_text(text, delay_ms=30):
    run(["xdotool", "type", "--delay", str(delay_ms), text])


def pointer():
    out = run(["xdotool", "getmouselocation", "--shell"])
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"])


def click_at(x, y, button=1):
    # "mousemove --sync" waits for the pointer to leave where it was, so it
    # never returns when the pointer is there already.
    if pointer() != (x, y):
        run(["xdotool", "mousemove", "--sync", str(x), str(y)])
    run(["xdotool", "click", str(button)])


def pause(seconds=0.3):
    """Time for the program to take input that has no visible result to wait for."""
    time.sleep(seconds)


class Window:
    def __init__(self, wid, title):
        self.id = wid
        self.title = title

    def __repr__(self):
        return f"Window({self.title!r}, 0x{self.id:x})"

    def client(self):
        """The client area on the screen: its origin and size."""
        info = _xwininfo("-id", str(self.id))
        return Rect(info["Absolute upper-left X"], info["Absolute upper-left Y"], info["Width"], info["Height"])

    def frame_extents(self):
        """(left, right, top, bottom): the window manager's frame around the client area."""
        out = run(["xprop", "-id", str(self.id), "_NET_FRAME_EXTENTS"], check_status=False)
        if "=" not in out:
            return (0, 0, 0, 0)
        return tuple(int(v) for v in out.split("=", 1)[1].split(","))

    def outer(self):
        c = self.client()
        left, right, top, bottom = self.frame_extents()
        return Rect(c.x - left, c.y - top, c.w + left + right, c.h + top + bottom)

    def visible(self):
        try:
            return _xwininfo("-id", str(self.id)).get("Map State") == "IsViewable"
        except TestFailure:
            return False

    def transient_for(self):
        out = run(["xprop", "-id", str(self.id), "WM_TRANSIENT_FOR"], check_status=False)
        if "window id #" not in out:
            return None
        return int(out.rsplit("#", 1)[1].strip(), 16)

    def activate(self):
        run(["xdotool", "windowactivate", "--sync", str(self.id)], check_status=False)
        wait_until(lambda: active_window() == self.id, f"{self} active", timeout=5)

    def raise_to_front(self):
        """Brings the window to the front, as a user does before clicking into
        a window that another one covers. A window that a message box has
        disabled may refuse; the click then goes where it goes."""
        if active_window() == self.id:
            return
        run(["xdotool", "windowactivate", str(self.id)], check_status=False)
        try:
            wait_until(lambda: active_window() == self.id, f"{self} active", timeout=1.5)
        except TestFailure:
            pass

    def click(self, control, button=1, raise_first=True):
        """Clicks the centre of a control's rectangle (a number or a name),
        with the window brought to the front first unless told not to."""
        layout = CONTROLS[control] if isinstance(control, int) else CONTROLS[globals()[control]]
        x, y = layout.rect.centre()
        self.click_client(x, y, button, raise_first)

    def click_client(self, x, y, button=1, raise_first=True):
        if raise_first:
            self.raise_to_front()
        c = self.client()
        click_at(c.x + x, c.y + y, button)

    def resize(self, width, height):
        """Asks the window manager for a new client size, as dragging the
        sizing border would."""
        run(["xdotool", "windowsize", "--sync", str(self.id), str(width), str(height)], check_status=False)

    def move(self, x, y):
        """Asks the window manager to move the window's frame."""
        run(["xdotool", "windowmove", "--sync", str(self.id), str(x), str(y)], check_status=False)

    def grab(self, control):
        """The pixels that a control's rectangle shows on the screen now, as
        raw RGB bytes: equal bytes mean an unchanged picture."""
        layout = CONTROLS[control] if isinstance(control, int) else CONTROLS[globals()[control]]
        c = self.client()
        r = layout.rect
        geometry = f"{r.w}x{r.h}+{c.x + r.x}+{c.y + r.y}"
        result = subprocess.run(["import", "-window", "root", "-crop", geometry, "-depth", "8", "rgb:-"],
                                capture_output=True, timeout=30, env=_UTF8_ENV)
        check(result.returncode == 0 and len(result.stdout) == r.w * r.h * 3, f"screen grab {geometry} failed")
        return result.stdout

    def close(self):
        """The window manager's close request (as the close box sends it)."""
        run(["wmctrl", "-i", "-c", hex(self.id)])

    def close_with_alt_f4(self):
        self.activate()
        keys("alt+F4")


# ---------------------------------------------------------------------------
# Programs
# ---------------------------------------------------------------------------


class Program:
    """One run of the Linux or the Windows program in its own working directory."""

    def __init__(self, kind, workdir, test_name):
        self.kind = kind
        self.workdir = Path(workdir)
        self.test_name = test_name
        self.proc = None
        self.log_path = self.workdir.parent / f"{self.workdir.name}.log"
        self._log = None

    # Files of the working directory -----------------------------------------
    def path(self, name):
        return self.workdir / name

    def write(self, name, data):
        self.path(name).write_bytes(data)

    def read(self, name):
        return self.path(name).read_bytes()

    def exists(self, name):
        return self.path(name).exists()

    # Process -----------------------------------------------------------------
    def command(self):
        if self.kind == "linux":
            return [LINUX_PROGRAM]
        return [WINE_RUN, WINDOWS_PROGRAM]

    def executable(self):
        return LINUX_PROGRAM if self.kind == "linux" else WINDOWS_PROGRAM

    def start(self, env=None):
        """Starts the program; `env` adds variables to its environment."""
        check(Path(self.executable()).is_file(), f"program not built: {self.executable()}")
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen(
            ["timeout", "-k", "5", str(PROGRAM_LIMIT_S), *self.command()],
            cwd=self.workdir, stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT,
            env=dict(_UTF8_ENV, **(env or {})), start_new_session=True)
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
            raise TestFailure(f"program still running {timeout} s after it should have ended") from None

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

    # Windows -----------------------------------------------------------------
    def window(self, title, timeout=20):
        """The program's one visible window with this title, once it shows."""

        def found():
            check(self.running(), f"program ended (code {self.proc.returncode}) before showing {title!r}")
            ids = find_windows(title)
            return ids if ids else None

        ids = wait_until(found, f"window {title!r}", timeout=timeout)
        check(len(ids) == 1, f"{len(ids)} visible windows titled {title!r}")
        return Window(ids[0], title)

    def windows(self, timeout=20):
        """(MainWindow, SettingsWindow), once both show and one of them has
        been activated: input sent before the program's own activation of
        its windows has settled can be lost."""
        main, settings = self.window(MAIN_TITLE, timeout), self.window(SETTINGS_TITLE, timeout)
        wait_until(lambda: self.owns_active_window(), "one of the program's windows active", timeout=10)
        pause(0.3)
        return main, settings

    def owns_active_window(self):
        """True when the active window is one of this program's (by _NET_WM_PID)."""
        out = run(["xdotool", "getactivewindow", "getwindowpid"], check_status=False).strip()
        return out.isdigit() and int(out) == self.pid()

    def screenshot(self, name):
        SHOTS.mkdir(parents=True, exist_ok=True)
        target = SHOTS / f"{self.kind}-{name}.png"
        run(["import", "-window", "root", str(target)], timeout=30)
        return target


# ---------------------------------------------------------------------------
# konta.txt
# ---------------------------------------------------------------------------


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
    text = data.decode("cp1250")
    check(text.endswith("\r\n"), "konta.txt ends with CR LF")
    lines = text[:-2].split("\r\n")
    count = int(lines[0])
    check(len(lines) == 1 + 6 * count, f"konta.txt has {len(lines)} lines for {count} accounts")
    accounts = []
    for i in range(count):
        _, tag, name, zone, luck, kind = lines[1 + 6 * i: 7 + 6 * i]
        accounts.append(Account(name, int(zone), int(luck), int(kind), int(tag)))
    return accounts


# ---------------------------------------------------------------------------
# A loopback web server for the report pages
# ---------------------------------------------------------------------------


@dataclass(frozen=True)
class Delayed:
    seconds: float
    body: bytes


class LoopbackServer:
    """Serves fixed pages over HTTP/1.1 on 127.0.0.1, at a port the system
    picks, and records the path of every request. Unknown paths get 404. A
    page given as Delayed(seconds, body) is answered only after that pause.
    With an ssl.SSLContext as tls, it serves https, and url() names the host
    "localhost" (the name in the test certificates).

        with LoopbackServer({"/r": page_bytes}) as server:
            type_text(server.url("/r"))
            ...
            wait_until(lambda: server.requests == ["/r"], "the page fetched")
    """

    def __init__(self, pages, tls=None):
        self.pages = dict(pages)
        self.requests = []
        self.tls = tls
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):  # noqa: N802 (the library's name)
                owner.requests.append(self.path)
                body = owner.pages.get(self.path)
                if isinstance(body, Delayed):
                    time.sleep(body.seconds)
                    body = body.body
                status = 200 if body is not None else 404
                body = body if body is not None else b"not found"
                self.send_response(status)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

            def handle(self):
                try:
                    super().handle()
                except OSError:
                    pass  # a client that refused the certificate

        class Server(http.server.ThreadingHTTPServer):
            def finish_request(self, request, client_address):
                # The handshake in the request's own thread, not in accept.
                if owner.tls is not None:
                    try:
                        request = owner.tls.wrap_socket(request, server_side=True)
                    except OSError:
                        return
                super().finish_request(request, client_address)

        self.server = Server(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def url(self, path):
        if self.tls is not None:
            return f"https://localhost:{self.server.server_address[1]}{path}"
        return f"http://127.0.0.1:{self.server.server_address[1]}{path}"

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


# ---------------------------------------------------------------------------
# Measuring
# ---------------------------------------------------------------------------


def cpu_seconds(pid):
    """User plus system CPU time of a process so far."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime, stime
    return ticks / os.sysconf("SC_CLK_TCK")


# ---------------------------------------------------------------------------
# Registry and runner
# ---------------------------------------------------------------------------

TESTS = []


def test(fn=None, *, only=None):
    """Registers a test; only="linux" or "windows" limits it to one program."""

    def register(f):
        TESTS.append((f, only))
        return f

    return register(fn) if fn is not None else register


def _load_tests():
    for path in sorted(HERE.glob("test_*.py")):
        module_spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)


def _leftover_windows():
    return [t for t in (MAIN_TITLE, SETTINGS_TITLE, ERROR_TITLE) if find_windows(t)]


def _run_one(fn, kind, keep):
    name = f"{kind}:{fn.__name__}"
    workdir = Path(tempfile.mkdtemp(prefix=f"wyprawy-{kind}-{fn.__name__}-"))
    app = Program(kind, workdir, fn.__name__)
    _notes.clear()
    started = time.monotonic()
    error = None
    try:
        fn(app)
    except Exception as e:  # noqa: BLE001 (any error fails the test, and the run goes on)
        error = e
        try:
            app.screenshot(f"failed-{fn.__name__}")
        except Exception:  # noqa: BLE001
            pass
    finally:
        app.stop()
    # The next test must not find this program's windows.
    try:
        wait_until(lambda: not _leftover_windows(), "the program's windows to go", timeout=10)
    except TestFailure as e:
        error = error or e
    elapsed = time.monotonic() - started
    if error is None:
        print(f"PASS {name} ({elapsed:.1f} s)")
        for text in _notes:
            print(f"     {text}")
        if not keep:
            shutil.rmtree(workdir, ignore_errors=True)
            app.log_path.unlink(missing_ok=True)
        return True
    print(f"FAIL {name} ({elapsed:.1f} s): {error}")
    if not isinstance(error, TestFailure):
        traceback.print_exception(error)
    for text in _notes:
        print(f"     {text}")
    log = app.log().strip()
    if log:
        print("     program output:\n       " + "\n       ".join(log.splitlines()[-20:]))
    print(f"     working directory kept: {workdir}")
    return False


def main():
    sys.modules.setdefault("harness", sys.modules[__name__])
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", choices=KINDS, help="run the tests of one program only")
    parser.add_argument("-k", dest="pattern", help="run only tests whose name contains this")
    parser.add_argument("--keep", action="store_true", help="keep working directories of passed tests")
    args = parser.parse_args()
    check_env = os.environ.get("DISPLAY")
    if not check_env:
        print("e2e: no DISPLAY; run through e2e/run.sh")
        print("0 passed, 1 failed")
        return 1
    _load_tests()
    for stale in SHOTS.glob("*-failed-*.png"):
        stale.unlink()
    kinds = [args.only] if args.only else list(KINDS)
    passed = failed = 0
    for kind in kinds:
        executable = LINUX_PROGRAM if kind == "linux" else WINDOWS_PROGRAM
        print(f"--- {kind} program: {executable}")
        for fn, only in TESTS:
            if only and only != kind:
                continue
            if args.pattern and args.pattern not in fn.__name__:
                continue
            if _run_one(fn, kind, args.keep):
                passed += 1
            else:
                failed += 1
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

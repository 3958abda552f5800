"""The X session as a user meets it: which windows show and which one is
active, the keyboard and the mouse (through xdotool), and what the screen
shows (screenshots and raw pixels). Knows nothing of the program or of its
layout; e2e/run.sh starts the X server, the window manager and the Polish
keyboard layout that all of this relies on."""

import os
import subprocess
import time

UTF8_ENV = dict(os.environ, LC_ALL="C.UTF-8")


class CommandFailed(Exception):
    """An X tool ended with a non-zero status."""


class WaitTimeout(AssertionError):
    """What a test waited for did not happen in time: a failure of the test."""


def run(args, timeout=15, check_status=True):
    """Runs an X tool in the UTF-8 locale; its standard output."""
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=UTF8_ENV)
    if check_status and result.returncode != 0:
        raise CommandFailed(f"{' '.join(map(str, args))} failed ({result.returncode}): {result.stderr.strip()}")
    return result.stdout


def wait_until(predicate, what, timeout=10.0, interval=0.05):
    """Polls predicate until it gives a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise WaitTimeout(f"timed out after {timeout:.0f} s waiting for: {what}")
        time.sleep(interval)


def pause(seconds=0.3):
    """Time for the program to take input that has no visible result to wait for."""
    time.sleep(seconds)


# Windows of the X server -----------------------------------------------------


def xwininfo(*args):
    """The numeric fields (and the map state) that xwininfo prints."""
    values = {}
    for line in run(["xwininfo", *args]).splitlines():
        key, sep, value = line.strip().partition(":")
        if sep and value.strip().lstrip("-").isdigit():
            values[key.strip()] = int(value.strip())
        elif key.startswith("Map State"):
            values["Map State"] = value.strip()
    return values


def _title_pattern(title):
    special = set(".^$*+?()[]{}|\\")
    return "^" + "".join("\\" + c if c in special else c for c in title) + "$"


def find_windows(title):
    """Ids of the visible X windows with exactly this title."""
    out = run(["xdotool", "search", "--onlyvisible", "--name", _title_pattern(title)], check_status=False)
    return [int(line) for line in out.split()]


def top_windows():
    """The visible windows directly below the root, unnamed ones included:
    an open drop-down list is one of them (an override-redirect window)."""
    out = run(["xdotool", "search", "--onlyvisible", "--maxdepth", "1", "--name", ""], check_status=False)
    return {int(w) for w in out.split()}


def screen_size():
    info = xwininfo("-root")
    return info["Width"], info["Height"]


def active_window():
    out = run(["xdotool", "getactivewindow"], check_status=False).strip()
    return int(out) if out.isdigit() else None


def active_window_pid():
    """The process that owns the active window (its _NET_WM_PID), or None."""
    out = run(["xdotool", "getactivewindow", "getwindowpid"], check_status=False).strip()
    return int(out) if out.isdigit() else None


# Keyboard and mouse ------------------------------------------------------------


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
    """A click at a point of the screen."""
    # "mousemove --sync" waits for the pointer to leave where it was, so it
    # never returns when the pointer is there already.
    if pointer() != (x, y):
        run(["xdotool", "mousemove", "--sync", str(x), str(y)])
    run(["xdotool", "click", str(button)])


# What the screen shows -------------------------------------------------------


def screenshot(target, crop=None):
    """The screen, or the part crop = (x, y, w, h) of it, into a PNG file."""
    args = ["import", "-window", "root"]
    if crop is not None:
        x, y, w, h = crop
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    run([*args, str(target)], timeout=30)
    return target


def grab(x, y, w, h):
    """The pixels of a part of the screen as raw RGB bytes: equal bytes mean
    an unchanged picture."""
    geometry = f"{w}x{h}+{x}+{y}"
    result = subprocess.run(["import", "-window", "root", "-crop", geometry, "-depth", "8", "rgb:-"],
                            capture_output=True, timeout=30, env=UTF8_ENV)
    if result.returncode != 0 or len(result.stdout) != w * h * 3:
        raise CommandFailed(f"screen grab {geometry} failed ({result.returncode})")
    return result.stdout


class Window:
    """A top-level X window, handled as a user and the window manager
    handle it: activated, closed, moved and resized. Where things are inside
    it is the business of layout.Window."""

    def __init__(self, wid, title):
        self.id = wid
        self.title = title

    def __repr__(self):
        return f"Window({self.title!r}, 0x{self.id:x})"

    def visible(self):
        try:
            return xwininfo("-id", str(self.id)).get("Map State") == "IsViewable"
        except CommandFailed:
            return False

    def transient_for(self):
        """The window this one belongs to (WM_TRANSIENT_FOR), or None."""
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
        except WaitTimeout:
            pass

    def resize(self, width, height):
        """Asks the window manager for a new client size, as dragging the
        sizing border would."""
        run(["xdotool", "windowsize", "--sync", str(self.id), str(width), str(height)], check_status=False)

    def move(self, x, y):
        """Asks the window manager to move the window's frame."""
        run(["xdotool", "windowmove", "--sync", str(self.id), str(x), str(y)], check_status=False)

    def close(self):
        """The window manager's close request (as the close box sends it)."""
        run(["wmctrl", "-i", "-c", hex(self.id)])

    def close_with_alt_f4(self):
        self.activate()
        keys("alt+F4")

"""Where the program's windows and controls must be: titles, client sizes
and control rectangles at 96 DPI (and at a scale), and where a window's
client area lies on the screen (through xwininfo), so that a control is
clicked at its place. The table is written down here on its own, so that a
wrong table in the program is caught, not copied."""

from dataclasses import dataclass

import display

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

    def centre(self, scale=1):
        """The middle of the rectangle, on a screen scaled by scale."""
        return int((self.x + self.w / 2) * scale), int((self.y + self.h / 2) * scale)

    def contains(self, x, y):
        return self.x <= x < self.x + self.w and self.y <= y < self.y + self.h


@dataclass(frozen=True)
class Control:
    window: int
    rect: Rect


# The control numbers.
AccountLabel = 0
AccountCombo = 1
ZoneLabel = 2
LuckLabel = 3
KindLabel = 4
ZoneCombo = 5
LuckField = 6
KindCombo = 7
LinkLabel = 8
LinkField = 9
ResultCaptionLabel = 10
ResultLabel = 11
CheckButton = 12
AppendButton = 13
AccountListLabel = 14
AccountList = 15
DeleteButton = 16
NewAccountLabel = 17
NewAccountField = 18
AddButton = 19

CONTROLS = {
    AccountLabel: Control(MainWindow, Rect(10, 10, 50, 20)),
    AccountCombo: Control(MainWindow, Rect(70, 10, 120, 20)),
    ZoneLabel: Control(MainWindow, Rect(10, 40, 80, 20)),
    LuckLabel: Control(MainWindow, Rect(10, 60, 80, 20)),
    KindLabel: Control(MainWindow, Rect(10, 80, 80, 20)),
    ZoneCombo: Control(MainWindow, Rect(100, 40, 90, 20)),
    LuckField: Control(MainWindow, Rect(100, 60, 90, 20)),
    KindCombo: Control(MainWindow, Rect(100, 80, 90, 20)),
    LinkLabel: Control(MainWindow, Rect(10, 110, 170, 20)),
    LinkField: Control(MainWindow, Rect(10, 130, 180, 20)),
    ResultCaptionLabel: Control(MainWindow, Rect(10, 190, 110, 20)),
    ResultLabel: Control(MainWindow, Rect(10, 210, 180, 40)),
    CheckButton: Control(MainWindow, Rect(20, 160, 150, 20)),
    AppendButton: Control(MainWindow, Rect(10, 260, 180, 30)),
    AccountListLabel: Control(SettingsWindow, Rect(10, 10, 140, 20)),
    AccountList: Control(SettingsWindow, Rect(10, 30, 180, 100)),
    DeleteButton: Control(SettingsWindow, Rect(20, 140, 160, 20)),
    NewAccountLabel: Control(SettingsWindow, Rect(10, 180, 140, 20)),
    NewAccountField: Control(SettingsWindow, Rect(10, 200, 180, 20)),
    AddButton: Control(SettingsWindow, Rect(40, 230, 120, 30)),
}


class Window(display.Window):
    """One of the program's windows, with its place on the screen."""

    def client(self):
        """The client area on the screen: its origin and size."""
        info = display.xwininfo("-id", str(self.id))
        return Rect(info["Absolute upper-left X"], info["Absolute upper-left Y"], info["Width"], info["Height"])

    def frame_extents(self):
        """(left, right, top, bottom): the window manager's frame around the client area."""
        out = display.run(["xprop", "-id", str(self.id), "_NET_FRAME_EXTENTS"], check_status=False)
        if "=" not in out:
            return (0, 0, 0, 0)
        return tuple(int(v) for v in out.split("=", 1)[1].split(","))

    def outer(self):
        """The window with its frame, on the screen."""
        c = self.client()
        left, right, top, bottom = self.frame_extents()
        return Rect(c.x - left, c.y - top, c.w + left + right, c.h + top + bottom)

    def click(self, control, button=1, raise_first=True, scale=1):
        """Clicks the centre of a control's rectangle, at its place scaled by
        scale, with the window brought to the front first unless told not to."""
        self.click_client(*CONTROLS[control].rect.centre(scale), button, raise_first)

    def click_client(self, x, y, button=1, raise_first=True):
        """Clicks a point of the client area."""
        if raise_first:
            self.raise_to_front()
        c = self.client()
        display.click_at(c.x + x, c.y + y, button)

    def grab(self, control):
        """The pixels that a control's rectangle shows on the screen now."""
        c = self.client()
        r = CONTROLS[control].rect
        return display.grab(c.x + r.x, c.y + r.y, r.w, r.h)

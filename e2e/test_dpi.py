"""Both programs on high-DPI screens, and the screenshots of the README.

The Windows program runs under Wine in a prefix of its own whose screen is
set to 144 DPI (150 % scaling): its client areas must be 300 x 450 and
300 x 405, and every control must sit at 1.5 times its place, which the
clicks here rely on (a click at the 96-DPI place of LuckField would land
between ZoneLabel and ZoneCombo at 1.5 times). The GTK program follows the desktop's scale: at
GDK_SCALE=2 everything is twice as large on the screen.

The screenshots (both windows after a check, cropped) land in
build/e2e/screenshots/guide-*.png; scripts/update-screenshots.sh copies them
to docs/."""

import os
import subprocess
import time
from pathlib import Path

from display import keys, pause, run, screen_size, screenshot, type_text, wait_until
from files import Account, fixture, konta, parse_konta
from layout import (SETTINGS_OUTER_ORIGIN, AddButton, AppendButton, CheckButton, LinkField, LuckField,
                    NewAccountField)
from programs import OUT, SHOTS, WIN32_UI_TEST, WINE_RUN, ProgramTest, only, run_to_end
from web import LoopbackServer

PREFIX_144 = OUT / "wineprefix-144dpi"

# Paweł's defaults prefill MainWindow: zone "3s", luck 15, kind "pielga".
PAWEL = Account("Paweł", zone=2, luck=15, kind=2)
REPORT = "/wiadomosc?id=7"
DATABASE = "Paweł.txt"


def report_lines(luck):
    """The database lines of the report of two expeditions; the second one
    has no luck on the page and takes LuckField's."""
    return f"2;2;12;75;3;1;2;Miecz, Tarcza;\r\n2;2;{luck};40;7;0;2;;\r\n".encode()


def wine_env(prefix, **more):
    return dict(os.environ, WYPRAWY_WINEPREFIX=str(prefix), WINEPREFIX=str(prefix), **more)


def stop_wineserver(prefix):
    env = wine_env(prefix)
    subprocess.run(["wineserver", "-k"], env=env, timeout=60, capture_output=True)
    subprocess.run(["wineserver", "-w"], env=env, timeout=60, capture_output=True)


def move_frame(window, x, y):
    """Puts the window's frame at (x, y) on the screen, as far as the window
    manager lets it. Whether a move request names the client's or the
    frame's position differs between window managers and programs, so the
    request is corrected by what it did."""
    request = (x, y)
    for _ in range(3):
        start = window.outer()
        if (start.x, start.y) == (x, y):
            return
        # The EWMH request with north-west gravity names the frame's corner.
        run(["wmctrl", "-i", "-r", hex(window.id), "-e", f"1,{request[0]},{request[1]},-1,-1"], check_status=False)
        deadline = time.monotonic() + 2
        while window.outer() == start and time.monotonic() < deadline:
            time.sleep(0.05)
        pause(0.3)
        now = window.outer()
        request = (request[0] + x - now.x, request[1] + y - now.y)


class DpiTests(ProgramTest):

    def prefix_at_144_dpi(self):
        """The Wine prefix whose screen is 144 DPI, made on first use (about
        10 s). The 96-DPI prefix of the other tests is left as it is."""
        ready = PREFIX_144 / ".wyprawy-144dpi"
        if ready.exists():
            return PREFIX_144
        env = wine_env(PREFIX_144)
        quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        self.assertEqual(subprocess.run([WINE_RUN], env=env, timeout=300, **quiet).returncode, 0,
                         "Wine prefix not made")
        # Wine takes the screen's DPI from the user's desktop settings; the
        # machine-wide value is set alike for programs that read that one.
        for key in (r"HKCU\Control Panel\Desktop",
                    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
            result = subprocess.run([WINE_RUN, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144",
                                     "/f"], env=env, timeout=120, **quiet)
            self.assertEqual(result.returncode, 0, f"LogPixels not set in {key}")
        subprocess.run(["wineserver", "-w"], env=env, timeout=120, **quiet)
        ready.touch()
        return PREFIX_144

    def side_by_side(self, main, settings):
        """Moves the two windows next to each other at the top left, as a player
        might arrange them, so that both fit on the screen and in one picture."""
        move_frame(main, 10, 10)
        placed = main.outer()
        move_frame(settings, placed.x + placed.w + 10, placed.y)
        self.note(f"windows moved to {main.outer()} and {settings.outer()}")

    def guide_screenshot(self, main, settings, name):
        """Both windows, with their frames, cut out of the screen."""
        a, b = main.outer(), settings.outer()
        sw, sh = screen_size()
        x0, y0 = max(min(a.x, b.x) - 4, 0), max(min(a.y, b.y) - 4, 0)
        x1, y1 = min(max(a.x + a.w, b.x + b.w) + 4, sw), min(max(a.y + a.h, b.y + b.h) + 4, sh)
        SHOTS.mkdir(parents=True, exist_ok=True)
        target = screenshot(SHOTS / f"guide-{name}.png", crop=(x0, y0, x1 - x0, y1 - y0))
        self.note(f"screenshot {target} ({x1 - x0}x{y1 - y0})")
        return target

    def check_report(self, main, server, scale):
        """The player's path at the scale: link, check; temp.html gets the
        report."""
        main.click(LinkField, scale=scale)
        type_text(server.url(REPORT))
        main.click(CheckButton, scale=scale)
        wait_until(lambda: server.requests == [REPORT], "the report fetched by the check", timeout=20)
        wait_until(lambda: self.workdir.exists("temp.html") and self.workdir.read("temp.html") == server.pages[REPORT],
                   "temp.html written", timeout=20)
        pause(1.0)  # the summary painted

    def append_and_check(self, main, scale, luck):
        """Dopisz at the scale; the database gets the report's two lines."""
        main.click(AppendButton, scale=scale)
        expected = report_lines(luck)
        self.assertEqual(self.workdir.read_grown(DATABASE, len(expected), f"{DATABASE} written by Dopisz"), expected,
                         f"{DATABASE} after Dopisz")

    def add_account_and_set_luck(self, main, settings, scale):
        """Adds Bolek in SettingsWindow and types Paweł's luck into LuckField,
        each through clicks at the scaled places; konta.txt tells whether they
        reached the controls."""
        settings.click(NewAccountField, scale=scale)
        type_text("Bolek")
        settings.click(AddButton, scale=scale)
        wait_until(lambda: self.workdir.exists("konta.txt") and b"Bolek" in self.workdir.read("konta.txt"),
                   "Bolek added through the scaled AddButton", timeout=10)
        main.click(LuckField, scale=scale)
        keys("End", *["BackSpace"] * 4)
        type_text("77")
        pause()

    @only("windows")
    def test_windows_program_at_144_dpi(self):
        app, workdir = self.app, self.workdir
        prefix = self.prefix_at_144_dpi()
        workdir.write("konta.txt", konta(PAWEL))
        try:
            with LoopbackServer({REPORT: fixture("two_expeditions.html")}) as server:
                app.start(env={"WYPRAWY_WINEPREFIX": str(prefix)})
                main, settings = app.windows()
                pause(0.5)
                self.assertEqual((main.client().w, main.client().h), (300, 450),
                                 "MainWindow's client size at 144 DPI")
                self.assertEqual((settings.client().w, settings.client().h), (300, 405),
                                 "SettingsWindow's client size at 144 DPI")
                # Centred on the scaled size: the left and right frames are alike,
                # so the client area is centred across; up and down the frame that
                # Wine assumes and the one openbox draws differ in height.
                sw, sh = screen_size()
                c = main.client()
                self.assertLessEqual(abs(2 * c.x + c.w - sw), 2,
                                     f"MainWindow's client area {c} not centred across a {sw} screen")
                o = main.outer()
                self.assertLessEqual(abs(o.y - (sh - min(o.h, sh)) // 2), 16,
                                     f"MainWindow's frame {o} not centred on a {sh} screen")
                s = settings.outer()
                self.assertTrue(abs(s.x - SETTINGS_OUTER_ORIGIN[0]) <= 8 and abs(s.y - SETTINGS_OUTER_ORIGIN[1]) <= 16,
                                f"SettingsWindow's frame at {(s.x, s.y)}, not at {SETTINGS_OUTER_ORIGIN}")
                self.note(f"144 DPI: MainWindow client {c}, frame {o}; SettingsWindow frame {s}")

                # SettingsWindow reaches below a 768-pixel screen at 1.5 times.
                self.side_by_side(main, settings)
                self.add_account_and_set_luck(main, settings, 1.5)
                self.check_report(main, server, 1.5)
                self.guide_screenshot(main, settings, "windows-144dpi")
                self.append_and_check(main, 1.5, luck=77)
                main.close_with_alt_f4()
                self.assertEqual(app.exit_code(), 0, "exit code")
            accounts = parse_konta(workdir.read("konta.txt"))
            self.assertEqual([(a.name, a.luck) for a in accounts], [("Paweł", 77), ("Bolek", 0)],
                             "accounts after the clicks at 1.5 times their places")
        finally:
            app.stop()
            stop_wineserver(prefix)

    @only("windows")
    def test_win32_back_end_at_144_dpi(self):
        # tests/win32/real_controls.cpp in the 144-DPI prefix: every rectangle
        # at 1.5 times, the font sized for 144 DPI, the three lines of a summary
        # within ResultLabel, a change of DPI laying the windows out again.
        self.assertTrue(Path(WIN32_UI_TEST).is_file(), f"not built: {WIN32_UI_TEST}")
        prefix = self.prefix_at_144_dpi()
        try:
            code, output = run_to_end([WINE_RUN, WIN32_UI_TEST, "--gtest_brief=1"], self.workdir.root,
                                      "win32_ui_test.out", env=wine_env(prefix, WYPRAWY_EXPECTED_DPI="144"))
        finally:
            stop_wineserver(prefix)
        lines = [line for line in output.splitlines() if line.strip()]
        self.note(lines[-1] if lines else "no output")
        self.assertTrue(code == 0 and "SKIPPED" not in output,
                        f"win32_ui_test at 144 DPI failed ({code}):\n" + output[-4000:])

    @only("linux")
    def test_gtk_program_at_scale_2(self):
        app, workdir = self.app, self.workdir
        workdir.write("konta.txt", konta(PAWEL))
        with LoopbackServer({REPORT: fixture("two_expeditions.html")}) as server:
            app.start(env={"GDK_SCALE": "2"})
            main, settings = app.windows()
            pause(0.5)
            self.assertEqual((main.client().w, main.client().h), (400, 600), "MainWindow's client size at GDK_SCALE=2")
            self.assertEqual((settings.client().w, settings.client().h), (400, 540),
                             "SettingsWindow's client size at GDK_SCALE=2")
            self.side_by_side(main, settings)
            self.add_account_and_set_luck(main, settings, 2)
            self.check_report(main, server, 2)
            self.guide_screenshot(main, settings, "linux-scale2")
            self.append_and_check(main, 2, luck=77)
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code")
        accounts = parse_konta(workdir.read("konta.txt"))
        self.assertEqual([(a.name, a.luck) for a in accounts], [("Paweł", 77), ("Bolek", 0)],
                         "accounts after the clicks at twice their places")

    def test_screenshots_for_the_guide(self):
        # The pictures of the README, at 96 DPI (scale 1): both windows after a
        # check, with the summary in ResultLabel.
        app = self.app
        self.workdir.write("konta.txt", konta(PAWEL, Account("Bolek")))
        with LoopbackServer({REPORT: fixture("two_expeditions.html")}) as server:
            app.start()
            main, settings = app.windows()
            self.side_by_side(main, settings)
            self.check_report(main, server, 1)
            self.guide_screenshot(main, settings, self.kind)
            self.append_and_check(main, 1, luck=15)
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code")

"""The two windows, their places and sizes, Tab order, closing, and the
modal message box, on the real program."""

import os
import subprocess
import time
from pathlib import Path

from display import active_window, find_windows, keys, pause, screen_size, type_text, wait_until
from files import Account, konta, parse_konta
from layout import (CLIENT_SIZES, CONTROLS, ERROR_TITLE, SETTINGS_OUTER_ORIGIN, AccountList, AddButton, CheckButton,
                    LinkField, LuckField, MainWindow, NewAccountField, ResultLabel, SettingsWindow)
from programs import GTK_UI_TEST, WIN32_UI_TEST, WINE_RUN, ProgramTest, cpu_seconds, only, run_to_end
from web import Delayed, LoopbackServer

# Under Wine the frame is drawn by openbox while the program places its
# window by the frame it believes Windows draws, so outer positions may differ
# by the difference between the two frames. The Linux program knows the real
# frame and must be exact.
FRAME_TOLERANCE = {"linux": 0, "windows": 8}

TWO_ACCOUNTS = konta(Account("Anna", zone=0, luck=1, kind=0), Account("Bolek", zone=0, luck=2, kind=0))


class WindowTests(ProgramTest):

    def close_main_and_expect_exit(self, main):
        main.close_with_alt_f4()
        self.assertEqual(self.app.exit_code(), 0, "exit code after Alt+F4 on MainWindow")

    def test_windows_titles_sizes_and_places(self):
        app = self.app
        self.workdir.write("konta.txt", konta(Account("Anna", zone=3, luck=0, kind=1)))
        app.start()
        main, settings = app.windows()
        # Both windows have been shown; give the window manager a moment to
        # settle their final places.
        pause(0.5)
        sw, sh = screen_size()
        tolerance = FRAME_TOLERANCE[self.kind]

        for number, window in ((MainWindow, main), (SettingsWindow, settings)):
            c = window.client()
            self.assertEqual((c.w, c.h), CLIENT_SIZES[number], f"client size of {window.title}")

        outer = main.outer()
        ow, oh = min(outer.w, sw), min(outer.h, sh)
        expected = ((sw - ow) // 2, (sh - oh) // 2)
        self.assertTrue(abs(outer.x - expected[0]) <= tolerance and abs(outer.y - expected[1]) <= tolerance,
                        f"MainWindow outer top-left {(outer.x, outer.y)} is not centred at {expected} (±{tolerance})")

        souter = settings.outer()
        self.assertTrue(abs(souter.x - SETTINGS_OUTER_ORIGIN[0]) <= tolerance
                        and abs(souter.y - SETTINGS_OUTER_ORIGIN[1]) <= tolerance,
                        f"SettingsWindow outer top-left {(souter.x, souter.y)} is not {SETTINGS_OUTER_ORIGIN} "
                        f"(±{tolerance})")

        self.assertEqual(active_window(), settings.id, "active window at start (SettingsWindow opened last)")

        for window in (main, settings):
            c, o = window.client(), window.outer()
            self.note(f"{window.title}: client origin ({c.x}, {c.y}) size {c.w}x{c.h}; "
                      f"outer ({o.x}, {o.y}) {o.w}x{o.h}")
        app.screenshot("windows")
        self.close_main_and_expect_exit(main)

    def test_tab_visits_controls_in_number_order(self):
        # Each stop of the Tab ring is recognised by what a key does there, seen
        # in konta.txt and by the loopback server: Down on AccountCombo selects
        # the second account, Down on ZoneCombo and KindCombo changes the current
        # account's zone and kind, digits in LuckField its luck, and Space on
        # CheckButton fetches the link typed in LinkField. The walk starts from a
        # click into LuckField (where the focus starts on activation differs
        # between the platforms) and goes round once forwards, then backwards over
        # both ends of the ring.
        app = self.app
        self.workdir.write("konta.txt", TWO_ACCOUNTS)
        with LoopbackServer({"/tab": b"<html>nothing</html>"}) as server:
            app.start()
            main, settings = app.windows()
            main.activate()
            main.click(LuckField)                     # 6, Anna is the current account
            pause()
            keys("Tab", "Down")                       # 7 KindCombo: Anna's kind 1
            keys("Tab", "End", *["BackSpace"] * 4)    # 9 LinkField
            type_text(server.url("/tab"))
            keys("Tab", "space")                      # 12 CheckButton: fetch, then save
            wait_until(lambda: len(server.requests) == 1, "Space two stops after KindCombo to fetch the link",
                       timeout=20)
            keys("Tab")                               # 13 AppendButton
            keys("Tab", "Down")                       # 1 AccountCombo (wrapped): Bolek
            keys("Tab", "Down")                       # 5 ZoneCombo: Bolek's zone 1
            keys("Tab", "End", *["BackSpace"] * 4)    # 6 LuckField
            type_text("77")                           # Bolek's luck 77
            keys("shift+Tab", "Down")                 # 5 ZoneCombo: Bolek's zone 2
            keys("shift+Tab", "shift+Tab")            # 1, then 13 (wrapped backwards)
            keys("shift+Tab", "space")                # 12 CheckButton: fetch again
            wait_until(lambda: len(server.requests) == 2,
                       "Space after Shift+Tab back over both ends to fetch again", timeout=20)
            pause()
            self.close_main_and_expect_exit(main)
        accounts = parse_konta(self.workdir.read("konta.txt"))
        self.assertEqual([(a.name, a.zone, a.luck, a.kind) for a in accounts],
                         [("Anna", 0, 1, 1), ("Bolek", 2, 77, 0)], "accounts after the Tab walk")

    def test_closing_settings_leaves_it_open_and_alt_f4_ends_main(self):
        app = self.app
        original = konta(Account("Anna", zone=2, luck=15, kind=2, tag=-5))
        self.workdir.write("konta.txt", original)
        app.start()
        main, settings = app.windows()
        settings.close()
        pause(0.5)
        settings.activate()
        keys("alt+F4")
        pause(0.7)
        self.assertTrue(app.running(), "the program ended after SettingsWindow was closed")
        self.assertTrue(settings.visible(), "SettingsWindow is gone after its close requests")
        self.assertTrue(main.visible(), "MainWindow is gone after SettingsWindow's close requests")
        self.close_main_and_expect_exit(main)
        self.assertEqual(self.workdir.read("konta.txt"), original, "konta.txt after a run that changed nothing")

    def test_message_box_blocks_both_windows_until_ok(self):
        # No konta.txt: start-up shows the "Błąd!" box while both windows stand.
        app, workdir = self.app, self.workdir
        app.start()
        main, settings = app.windows()
        box = app.window(ERROR_TITLE)
        # SettingsWindow, opened last, is in front: the box belongs to it.
        self.assertEqual(box.transient_for(), settings.id, "owner window of the message box")
        app.screenshot("message-box")

        # Input to either window while the box shows must change nothing. The
        # box is moved out of the way so that the clicks reach our windows (the
        # ones aimed at here are covered by neither window).
        box.move(0, 0)
        pause()
        for window, control in ((settings, NewAccountField), (settings, AddButton), (main, LuckField)):
            x, y = CONTROLS[control].rect.centre()
            c = window.client()
            self.assertFalse(box.outer().contains(c.x + x, c.y + y), "the message box covers a target")
        settings.click(NewAccountField, raise_first=False)
        type_text("Zly")
        settings.click(AddButton, raise_first=False)
        main.click(LuckField, raise_first=False)
        type_text("9")
        main.close()
        pause(1.0)
        self.assertTrue(app.running(), "a close of MainWindow was taken while the message box showed")
        self.assertTrue(box.visible(), "the message box went away without OK")
        self.assertFalse(workdir.exists("konta.txt"), "an account was added while the message box showed")

        box.activate()
        keys("Return")
        wait_until(lambda: not box.visible(), "the message box to close on OK")

        settings.click(NewAccountField)
        type_text("Dobry")
        settings.click(AddButton)
        wait_until(lambda: workdir.exists("konta.txt") and workdir.read("konta.txt").endswith(b"\r\n"),
                   "konta.txt written by Add")
        self.assertFalse(find_windows(ERROR_TITLE), "a second message box")
        self.close_main_and_expect_exit(main)
        self.assertEqual([a.name for a in parse_konta(workdir.read("konta.txt"))], ["Dobry"],
                         "accounts after OK and Add")

    def test_resizing_moves_no_control(self):
        # The window can be made larger and smaller than its controls; a control
        # stays at its place, so a click at the original place still reaches it.
        app = self.app
        self.workdir.write("konta.txt", konta(Account("Anna", luck=5)))
        app.start()
        main, _ = app.windows()
        for width, height in ((320, 420), (120, 90), (200, 300)):
            main.resize(width, height)
            wait_until(lambda: (main.client().w, main.client().h) == (width, height),
                       f"MainWindow's client area to become {width}x{height}", timeout=5)
            if width >= 200:
                main.click(LuckField)
                keys("End", *["BackSpace"] * 4)
                type_text(str(width))
        pause()
        self.close_main_and_expect_exit(main)
        self.assertEqual(parse_konta(self.workdir.read("konta.txt"))[0].luck, 200 % 256,
                         "luck typed after the last resize")

    def test_result_label_is_painted_before_a_long_download(self):
        # The check writes its first report into ResultLabel and then blocks in
        # the download; the label must show the new text on the screen while the
        # program does not take events.
        app = self.app
        self.workdir.write("konta.txt", konta(Account("Anna")))
        with LoopbackServer({"/slow": Delayed(4.0, b"<html>nothing</html>")}) as server:
            app.start()
            main, _ = app.windows()
            main.click(LinkField)
            type_text(server.url("/slow"))
            pause()
            at_start = main.grab(ResultLabel)
            main.click(CheckButton)
            wait_until(lambda: server.requests, "the download to start")
            # The server answers 4 s after the request came: a change seen
            # within 3 s is painted while the download blocks the program.
            # (A loaded machine may take a while to show it; not a timing test.)
            wait_until(lambda: main.grab(ResultLabel) != at_start,  # a lambda: no dump of the pixels
                       "ResultLabel to show its new text while the download blocks the program", timeout=3.0)
            during = main.grab(ResultLabel)
            app.screenshot("downloading")
            self.assertTrue(server.pending(), "the server answered before the label was seen changed")
            wait_until(lambda: main.grab(ResultLabel) != during, "ResultLabel to show the check's outcome",
                       timeout=20)
            self.close_main_and_expect_exit(main)

    def test_idle_program_uses_almost_no_cpu(self):
        # Catches a busy loop: the 100 ms wait must sleep in the system, not spin.
        app = self.app
        self.workdir.write("konta.txt", konta(Account("Anna")))
        app.start()
        main, _ = app.windows()
        pause(1.0)
        pid = app.pid()
        before, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(10)
        used, elapsed = cpu_seconds(pid) - before, time.monotonic() - t0
        share = 100.0 * used / elapsed
        self.note(f"idle CPU over {elapsed:.1f} s: {used:.2f} s = {share:.2f} %")
        # A spinning loop takes a whole core; Wine's own bookkeeping around each
        # 100 ms wait costs a few per cent, so the bound is generous.
        self.assertLess(share, 20.0, f"idle program used {share:.1f} % CPU")
        self.close_main_and_expect_exit(main)

    def test_account_list_selects_on_click_not_on_focus(self):
        # Which account is current shows in konta.txt: the luck typed last goes
        # to it. A list that selected its first row on taking the keyboard focus
        # would make Anna current behind the user's back.
        app = self.app
        self.workdir.write("konta.txt", TWO_ACCOUNTS)
        app.start()
        main, settings = app.windows()
        main.click(LuckField)
        keys("shift+Tab", "shift+Tab", "Down")    # 6 -> 5 -> 1 AccountCombo: Bolek
        settings.click(NewAccountField)
        keys("shift+Tab", "shift+Tab")            # 18 -> 16 -> 15 AccountList, by keyboard
        pause()
        main.click(LuckField)
        keys("End", *["BackSpace"] * 4)
        type_text("55")                           # Bolek's luck
        list_rect = CONTROLS[AccountList].rect
        settings.click_client(list_rect.x + 40, list_rect.y + 6)  # first row
        pause()
        main.click(LuckField)
        keys("End", *["BackSpace"] * 4)
        type_text("66")                           # Anna's luck
        pause()
        self.close_main_and_expect_exit(main)
        self.assertEqual([(a.name, a.luck) for a in parse_konta(self.workdir.read("konta.txt"))],
                         [("Anna", 66), ("Bolek", 55)], "lucks after focusing and clicking the list")

    def test_typed_text_arrives_as_windows_1250(self):
        # Polish letters keep their Windows-1250 bytes; a character that
        # Windows-1250 cannot hold becomes '?', so "1Ω2" in LuckField reads as 1.
        app, workdir = self.app, self.workdir
        workdir.write("konta.txt", konta(Account("Anna", luck=5)))
        app.start()
        main, settings = app.windows()
        settings.click(NewAccountField)
        type_text("Paweł Żółć")
        settings.click(AddButton)
        wait_until(lambda: b"Pawe" in workdir.read("konta.txt"), "konta.txt written by Add")
        main.click(LuckField)
        keys("End", *["BackSpace"] * 4)
        type_text("1Ω2")
        pause()
        self.close_main_and_expect_exit(main)
        accounts = parse_konta(workdir.read("konta.txt"))
        self.assertEqual([a.name for a in accounts], ["Anna", "Paweł Żółć"], "account names")
        self.assertIn("Paweł Żółć".encode("cp1250"), workdir.read("konta.txt"),
                      "the name's Windows-1250 bytes in konta.txt")
        self.assertEqual(accounts[0].luck, 1, "luck typed as 1Ω2")

    @only("linux")
    def test_start_without_display_ends_with_0_and_saves_nothing(self):
        original = konta(Account("Anna", luck=9))
        self.workdir.write("konta.txt", original)
        proc = subprocess.run(["timeout", "20", self.app.executable()], cwd=self.workdir.root, capture_output=True,
                              env={k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")})
        self.assertEqual(proc.returncode, 0, "exit code without a display")
        self.assertEqual(self.workdir.read("konta.txt"), original, "konta.txt after a start-up that failed")

    def run_back_end_test(self, executable, under_wine):
        self.assertTrue(Path(executable).is_file(), f"not built: {executable}")
        what = Path(executable).stem
        command = [WINE_RUN, executable] if under_wine else [executable]
        code, output = run_to_end([*command, "--gtest_brief=1"], self.workdir.root, f"{what}.out")
        lines = [line for line in output.splitlines() if line.strip()]
        self.note(lines[-1] if lines else "no output")
        self.assertTrue(code == 0 and "SKIPPED" not in output, f"{what} failed ({code}):\n" + output[-4000:])

    @only("linux")
    def test_gtk_back_end_operations(self):
        # tests/gtk/real_widgets.cpp: the control contract (tests/ui_contract)
        # and GTK's own cases on real GTK widgets.
        self.run_back_end_test(GTK_UI_TEST, under_wine=False)

    @only("windows")
    def test_win32_back_end_operations(self):
        # tests/win32/real_controls.cpp: the control contract (tests/ui_contract)
        # and Win32's own cases on real Win32 controls, under Wine in this X
        # session.
        self.run_back_end_test(WIN32_UI_TEST, under_wine=True)

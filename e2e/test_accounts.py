"""Accounts through the real windows: add accounts in SettingsWindow, pick
one in AccountCombo, change its zone, luck and kind in MainWindow, and find
all of it in konta.txt and in MainWindow after a new start; delete an account
in SettingsWindow."""

from display import keys, pause, top_windows, type_text, wait_until
from files import fixture, parse_konta
from layout import (CONTROLS, AccountCombo, AccountList, AddButton, AppendButton, CheckButton, DeleteButton,
                    KindCombo, LinkField, LuckField, NewAccountField, ZoneCombo)
from programs import ProgramTest
from web import LoopbackServer


def choose_item(window, control, index):
    """Opens a drop-down list with a click and picks its item `index` with
    the keyboard (Home, Down, Return), as a user does in the open list."""
    before = top_windows()
    window.click(control)
    wait_until(lambda: top_windows() - before, f"the list of control {control} to open", timeout=5)
    keys("Home", *["Down"] * index, "Return")
    wait_until(lambda: not top_windows() - before, f"the list of control {control} to close", timeout=5)


# konta.txt as the program must write it, spelt out byte for byte: the count
# line, then six lines per account (position, tag, name, zone, luck, kind),
# every line ended by CR LF, names in Windows-1250 ("ł" is byte B3).
def lines(*items):
    return b"".join(item + b"\r\n" for item in items)


AT_START = lines(b"1", b"0", b"-5", b"Anna", b"0", b"1", b"0")
AFTER_FIRST_RUN = lines(b"3",
                        b"0", b"-5", b"Anna", b"0", b"1", b"0",
                        b"1", b"0", b"Pawe\xb3", b"4", b"77", b"2",
                        b"2", b"0", b"Bolek", b"3", b"0", b"1")
AFTER_DELETE = lines(b"2",
                     b"0", b"0", b"Pawe\xb3", b"4", b"77", b"2",
                     b"1", b"0", b"Bolek", b"3", b"0", b"1")

# AccountList's rows as each program draws them at its default font: the top
# of the first row within the list's rectangle, and the height of a row
# (measured on screenshots: GTK rows 18 px from y 1, Win32 rows 13 px from
# y 2, inside the list's border).
LIST_ROWS = {"linux": (1, 18), "windows": (2, 13)}
# Within AccountList and below the fourth row of both programs.
BELOW_THE_ROWS = 88

FOUR = lines(b"4",
             b"0", b"7", b"Anna", b"0", b"11", b"0",
             b"1", b"0", b"Bolek", b"1", b"22", b"1",
             b"2", b"-3", b"Cezary", b"2", b"33", b"2",
             b"3", b"0", b"Dorota", b"4", b"44", b"1")
FOUR_WITHOUT_BOLEK = lines(b"3",
                           b"0", b"7", b"Anna", b"0", b"11", b"0",
                           b"1", b"-3", b"Cezary", b"2", b"33", b"2",
                           b"2", b"0", b"Dorota", b"4", b"44", b"1")
FOUR_WITHOUT_BOLEK_ANNA_66 = FOUR_WITHOUT_BOLEK.replace(b"Anna\r\n0\r\n11\r\n", b"Anna\r\n0\r\n66\r\n")

THREE = lines(b"3",
              b"0", b"7", b"Anna", b"0", b"11", b"0",
              b"1", b"0", b"Bolek", b"1", b"22", b"1",
              b"2", b"-3", b"Cezary", b"2", b"33", b"2")
THREE_BOLEK_55 = THREE.replace(b"Bolek\r\n1\r\n22\r\n", b"Bolek\r\n1\r\n55\r\n")


def click_below_the_rows(settings):
    r = CONTROLS[AccountList].rect
    settings.click_client(r.x + 40, r.y + BELOW_THE_ROWS)


def type_luck(main, text):
    main.click(LuckField)
    keys("End", *["BackSpace"] * 4)
    type_text(text)


class AccountTests(ProgramTest):

    def add_account(self, settings, name):
        settings.click(NewAccountField)
        type_text(name)
        before = self.workdir.stamp("konta.txt")
        settings.click(AddButton)
        wait_until(lambda: self.workdir.stamp("konta.txt") != before, f"konta.txt saved after adding {name}")
        self.assertEqual(parse_konta(self.workdir.read("konta.txt"))[-1].name, name, "name of the account added last")

    def click_account_row(self, settings, row):
        """Clicks the middle of a row of AccountList, as a player picks a name."""
        top, height = LIST_ROWS[self.kind]
        r = CONTROLS[AccountList].rect
        settings.click_client(r.x + 40, r.y + top + height * row + height // 2)

    def test_accounts_added_edited_kept_and_deleted(self):
        app, workdir = self.app, self.workdir
        workdir.write("konta.txt", AT_START)

        # First run: two new accounts; Paweł (the second item of AccountCombo)
        # gets zone "5s", luck 77 and kind "pielga". Anna, shown at start,
        # must keep her values: the edits go to the account picked.
        app.start()
        main, settings = app.windows()
        self.add_account(settings, "Paweł")
        self.add_account(settings, "Bolek")
        choose_item(main, AccountCombo, 1)
        choose_item(main, ZoneCombo, 4)
        main.click(LuckField)
        keys("End", *["BackSpace"] * 4)
        type_text("77")
        choose_item(main, KindCombo, 2)
        app.screenshot("accounts-edited")
        main.close_with_alt_f4()
        self.assertEqual(app.exit_code(), 0, "exit code of the first run")
        self.assertEqual(workdir.read("konta.txt"), AFTER_FIRST_RUN, "konta.txt after the first run")
        app.stop()

        # Second run in the same folder. Picking Paweł in AccountList shows his
        # values in MainWindow; a check and append of the two-expedition report
        # then writes them into his database: kind 2 and zone 4 in every line,
        # and LuckField's 77 where the page has no luck value.
        with LoopbackServer({"/r": fixture("two_expeditions.html")}) as server:
            app.start()
            main, settings = app.windows()
            list_rect = CONTROLS[AccountList].rect
            settings.click_client(list_rect.x + 40, list_rect.y + 6)  # the first row, Anna
            keys("Down")                                              # the second, Paweł
            pause()
            main.click(LinkField)
            type_text(server.url("/r"))
            before = workdir.stamp("konta.txt")
            main.click(CheckButton)
            wait_until(lambda: workdir.stamp("konta.txt") != before, "the check to end (konta.txt saved after it)",
                       timeout=20)
            self.assertEqual(server.requests, ["/r"], "requests of the check")
            self.assertEqual(workdir.read("konta.txt"), AFTER_FIRST_RUN, "konta.txt saved after the check")
            main.click(AppendButton)
            database = "Paweł.txt"
            expected = (b"2;4;12;75;3;1;2;Miecz, Tarcza;\r\n"
                        b"2;4;77;40;7;0;2;;\r\n")
            self.assertEqual(workdir.read_grown(database, len(expected), f"{database} written by Dopisz"), expected,
                             f"{database}: the values MainWindow showed for Paweł")

            # Delete Anna, the first account: Paweł and Bolek move up one slot
            # with all their values, and the positions are written anew.
            settings.click_client(list_rect.x + 40, list_rect.y + 6)
            pause()
            before = workdir.stamp("konta.txt")
            settings.click(DeleteButton)
            wait_until(lambda: workdir.stamp("konta.txt") != before, "konta.txt saved after the delete")
            self.assertEqual(workdir.read("konta.txt"), AFTER_DELETE, "konta.txt after deleting Anna")
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code of the second run")
        self.assertEqual(workdir.read("konta.txt"), AFTER_DELETE, "konta.txt after the second run")

    def test_deleting_the_picked_account_leaves_no_account_picked(self):
        # Bolek picked with the mouse and deleted: AccountList then has no
        # selection, so a second "Usuń" deletes nothing, and MainWindow shows
        # Anna, the first account, into which the luck typed next goes.
        app, workdir = self.app, self.workdir
        workdir.write("konta.txt", FOUR)
        app.start()
        main, settings = app.windows()
        self.click_account_row(settings, 1)
        pause()
        before = workdir.stamp("konta.txt")
        settings.click(DeleteButton)
        wait_until(lambda: workdir.stamp("konta.txt") != before, "konta.txt saved after the delete")
        self.assertEqual(workdir.read("konta.txt"), FOUR_WITHOUT_BOLEK, "konta.txt after deleting Bolek")
        app.screenshot("accounts-picked-deleted")
        settings.click(DeleteButton)
        pause()
        type_luck(main, "66")
        pause()
        main.close_with_alt_f4()
        self.assertEqual(app.exit_code(), 0, "exit code")
        self.assertEqual(workdir.read("konta.txt"), FOUR_WITHOUT_BOLEK_ANNA_66,
                         "konta.txt: a second delete with nothing picked, then luck 66 for Anna")

    def test_click_below_the_accounts_picks_none(self):
        # Bolek is shown through AccountCombo; a click on the empty part of
        # AccountList (its first click, which gives it the focus) picks no
        # account: Bolek stays current and takes the luck typed next, and "Usuń"
        # has nothing to delete, so nothing is saved before the exit.
        app, workdir = self.app, self.workdir
        workdir.write("konta.txt", THREE)
        app.start()
        main, settings = app.windows()
        choose_item(main, AccountCombo, 1)
        click_below_the_rows(settings)
        pause()
        before = workdir.stamp("konta.txt")
        settings.click(DeleteButton)
        pause(0.6)
        self.assertEqual(workdir.stamp("konta.txt"), before,
                         f"konta.txt saved by Usuń after the click below the rows: {workdir.read('konta.txt')!r}")
        type_luck(main, "55")
        pause()
        main.close_with_alt_f4()
        self.assertEqual(app.exit_code(), 0, "exit code")
        self.assertEqual(workdir.read("konta.txt"), THREE_BOLEK_55, "konta.txt: Bolek current, none deleted")

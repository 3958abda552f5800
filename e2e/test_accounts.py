"""Accounts through the real windows: add accounts in SettingsWindow, pick
one in AccountCombo, change its zone, luck and kind in MainWindow, and find
all of it in konta.txt and in MainWindow after a new start; delete an account
in SettingsWindow."""

import os

from harness import *  # noqa: F401,F403

FIXTURES = ROOT / "tests" / "fixtures" / "reports"


def konta_state(app):
    """What changes whenever the program saves konta.txt: the file is replaced
    through a rename, so a save gives it a new inode even with equal bytes."""
    st = os.stat(app.path("konta.txt"))
    return st.st_ino, st.st_mtime_ns


def shown_top_windows():
    """The visible windows directly below the root, unnamed ones included:
    an open drop-down list is one of them (an override-redirect window)."""
    out = run(["xdotool", "search", "--onlyvisible", "--maxdepth", "1", "--name", ""], check_status=False)
    return {int(w) for w in out.split()}


def choose_item(window, control, index):
    """Opens a drop-down list with a click and picks its item `index` with
    the keyboard (Home, Down, Return), as a user does in the open list."""
    before = shown_top_windows()
    window.click(control)
    wait_until(lambda: shown_top_windows() - before, f"the list of control {control} to open", timeout=5)
    keys("Home", *["Down"] * index, "Return")
    wait_until(lambda: not shown_top_windows() - before, f"the list of control {control} to close", timeout=5)


def add_account(app, settings, name):
    settings.click(NewAccountField)
    type_text(name)
    before = konta_state(app)
    settings.click(AddButton)
    wait_until(lambda: konta_state(app) != before, f"konta.txt saved after adding {name}")
    check_equal(parse_konta(app.read("konta.txt"))[-1].name, name, "name of the account added last")


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


@test
def test_accounts_added_edited_kept_and_deleted(app):
    app.write("konta.txt", AT_START)

    # First run: two new accounts; Paweł (the second item of AccountCombo)
    # gets zone "5s", luck 77 and kind "pielga". Anna, shown at start,
    # must keep her values: the edits go to the account picked.
    app.start()
    main, settings = app.windows()
    add_account(app, settings, "Paweł")
    add_account(app, settings, "Bolek")
    choose_item(main, AccountCombo, 1)
    choose_item(main, ZoneCombo, 4)
    main.click(LuckField)
    keys("End", *["BackSpace"] * 4)
    type_text("77")
    choose_item(main, KindCombo, 2)
    app.screenshot("accounts-edited")
    main.close_with_alt_f4()
    check_equal(app.exit_code(), 0, "exit code of the first run")
    check_equal(app.read("konta.txt"), AFTER_FIRST_RUN, "konta.txt after the first run")
    app.stop()

    # Second run in the same folder. Picking Paweł in AccountList shows his
    # values in MainWindow; a check and append of the two-expedition report
    # then writes them into his database: kind 2 and zone 4 in every line,
    # and LuckField's 77 where the page has no luck value.
    report = (FIXTURES / "two_expeditions.html").read_bytes()
    with LoopbackServer({"/r": report}) as server:
        app.start()
        main, settings = app.windows()
        list_rect = CONTROLS[AccountList].rect
        settings.click_client(list_rect.x + 40, list_rect.y + 6)  # the first row, Anna
        keys("Down")                                              # the second, Paweł
        pause()
        main.click(LinkField)
        type_text(server.url("/r"))
        before = konta_state(app)
        main.click(CheckButton)
        wait_until(lambda: konta_state(app) != before, "the check to end (konta.txt saved after it)", timeout=20)
        check_equal(server.requests, ["/r"], "requests of the check")
        check_equal(app.read("konta.txt"), AFTER_FIRST_RUN, "konta.txt saved after the check")
        main.click(AppendButton)
        database = "Paweł.txt"
        expected = (b"2;4;12;75;3;1;2;Miecz, Tarcza;\r\n"
                    b"2;4;77;40;7;0;2;;\r\n")
        wait_until(lambda: app.exists(database) and len(app.read(database)) >= len(expected),
                   f"{database} written by Dopisz")
        check_equal(app.read(database), expected, f"{database}: the values MainWindow showed for Paweł")

        # Delete Anna, the first account: Paweł and Bolek move up one slot
        # with all their values, and the positions are written anew.
        settings.click_client(list_rect.x + 40, list_rect.y + 6)
        pause()
        before = konta_state(app)
        settings.click(DeleteButton)
        wait_until(lambda: konta_state(app) != before, "konta.txt saved after the delete")
        check_equal(app.read("konta.txt"), AFTER_DELETE, "konta.txt after deleting Anna")
        main.close_with_alt_f4()
        check_equal(app.exit_code(), 0, "exit code of the second run")
    check_equal(app.read("konta.txt"), AFTER_DELETE, "konta.txt after the second run")


# AccountList's rows as each program draws them at its default font: the top
# of the first row within the list's rectangle, and the height of a row
# (measured on screenshots: GTK rows 18 px from y 1, Win32 rows 13 px from
# y 2, inside the list's border).
LIST_ROWS = {"linux": (1, 18), "windows": (2, 13)}
# Within AccountList and below the fourth row of both programs.
BELOW_THE_ROWS = 88


def click_account_row(app, settings, row):
    """Clicks the middle of a row of AccountList, as a player picks a name."""
    top, height = LIST_ROWS[app.kind]
    r = CONTROLS[AccountList].rect
    settings.click_client(r.x + 40, r.y + top + height * row + height // 2)


def click_below_the_rows(settings):
    r = CONTROLS[AccountList].rect
    settings.click_client(r.x + 40, r.y + BELOW_THE_ROWS)


def type_luck(main, text):
    main.click(LuckField)
    keys("End", *["BackSpace"] * 4)
    type_text(text)


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


@test
def test_deleting_the_picked_account_leaves_no_account_picked(app):
    # Bolek picked with the mouse and deleted: AccountList then has no
    # selection, so a second "Usuń" deletes nothing, and MainWindow shows
    # Anna, the first account, into which the luck typed next goes.
    app.write("konta.txt", FOUR)
    app.start()
    main, settings = app.windows()
    click_account_row(app, settings, 1)
    pause()
    before = konta_state(app)
    settings.click(DeleteButton)
    wait_until(lambda: konta_state(app) != before, "konta.txt saved after the delete")
    check_equal(app.read("konta.txt"), FOUR_WITHOUT_BOLEK, "konta.txt after deleting Bolek")
    app.screenshot("accounts-picked-deleted")
    settings.click(DeleteButton)
    pause()
    type_luck(main, "66")
    pause()
    main.close_with_alt_f4()
    check_equal(app.exit_code(), 0, "exit code")
    check_equal(app.read("konta.txt"), FOUR_WITHOUT_BOLEK_ANNA_66,
                "konta.txt: a second delete with nothing picked, then luck 66 for Anna")


THREE = lines(b"3",
              b"0", b"7", b"Anna", b"0", b"11", b"0",
              b"1", b"0", b"Bolek", b"1", b"22", b"1",
              b"2", b"-3", b"Cezary", b"2", b"33", b"2")
THREE_BOLEK_55 = THREE.replace(b"Bolek\r\n1\r\n22\r\n", b"Bolek\r\n1\r\n55\r\n")


@test
def test_click_below_the_accounts_picks_none(app):
    # Bolek is shown through AccountCombo; a click on the empty part of
    # AccountList (its first click, which gives it the focus) picks no
    # account: Bolek stays current and takes the luck typed next, and "Usuń"
    # has nothing to delete, so nothing is saved before the exit.
    app.write("konta.txt", THREE)
    app.start()
    main, settings = app.windows()
    choose_item(main, AccountCombo, 1)
    click_below_the_rows(settings)
    pause()
    before = konta_state(app)
    settings.click(DeleteButton)
    pause(0.6)
    check(konta_state(app) == before,
          f"konta.txt saved by Usuń after the click below the rows: {app.read('konta.txt')!r}")
    type_luck(main, "55")
    pause()
    main.close_with_alt_f4()
    check_equal(app.exit_code(), 0, "exit code")
    check_equal(app.read("konta.txt"), THREE_BOLEK_55, "konta.txt: Bolek current, none deleted")

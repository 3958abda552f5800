"""A player's whole path on the real program: paste the link of a report into
LinkField, "Sprawdz poprawość", "Dopisz", and the account's database file
holds the right lines, byte for byte.

The account is "Paweł": its database is "Paweł.txt", a UTF-8 file name on
Linux for both programs (the Windows program names files in UTF-16, which
Wine turns into UTF-8)."""

import os

from harness import *  # noqa: F401,F403

FIXTURES = ROOT / "tests" / "fixtures" / "reports"
ACCOUNT = "Paweł"
DATABASE = f"{ACCOUNT}.txt"

# Paweł's defaults prefill MainWindow: zone index 2 ("3s"), luck 15 (the
# fallback for a page without a luck value), kind index 2 ("pielga").
PAWEL = Account(ACCOUNT, zone=2, luck=15, kind=2)


def page(name):
    return (FIXTURES / name).read_bytes()


def konta_state(app):
    """What changes whenever the program saves konta.txt: the file is replaced
    through a rename, so a save gives it a new inode even with equal bytes."""
    st = os.stat(app.path("konta.txt"))
    return st.st_ino, st.st_mtime_ns


def check_and_wait(app, main, server, path, fetches):
    """Types the link into LinkField, which must be empty (as at start and
    after Dopisz), presses "Sprawdz poprawość" and waits until the check has
    ended: the program saves konta.txt right after each check."""
    main.click(LinkField)
    type_text(server.url(path))
    before = konta_state(app)
    main.click(CheckButton)
    wait_until(lambda: len(server.requests) == fetches, f"fetch number {fetches} of the report", timeout=20)
    check_equal(server.requests[-1], path, "path requested by the check")
    wait_until(lambda: konta_state(app) != before, "the check to end (konta.txt saved after it)", timeout=20)


def database_files(app):
    """The file names (as bytes) of the working directory other than the two
    files that every run has."""
    return sorted(set(os.listdir(os.fsencode(app.workdir))) - {b"konta.txt", b"temp.html"})


@test
def test_player_checks_a_report_and_appends_it(app):
    # The two-expedition report: items " Tarcza" with its leading blank and
    # "Miecz"; the second expedition has no luck value on the page, so
    # LuckField's 15 stands in for it.
    report = page("two_expeditions.html")
    expected = (b"2;2;12;75;3;1;2;Miecz, Tarcza;\r\n"
                b"2;2;15;40;7;0;2;;\r\n")
    app.write("konta.txt", konta(PAWEL))
    with LoopbackServer({"/wiadomosc?id=7": report}) as server:
        app.start()
        main, _ = app.windows()
        check_and_wait(app, main, server, "/wiadomosc?id=7", fetches=1)
        check_equal(app.read("temp.html"), report, "temp.html after the check")
        check(not app.exists(DATABASE), "the check alone wrote the database")
        app.screenshot("player-checked")

        main.click(AppendButton)
        wait_until(lambda: app.exists(DATABASE) and len(app.read(DATABASE)) >= len(expected),
                   f"{DATABASE} written by Dopisz")
        check_equal(app.read(DATABASE), expected, f"{DATABASE} after Dopisz")
        check_equal(database_files(app), [DATABASE.encode("utf-8")], "database file name (UTF-8 bytes)")
        app.screenshot("player-appended")

        # A second Dopisz has nothing left to write. Dopisz also emptied
        # LinkField: the check pressed next fetches nothing, and the save that
        # follows it shows that the second Dopisz has been handled.
        main.click(AppendButton)
        before = konta_state(app)
        main.click(CheckButton)
        wait_until(lambda: konta_state(app) != before, "the check after the second Dopisz to end", timeout=20)
        check_equal(server.requests, ["/wiadomosc?id=7"], "requests (LinkField emptied by Dopisz)")
        check_equal(app.read(DATABASE), expected, f"{DATABASE} after a second Dopisz")

        main.close_with_alt_f4()
        check_equal(app.exit_code(), 0, "exit code")
    check_equal(app.read("konta.txt"), konta(PAWEL), "konta.txt after a run that changed no account")


@test
def test_player_appends_behind_an_existing_database(app):
    # One expedition whose item stands on the line after the report line:
    # a batch of one (column 7 is 1), the item's UTF-8 bytes unchanged. The
    # old contents stay as they are, and the same report checked and appended
    # twice stands there twice.
    report = page("item_on_later_line.html")
    line = "2;2;8;60;5;1;1;Hełm;\r\n".encode("utf-8")
    old = "0;4;3;90;1;1;1;Złoty pierścień;\r\n".encode("utf-8")
    app.write("konta.txt", konta(PAWEL))
    app.write(DATABASE, old)
    with LoopbackServer({"/raport": report}) as server:
        app.start()
        main, _ = app.windows()
        for n in (1, 2):
            check_and_wait(app, main, server, "/raport", fetches=n)
            main.click(AppendButton)
            expected = old + line * n
            wait_until(lambda: len(app.read(DATABASE)) >= len(expected), f"Dopisz number {n} written")
            check_equal(app.read(DATABASE), expected, f"{DATABASE} after Dopisz number {n}")
        main.close_with_alt_f4()
        check_equal(app.exit_code(), 0, "exit code")
    check_equal(database_files(app), [DATABASE.encode("utf-8")], "database file name (UTF-8 bytes)")

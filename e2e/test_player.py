"""A player's whole path on the real program: paste the link of a report into
LinkField, "Sprawdz poprawość", "Dopisz", and the account's database file
holds the right lines, byte for byte.

The account is "Paweł": its database is "Paweł.txt", a UTF-8 file name on
Linux for both programs (the Windows program names files in UTF-16, which
Wine turns into UTF-8)."""

from display import type_text, wait_until
from files import Account, fixture, konta
from layout import AppendButton, CheckButton, LinkField
from programs import ProgramTest
from web import LoopbackServer

ACCOUNT = "Paweł"
DATABASE = f"{ACCOUNT}.txt"

# Paweł's defaults prefill MainWindow: zone index 2 ("3s"), luck 15 (the
# fallback for a page without a luck value), kind index 2 ("pielga").
PAWEL = Account(ACCOUNT, zone=2, luck=15, kind=2)


class PlayerTests(ProgramTest):

    def check_and_wait(self, main, server, path, fetches):
        """Types the link into LinkField, which must be empty (as at start and
        after Dopisz), presses "Sprawdz poprawość" and waits until the check has
        ended: the program saves konta.txt right after each check."""
        main.click(LinkField)
        type_text(server.url(path))
        before = self.workdir.stamp("konta.txt")
        main.click(CheckButton)
        wait_until(lambda: len(server.requests) == fetches, f"fetch number {fetches} of the report", timeout=20)
        self.assertEqual(server.requests[-1], path, "path requested by the check")
        wait_until(lambda: self.workdir.stamp("konta.txt") != before, "the check to end (konta.txt saved after it)",
                   timeout=20)

    def database_files(self):
        """The file names (as bytes) of the working directory other than the two
        files that every run has."""
        return [name for name in self.workdir.names() if name not in (b"konta.txt", b"temp.html")]

    def test_player_checks_a_report_and_appends_it(self):
        # The two-expedition report: items " Tarcza" with its leading blank and
        # "Miecz"; the second expedition has no luck value on the page, so
        # LuckField's 15 stands in for it.
        app, workdir = self.app, self.workdir
        report = fixture("two_expeditions.html")
        expected = (b"2;2;12;75;3;1;2;Miecz, Tarcza;\r\n"
                    b"2;2;15;40;7;0;2;;\r\n")
        workdir.write("konta.txt", konta(PAWEL))
        with LoopbackServer({"/wiadomosc?id=7": report}) as server:
            app.start()
            main, _ = app.windows()
            self.check_and_wait(main, server, "/wiadomosc?id=7", fetches=1)
            self.assertEqual(workdir.read("temp.html"), report, "temp.html after the check")
            self.assertFalse(workdir.exists(DATABASE), "the check alone wrote the database")
            app.screenshot("player-checked")

            main.click(AppendButton)
            self.assertEqual(workdir.read_grown(DATABASE, len(expected), f"{DATABASE} written by Dopisz"), expected,
                             f"{DATABASE} after Dopisz")
            self.assertEqual(self.database_files(), [DATABASE.encode("utf-8")], "database file name (UTF-8 bytes)")
            app.screenshot("player-appended")

            # A second Dopisz has nothing left to write. Dopisz also emptied
            # LinkField: the check pressed next fetches nothing, and the save that
            # follows it shows that the second Dopisz has been handled.
            main.click(AppendButton)
            before = workdir.stamp("konta.txt")
            main.click(CheckButton)
            wait_until(lambda: workdir.stamp("konta.txt") != before, "the check after the second Dopisz to end",
                       timeout=20)
            self.assertEqual(server.requests, ["/wiadomosc?id=7"], "requests (LinkField emptied by Dopisz)")
            self.assertEqual(workdir.read(DATABASE), expected, f"{DATABASE} after a second Dopisz")

            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code")
        self.assertEqual(workdir.read("konta.txt"), konta(PAWEL), "konta.txt after a run that changed no account")

    def test_player_appends_behind_an_existing_database(self):
        # One expedition whose item stands on the line after the report line:
        # a batch of one (column 7 is 1), the item's UTF-8 bytes unchanged. The
        # old contents stay as they are, and the same report checked and appended
        # twice stands there twice.
        app, workdir = self.app, self.workdir
        line = "2;2;8;60;5;1;1;Hełm;\r\n".encode("utf-8")
        old = "0;4;3;90;1;1;1;Złoty pierścień;\r\n".encode("utf-8")
        workdir.write("konta.txt", konta(PAWEL))
        workdir.write(DATABASE, old)
        with LoopbackServer({"/raport": fixture("item_on_later_line.html")}) as server:
            app.start()
            main, _ = app.windows()
            for n in (1, 2):
                self.check_and_wait(main, server, "/raport", fetches=n)
                main.click(AppendButton)
                expected = old + line * n
                self.assertEqual(workdir.read_grown(DATABASE, len(expected), f"Dopisz number {n} written"), expected,
                                 f"{DATABASE} after Dopisz number {n}")
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code")
        self.assertEqual(self.database_files(), [DATABASE.encode("utf-8")], "database file name (UTF-8 bytes)")

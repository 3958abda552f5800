"""A player's check and append over an https link: the report is fetched over
TLS from a loopback server whose certificate comes from a test CA, and the
account's database holds the right lines, byte for byte. A server whose
certificate the program cannot verify gives nothing: no request, temp.html
untouched, nothing to append.

The program trusts only the system's store; the test CA is added to it for
the run and the program's process only:
- Linux: SSL_CERT_FILE names the CA file (OpenSSL's own variable, read by
  every OpenSSL program), set in the program's environment.
- Windows (under Wine): the CA goes into the current user's Root store of the
  e2e Wine prefix (a registry import with regedit). These tests run for the
  Windows program only when it has its TLS back-end (it then imports
  Secur32.dll); before that they are not registered for it.
"""

import importlib.util
import subprocess
from pathlib import Path

import wine_trust
from display import keys, type_text, wait_until
from files import Account, fixture, konta
from layout import AppendButton, CheckButton, LinkField
from programs import KINDS, OUT, ROOT, WINDOWS_PROGRAM, WINE_RUN, ProgramTest, only
from web import LoopbackServer

ACCOUNT = "Paweł"
DATABASE = f"{ACCOUNT}.txt"
PAWEL = Account(ACCOUNT, zone=2, luck=15, kind=2)
CERTS = OUT / "tls"


def _tls_server_module():
    path = ROOT / "tests" / "support" / "tls_server.py"
    found = importlib.util.spec_from_file_location("tls_server", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def _windows_program_has_tls():
    try:
        return b"secur32.dll" in Path(WINDOWS_PROGRAM).read_bytes().lower()
    except OSError:
        return False


TLS_KINDS = KINDS if _windows_program_has_tls() else ("linux",)


def certificates():
    """The test CA and server certificates (made once, in build/e2e/tls)."""
    module = _tls_server_module()
    module.make_certificates(str(CERTS))
    return module


def server_context(leaf, issuer):
    return certificates().server_context(str(CERTS), leaf, issuer)


@only(*TLS_KINDS)
class HttpsTests(ProgramTest):

    def trust_test_ca(self):
        """What the program's process needs so that the test CA counts as the
        system's: its environment (Linux), or the Wine prefix's Root store."""
        certificates()
        if self.kind == "linux":
            return {"SSL_CERT_FILE": str(CERTS / "ca.pem")}
        try:
            wine_trust.trust_ca(str(CERTS / "ca.der"), wine_run=str(WINE_RUN))
        except (OSError, subprocess.SubprocessError) as error:
            self.fail(f"regedit could not import the test CA: {error}")
        return {}

    def check_link(self, main, link):
        """Types the link into the empty LinkField, presses "Sprawdz poprawość"
        and waits for the check to end (konta.txt is saved after each check)."""
        main.click(LinkField)
        type_text(link)
        before = self.workdir.stamp("konta.txt")
        main.click(CheckButton)
        wait_until(lambda: self.workdir.stamp("konta.txt") != before,
                   "the check to end (konta.txt saved after it)", timeout=30)

    def test_player_checks_and_appends_over_https(self):
        app = self.app
        report = fixture("two_expeditions.html")
        expected = (b"2;2;12;75;3;1;2;Miecz, Tarcza;\r\n"
                    b"2;2;15;40;7;0;2;;\r\n")
        self.workdir.write("konta.txt", konta(PAWEL))
        env = self.trust_test_ca()
        with LoopbackServer({"/wiadomosc?id=7": report}, tls=server_context("localhost", "ca")) as server:
            app.start(env=env)
            main, _ = app.windows()
            self.check_link(main, server.url("/wiadomosc?id=7"))
            self.assertEqual(server.requests, ["/wiadomosc?id=7"], "requests over TLS")
            self.assertEqual(self.workdir.read("temp.html"), report, "temp.html after the check")
            app.screenshot("https-checked")

            main.click(AppendButton)
            database = self.workdir.read_grown(DATABASE, len(expected), f"{DATABASE} written by Dopisz")
            self.assertEqual(database, expected, f"{DATABASE} after Dopisz")
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code")

    def test_https_server_that_cannot_be_verified_gives_nothing(self):
        app = self.app
        report = fixture("two_expeditions.html")
        old = b"<html>an earlier report</html>"
        self.workdir.write("konta.txt", konta(PAWEL))
        self.workdir.write("temp.html", old)
        env = self.trust_test_ca()
        main = None
        # Certificates the program must refuse: from a CA nobody trusts, and one
        # for another name.
        for leaf, issuer in (("untrusted", "untrusted-ca"), ("othername", "ca")):
            with LoopbackServer({"/wiadomosc?id=7": report}, tls=server_context(leaf, issuer)) as server:
                if not app.running():
                    app.start(env=env)
                    main, _ = app.windows()
                self.check_link(main, server.url("/wiadomosc?id=7"))
                self.assertEqual(server.requests, [], f"requests to the {leaf} server")
                self.assertEqual(self.workdir.read("temp.html"), old,
                                 f"temp.html after the check against the {leaf} server")
                # The failed check leaves LinkField as it was: empty it for the next.
                main.click(LinkField)
                keys("End", "shift+Home", "BackSpace")
        app.screenshot("https-refused")
        main.click(AppendButton)
        main.close_with_alt_f4()
        self.assertEqual(app.exit_code(), 0, "exit code")
        # Dopisz opens the database even with nothing pending: it stays empty.
        database = self.workdir.read(DATABASE) if self.workdir.exists(DATABASE) else b""
        self.assertEqual(database, b"", f"{DATABASE} after the checks")


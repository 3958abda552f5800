"""The Linux package as a player gets it: the program and its desktop
launcher unpacked from the .deb (dpkg-deb -x) into a temporary folder, started
under this X session and closed as a user closes them, with exit code 0.

Runs when WYPRAWY_PACKAGE_DEB names the .deb (scripts/test.sh sets it after
`cmake --build --preset linux --target package`)."""

import os
import subprocess
import tempfile
import unittest
from pathlib import Path

from display import keys, wait_until
from files import Account, konta
from layout import CLIENT_SIZES, ERROR_TITLE, MainWindow
from programs import ProgramTest, only

DEB = os.environ.get("WYPRAWY_PACKAGE_DEB")


@only("linux")
@unittest.skipUnless(DEB, "WYPRAWY_PACKAGE_DEB names no .deb")
class PackageTests(ProgramTest):

    def unpack(self, into):
        self.assertTrue(Path(DEB).is_file(), f"no package at {DEB}")
        result = subprocess.run(["dpkg-deb", "-x", DEB, str(into)], capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, f"dpkg-deb -x failed: {result.stderr.strip()}")
        return Path(into) / "usr" / "bin"

    def test_packaged_program_starts_and_closes(self):
        app, workdir = self.app, self.workdir
        with tempfile.TemporaryDirectory(prefix="wyprawy-deb-") as unpacked:
            program = self.unpack(unpacked) / "wyprawy"
            workdir.write("konta.txt", konta(Account("Anna", luck=7)))
            app.start(command=[str(program)])
            main, settings = app.windows()
            self.assertEqual((main.client().w, main.client().h), CLIENT_SIZES[MainWindow], "MainWindow's client size")
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code of the packaged program")
        self.assertEqual(workdir.read("konta.txt"), konta(Account("Anna", luck=7)), "konta.txt after the run")

    def test_desktop_launcher_works_in_the_players_folder(self):
        # What the desktop entry starts: wyprawy-start, with HOME the player's
        # home and the desktop's own working directory elsewhere. ~/Wyprawy
        # is made, and konta.txt (written at the close) lands there.
        app, workdir = self.app, self.workdir
        with tempfile.TemporaryDirectory(prefix="wyprawy-deb-") as unpacked:
            launcher = self.unpack(unpacked) / "wyprawy-start"
            home = workdir.path("home")
            home.mkdir()
            app.start(env={"HOME": str(home)}, command=[str(launcher)])
            box = app.window(ERROR_TITLE)  # first start: no konta.txt yet
            box.activate()
            keys("Return")
            wait_until(lambda: not box.visible(), "the message box to close on OK")
            main, _ = app.windows()
            main.close_with_alt_f4()
            self.assertEqual(app.exit_code(), 0, "exit code of the launcher's program")
        self.assertTrue((home / "Wyprawy").is_dir(), "~/Wyprawy not made")
        self.assertEqual((home / "Wyprawy" / "konta.txt").read_bytes(), b"0\r\n", "konta.txt in ~/Wyprawy")
        self.assertFalse(workdir.exists("konta.txt"), "konta.txt written in the desktop's working directory")

"""The Linux package as a player gets it: the program and its desktop
launcher unpacked from the .deb (dpkg-deb -x) into a temporary folder, started
under this X session and closed as a user closes them, with exit code 0.

Runs when WYPRAWY_PACKAGE_DEB names the .deb (scripts/test.sh sets it after
`cmake --build --preset linux --target package`)."""

import os
import tempfile

from harness import *  # noqa: F401,F403

DEB = os.environ.get("WYPRAWY_PACKAGE_DEB")


def unpack(deb, into):
    result = subprocess.run(["dpkg-deb", "-x", deb, str(into)], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, f"dpkg-deb -x failed: {result.stderr.strip()}")
    return Path(into) / "usr" / "bin"


def run_packaged(app, command, env=None):
    """Starts the packaged command in place of the built program."""
    app.command = lambda: command
    app.executable = lambda: command[0]
    return app.start(env=env)


if DEB:
    @test(only="linux")
    def test_packaged_program_starts_and_closes(app):
        check(Path(DEB).is_file(), f"no package at {DEB}")
        with tempfile.TemporaryDirectory(prefix="wyprawy-deb-") as unpacked:
            program = unpack(DEB, unpacked) / "wyprawy"
            app.write("konta.txt", konta(Account("Anna", luck=7)))
            run_packaged(app, [str(program)])
            main, settings = app.windows()
            check_equal((main.client().w, main.client().h), CLIENT_SIZES[MainWindow], "MainWindow's client size")
            main.close_with_alt_f4()
            check_equal(app.exit_code(), 0, "exit code of the packaged program")
        check_equal(app.read("konta.txt"), konta(Account("Anna", luck=7)), "konta.txt after the run")

    @test(only="linux")
    def test_desktop_launcher_works_in_the_players_folder(app):
        # What the desktop entry starts: wyprawy-start, with HOME the player's
        # home and the desktop's own working directory elsewhere. ~/Wyprawy
        # is made, and konta.txt (written at the close) lands there.
        check(Path(DEB).is_file(), f"no package at {DEB}")
        with tempfile.TemporaryDirectory(prefix="wyprawy-deb-") as unpacked:
            launcher = unpack(DEB, unpacked) / "wyprawy-start"
            home = app.workdir / "home"
            home.mkdir()
            run_packaged(app, [str(launcher)], env={"HOME": str(home)})
            box = app.window(ERROR_TITLE)  # first start: no konta.txt yet
            box.activate()
            keys("Return")
            wait_until(lambda: not box.visible(), "the message box to close on OK")
            main, _ = app.windows()
            main.close_with_alt_f4()
            check_equal(app.exit_code(), 0, "exit code of the launcher's program")
        check((home / "Wyprawy").is_dir(), "~/Wyprawy not made")
        check_equal((home / "Wyprawy" / "konta.txt").read_bytes(), b"0\r\n", "konta.txt in ~/Wyprawy")
        check(not app.exists("konta.txt"), "konta.txt written in the desktop's working directory")

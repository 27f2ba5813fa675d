"""Where Corvix runs its clean-up, under Wine, where every process runs with a full administrator token (as an
elevated uninstaller's does) and no desktop shell window is registered.

e2e_driver gives the run a desktop shell (desktop_shell.exe, started with the administrator's limited linked
token, registered with SetShellWindow): Corvix then runs the clean-up in a child in the shell's context, which
does what a direct run does. A shell whose process refuses to be a parent makes the launch fail: the run happens
in-process. Without a shell the run is today's. The LocalSystem branch (a child per active session, as the
session's user) cannot be reached here, as no process runs as LocalSystem under Wine; its decision and its
fallback are unit-tested (tests/unit/run_context_test.cc)."""
import os
import unittest
from pathlib import Path

from harness import Case, windows_path
from test_hostile import environment
from test_outlook import OUTLOOK
from test_word import DONE, WORD

DESKTOP_SHELL = os.environ.get("DESKTOP_SHELL_EXE", "")
# Word and Outlook running with the add-in's toolbars and marked menu items.
SCENARIO = "word running\n" + WORD + "outlook running window\n" + OUTLOOK
# TokenElevationType: a full administrator token, and an administrator's limited one.
FULL, LIMITED = "2", "3"


def processes(run):
    """The processes the driver saw under the program, and under the shell, as (name, exit code, elevation)."""
    codes = [value.rsplit(":", 3)[:2] for value in run.values("process")]
    elevations = [value.rsplit(":", 1)[1] for value in run.values("process_elevation")]
    return [(name, int(code), elevation) for (name, code), elevation in zip(codes, elevations)]


class DesktopShell(Case):
    def setUp(self):
        super().setUp()
        if not DESKTOP_SHELL or not Path(DESKTOP_SHELL).exists():
            self.fail(f"DESKTOP_SHELL_EXE is not set to a built program: {DESKTOP_SHELL!r}")

    def run_with_shell(self, arguments, **shell_options):
        """Corvix run with a desktop shell of the limited token; the shell is gone, and unregistered, after."""
        options = ["--tree", "--shell", windows_path(DESKTOP_SHELL)]
        if shell_options.get("deny_create_process"):
            options.append("--shell-deny-create-process")
        run = self.corvix(SCENARIO, arguments, driver_options=options)
        self.assertEqual("0", run["shell_window_before"])
        self.assertEqual("1", run["shell_registered"])
        self.assertEqual(LIMITED, run["shell_elevation"])
        self.assertEqual("0", run["shell_exit"])
        # The other tests of this Wine prefix see no shell window again.
        self.assertEqual("0", run["shell_window_after"])
        return run

    def assertEndedCleanly(self, run):
        self.assertEqual(FULL, run["elevation"], "the program that the installer started")
        self.assertEqual("0", run["exit_code"])
        for name, code, _ in processes(run):
            self.assertEqual(0, code, f"{name}'s exit code: {processes(run)}")

    def assertSameAsDirect(self, run, direct):
        self.assertEqual(direct.entries(), run.entries())
        self.assertEqual(direct.state, run.state)
        self.assertIn("bar 'Merrowin Software' deleted", run.state)
        self.assertIn("references held: 0", run.state)

    def test_elevated_run_cleans_in_a_child_with_the_shells_token(self):
        for arguments, messages in (("/s", []), ("", [DONE])):
            with self.subTest(arguments=arguments):
                direct = self.corvix(SCENARIO, arguments)
                run = self.run_with_shell(arguments)
                self.assertEndedCleanly(run)
                children = [p for p in processes(run) if p[0].lower() == "corvix.exe"]
                self.assertEqual([("Corvix.exe", 0, LIMITED)], children, processes(run))
                # Once, from the child: the parent shows none.
                self.assertEqual(messages, run.messages())
                self.assertSameAsDirect(run, direct)

    def test_a_launch_that_fails_runs_in_process(self):
        direct = self.corvix(SCENARIO, "")
        run = self.run_with_shell("", deny_create_process=True)
        self.assertEndedCleanly(run)
        self.assertEqual([], [p for p in processes(run) if p[0].lower() == "corvix.exe"], processes(run))
        self.assertEqual([DONE], run.messages())
        self.assertSameAsDirect(run, direct)

    def test_a_marked_copy_never_starts_another(self):
        # What a copy finds when its token did not change: elevated, under a shell of a lower token. The mark
        # its parent gave it keeps it from starting a copy of its own.
        direct = self.corvix(SCENARIO, "")
        with environment(CORVIX_RELAUNCHED="1"):
            run = self.run_with_shell("")
        self.assertEndedCleanly(run)
        self.assertEqual([], [p for p in processes(run) if p[0].lower() == "corvix.exe"], processes(run))
        self.assertEqual([DONE], run.messages())
        self.assertSameAsDirect(run, direct)

    def test_without_a_shell_the_run_is_in_process(self):
        run = self.corvix(SCENARIO, "", driver_options=["--tree"])
        self.assertEqual("0", run["shell_window_before"])
        self.assertEndedCleanly(run)
        self.assertEqual([], [p for p in processes(run) if p[0].lower() == "corvix.exe"], processes(run))
        self.assertEqual([DONE], run.messages())
        self.assertIn("bar 'Merrowin Software' deleted", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

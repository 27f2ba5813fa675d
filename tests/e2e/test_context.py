"""Where Corvix runs its clean-up, under Wine, where every process runs with a full administrator token (as an
elevated uninstaller's does) and no desktop shell window is registered.

e2e_driver gives the run a desktop shell window (desktop_shell.exe, started with the administrator's limited
linked token, registered with SetShellWindow): the elevated Corvix then finds itself under a shell of a lower
token and asks the desktop's shell to start a copy, through the shell's own automation. Wine's explorer.exe,
which owns Wine's desktop, serves that automation and starts the copy as its own child; the copy takes the run
that its parent handed over and does what a direct run does. Wine's explorer runs with the full token (it takes
the token of the prefix's first process, and cannot be replaced), so the copy's token is not the limited one
here; that the shell's copy has the shell's token rests on Microsoft's documentation. Without a shell the run
is today's. A shell of another user cannot be had under Wine (one user only); that decision is unit-tested
(tests/unit/run_context_test.cc), as is the LocalSystem branch."""
import os
import sys
import time
import unittest
from contextlib import contextmanager
from pathlib import Path

from harness import CORVIX, WAIT, Case, channel_lines, wine, windows_path
from test_pe import MACHINES, pe_header
from test_outlook import OUTLOOK
from test_word import DONE, WORD

DESKTOP_SHELL = os.environ.get("DESKTOP_SHELL_EXE", "")
# Word and Outlook running with the add-in's toolbars and marked menu items.
SCENARIO = "word running\n" + WORD + "outlook running window\n" + OUTLOOK
# TokenElevationType: a full administrator token, and an administrator's limited one.
FULL, LIMITED = "2", "3"
SYSTEM32 = "c:\\windows\\system32"
# Wine's per-program DLL settings for Corvix.exe, which a program's own WINEDLLOVERRIDES overrides.
APP_DLLS = r"HKCU\Software\Wine\AppDefaults\Corvix.exe\DllOverrides"
COPY_CAME = "Corvix: context: the shell's copy reported in after "
RUN_HERE_INSTEAD = "Corvix: context: this process's user is the desktop user: the run happens in this process instead"
# copies::kChildWaitMs, in seconds: the longest a run with a desktop shell may take.
CHILD_WAIT = 240


def processes(run):
    """The processes the driver saw under the program and its shell, and the copies of Corvix.exe wherever
    they came from, as (name, exit code, elevation, parent's name)."""
    codes = [value.rsplit(":", 3)[:2] for value in run.values("process")]
    elevations = [value.rsplit(":", 1)[1] for value in run.values("process_elevation")]
    parents = [value.split(":", 1)[1] for value in run.values("process_parent")]
    return [(name, int(code), elevation, parent)
            for (name, code), elevation, parent in zip(codes, elevations, parents)]


def copies(run):
    return [p for p in processes(run) if p[0].lower() == "corvix.exe"]


def folder(path):
    """A Windows folder as compared here: lower case, without a trailing backslash."""
    return path.lower().rstrip("\\")


def shell_automation(folder):
    """Wine's explorer serving the shell's automation, which the elevated Corvix reaches for: the result of
    desktop_shell.exe --automation once it answers (0x00000000), or its last one. An explorer that Wine
    started at the start of a session, before the service manager ran, never registered the ShellWindows
    object, and no program of that explorer's life reaches it (0x80040152, REGDB_E_KEYMISSING). Wine ends
    its explorer a second after the last program on its desktop has ended, and the next program starts a new
    one, which registers it: so a wait, with nothing running, and a second look."""
    report = folder / "automation.txt"
    deadline = time.time() + WAIT
    while True:
        report.unlink(missing_ok=True)  # a try that wrote nothing must not read the one before
        answered = wine(DESKTOP_SHELL, "--automation", windows_path(report), check=False).returncode == 0
        answer = report.read_text(encoding="utf-8").strip() if report.exists() else "no answer"
        if answered or time.time() > deadline:
            return answer
        print(f"harness: Wine's explorer serves no shell automation ({answer}); a new one is waited for",
              file=sys.stderr)
        time.sleep(2)


def model(state):
    """The stand-in's state without the count of references that its clients held, which ends it."""
    return state.rsplit("references held:", 1)[0]


def overrides(*more):
    """Wine's DLL overrides of this prefix, with `more`."""
    return ";".join([os.environ.get("WINEDLLOVERRIDES", "")] + list(more)).strip(";")


class ShellRuns:
    """Runs of Corvix under a desktop shell of the limited token, once Wine's explorer serves its automation."""

    def setUp(self):
        super().setUp()
        if not DESKTOP_SHELL or not Path(DESKTOP_SHELL).exists():
            self.fail(f"DESKTOP_SHELL_EXE is not set to a built program: {DESKTOP_SHELL!r}")
        # What Corvix is to find on a Windows desktop: a shell whose automation answers.
        self.assertEqual("0x00000000", shell_automation(self.root), "Wine's explorer serves no shell automation")

    def run_with_shell(self, arguments, driver_env=None, options=(), limit=WAIT):
        """Corvix run with a desktop shell of the limited token; the shell is gone, and unregistered, after.
        `driver_env`: variables for Corvix (and the shell), not for Wine's explorer: the running stand-in's
        window has started that already. `options`: more of the driver's options."""
        options = ["--tree", "--adopt", "Corvix.exe", "--shell", windows_path(DESKTOP_SHELL), *options]
        run = self.corvix(SCENARIO, arguments, driver_options=options, trace=True, driver_env=driver_env,
                          limit=limit)
        self.assertEqual("0", run["shell_window_before"])
        self.assertEqual("1", run["shell_registered"])
        self.assertEqual(LIMITED, run["shell_elevation"])
        self.assertEqual("0", run["shell_exit"])
        # The other tests of this Wine prefix see no shell window again.
        self.assertEqual("0", run["shell_window_after"])
        self.assertEqual(FULL, run["elevation"], "the program that the installer started")
        self.assertEqual("0", run["exit_code"])
        return run

    def assertSameAsDirect(self, run, direct):
        self.assertEqual(direct.entries(), run.entries())
        self.assertEqual(direct.state, run.state)
        self.assertIn("bar 'Merrowin Software' deleted", run.state)
        self.assertIn("references held: 0", run.state)

    @contextmanager
    def copies_blocked(self):
        """Copies of Corvix.exe that the shell starts fail to load (as a security product's block does): Wine
        is told, for Corvix.exe, to load no OLEAUT32, which it imports. The Corvix that the driver starts is
        given the DLL back through the overrides it is started with, which take precedence; the shell's copy
        takes the explorer's."""
        wine("reg", "add", APP_DLLS, "/v", "oleaut32", "/d", "", "/f")
        try:
            yield {"WINEDLLOVERRIDES": overrides("oleaut32=b")}
        finally:
            wine("reg", "delete", APP_DLLS.rsplit("\\", 1)[0], "/f", check=False)


class DesktopShell(ShellRuns, Case):
    def test_elevated_the_shell_starts_the_copy_that_cleans(self):
        for arguments, messages in (("/s", []), ("", [DONE])):
            with self.subTest(arguments=arguments):
                direct = self.corvix(SCENARIO, arguments)
                run = self.run_with_shell(arguments)
                # One copy, started by the desktop's shell itself, never by Corvix.
                self.assertEqual([("Corvix.exe", 0, FULL, "explorer.exe")], copies(run), processes(run))
                # Once, from the copy: the parent shows none.
                self.assertEqual(messages, run.messages())
                self.assertSameAsDirect(run, direct)
                lines = run.trace()
                self.assertIn("Corvix: context: elevated, under the desktop shell of its user, which is not "
                              "elevated: the desktop shell is asked to start a copy, which does the run", lines)
                self.assertEqual(1, sum(line.startswith(COPY_CAME) and " and ended after " in line
                                        for line in lines), lines)

    def test_neither_corvix_nor_its_copy_holds_the_folder_it_came_from(self):
        if pe_header(Path(CORVIX).read_bytes()) != MACHINES["x86-64"]:
            self.skipTest("the driver, a 64-bit program, does not read a 32-bit process's current directory")
        run = self.run_with_shell("/s")
        self.assertEqual(1, len(copies(run)), processes(run))
        self.assertEqual([SYSTEM32, SYSTEM32], [folder(run["program_cwd"])] + [
            folder(value.split(":", 1)[1]) for value in run.values("process_cwd") if value.lower().startswith("corvix.exe:")])

    def test_a_copy_that_never_reports_in_leaves_the_run_to_this_process(self):
        direct = self.corvix(SCENARIO, "")
        with self.copies_blocked() as program_env:
            run = self.run_with_shell("", program_env)
        # The shell did start it (a 32-bit one may fail too early to be seen at all); it never ran.
        self.assertLessEqual(len(copies(run)), 1, processes(run))
        self.assertTrue(all(code != 0 for _, code, _, _ in copies(run)), processes(run))
        lines = run.trace()
        self.assertIn("Corvix: context: no copy reported in within 30.00 s of the shell's start of it: it was "
                      "blocked, refused or never started", lines)
        self.assertIn(RUN_HERE_INSTEAD, lines)
        self.assertFalse([line for line in lines if line.startswith(COPY_CAME)], lines)
        # Its user is the desktop user: the run happens here, once, message and all.
        self.assertEqual([DONE], run.messages())
        self.assertSameAsDirect(run, direct)

    def test_without_the_shells_automation_the_run_is_in_process(self):
        direct = self.corvix(SCENARIO, "/s")
        # The program cannot reach the shell's automation: its interfaces cannot be marshalled to it.
        run = self.run_with_shell("/s", {"WINEDLLOVERRIDES": overrides("actxprxy=d")})
        self.assertEqual([], copies(run), processes(run))
        lines = run.trace()
        self.assertTrue([line for line in lines
                         if line.startswith("Corvix: context: the desktop shell could not be asked to start a "
                                            "copy: 0x")], lines)
        self.assertEqual([], run.messages())
        self.assertSameAsDirect(run, direct)

    def test_a_shell_that_cannot_be_opened_is_asked_for_the_copy(self):
        direct = self.corvix(SCENARIO, "/s")
        # Its process lets only LocalSystem in, as another user's shell does.
        run = self.run_with_shell("/s", options=["--shell-locked"])
        self.assertEqual("0", run["shell_openable"])
        self.assertIn("Corvix: context: elevated, under a desktop shell it cannot open (another user's): the "
                      "desktop shell is asked to start a copy, which does the run", run.trace())
        self.assertEqual([("Corvix.exe", 0, FULL, "explorer.exe")], copies(run), processes(run))
        # The clean-ups' lines come from one process, the copy's: the elevated Corvix made no call to Office.
        cleaners = {pid for pid, text in channel_lines(run.folder / "channel.txt")
                    if text.startswith(("Corvix: Word: ", "Corvix: Outlook: "))}
        self.assertEqual(1, len(cleaners), cleaners)
        self.assertNotIn(int(run["program_pid"]), cleaners)
        self.assertSameAsDirect(run, direct)

    def test_without_a_shell_the_run_is_in_process(self):
        run = self.corvix(SCENARIO, "", driver_options=["--tree", "--adopt", "Corvix.exe"])
        self.assertEqual("0", run["shell_window_before"])
        self.assertEqual("0", run["exit_code"])
        self.assertEqual([], copies(run), processes(run))
        self.assertEqual([DONE], run.messages())
        self.assertIn("bar 'Merrowin Software' deleted", run.state)


class HungShell(ShellRuns, Case):
    """The desktop shell's automation does not answer: the thread of Wine's explorer that serves it is suspended
    from before Corvix starts until it has ended."""

    def test_a_shell_that_does_not_answer_leaves_the_run_to_this_process(self):
        for arguments, messages in (("/s", []), ("", [DONE])):
            with self.subTest(arguments=arguments):
                direct = self.corvix(SCENARIO, arguments)
                run = self.run_with_shell(arguments, options=["--suspend-shell-automation"],
                                          limit=CHILD_WAIT + WAIT)
                self.assertEqual("1", run["shell_automation_suspended"])
                self.assertEqual([], copies(run), processes(run))
                lines = run.trace()
                self.assertIn("Corvix: context: the desktop shell could not be asked to start a copy: no answer "
                              "within 10.00 s", lines)
                self.assertIn(RUN_HERE_INSTEAD, lines)
                self.assertEqual(messages, run.messages())
                self.assertSameAsDirect(run, direct)

    def test_a_shell_that_answers_after_the_give_up_starts_no_copy(self):
        direct = self.corvix(SCENARIO, "")
        # The shell answers again while Corvix shows its message: the given-up request must never be made.
        run = self.run_with_shell("", options=["--suspend-shell-automation", "--resume-at-message"],
                                  limit=CHILD_WAIT + WAIT)
        self.assertEqual("1", run["shell_automation_resumed_at_message"])
        self.assertEqual([], copies(run), processes(run))
        self.assertEqual([DONE], run.messages())
        self.assertSameAsDirect(run, direct)


class WindowStation(Case):
    """Corvix started on a window station of its own, which no user sees (WSF_VISIBLE clear), with Word and
    Outlook running on the user's."""

    def test_on_a_station_that_no_user_sees_no_office_is_reached(self):
        run = self.corvix(SCENARIO, "", driver_options=["--tree", "--station", "CorvixUnseen"], trace=True)
        self.assertEqual(("1", "0"), (run["station"], run["station_visible"]))
        self.assertEqual("0", run["exit_code"])
        self.assertIn("Corvix: context: on a window station that no user sees: no user's Office can be reached; "
                      "no Office is started, nothing runs", run.trace())
        self.assertEqual([], run.entries())
        self.assertEqual(model((run.folder / "initial_state.txt").read_text(encoding="utf-8")), model(run.state))
        self.assertEqual([], run.messages())


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""Corvix.exe under hostile conditions, under Wine: odd folders and command lines, DLLs planted in the folder
it runs from, and what the user must never see."""
import os
import shutil
import unittest
from contextlib import contextmanager

from harness import CORVIX, Case, windows_path, wine
from test_word import DONE, WORD

PLANTED_DLL = os.environ.get("PLANTED_DLL", "")
PROBE = os.environ.get("PROBE_EXE", "")
RUNNING_WORD = "word running\n" + WORD
# CreateProcess takes at most 32,767 characters, the terminating null included.
COMMAND_LINE_LIMIT = 32766


@contextmanager
def environment(**values):
    saved = {key: os.environ.get(key) for key in values}
    os.environ.update(values)
    try:
        yield
    finally:
        for key, value in saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value


class CommandLines(Case):
    def install(self, *folders):
        """A copy of Corvix.exe in the given folders under the test's root."""
        target = self.root.joinpath(*folders)
        target.mkdir(parents=True)
        return shutil.copy(CORVIX, target / "Corvix.exe")

    def test_started_from_a_folder_whose_path_has_spaces(self):
        exe = self.install("Program Files (x86)", "Merrowin Soft")
        for arguments, messages in (("/s", []), ("", [DONE])):
            with self.subTest(arguments=arguments):
                run = self.corvix(RUNNING_WORD, arguments, exe=exe)
                self.assertEqual(messages, run.messages())
                self.assertEqual("0", run["exit_code"])
                self.assertIn("bar 'Merrowin Software' deleted", run.state)

    def test_a_command_line_at_the_limit(self):
        exe = self.install("Program Files (x86)", "Merrowin Soft")
        room = COMMAND_LINE_LIMIT - len(windows_path(exe)) - 3  # the quotes around the path and one space
        for name, unit in (("ascii", "/s x\t\"y\" "), ("non-ascii", "\u00e4\u03a9\u4e2d\"\t ")):
            with self.subTest(name):
                arguments = (unit * (room // len(unit) + 1))[:room]
                run = self.corvix("word installed\n", arguments, register=False, exe=exe)
                self.assertEqual([DONE], run.messages())
                self.assertEqual("0", run["exit_code"])


# DLL names that Windows programs look for by name at run time (the theme library comctl32 loads, for one).
# Not planted, because Wine's loader takes them from the program's folder whatever the program does:
#   version.dll, imm32.dll  Wine's own user32 and comctl32 import them, so they are loaded while the process
#                           starts, before any of the program's code runs (on Windows user32 does not import
#                           version.dll, and imm32.dll is one of the system's known DLLs);
#   msimg32.dll             Wine's uxtheme delay-loads it when a themed control is painted, and Wine resolves
#                           delay-loaded imports with the default search order, ignoring the program's
#                           SetDefaultDllDirectories (Windows applies it to every load the program makes).
# wtsapi32.dll and userenv.dll: what Corvix loads itself to start its children as LocalSystem (never reached
# under Wine, where no process runs as LocalSystem; planted all the same).
PLANTED = ["uxtheme.dll", "dwmapi.dll", "cryptbase.dll", "profapi.dll", "comctl32.dll", "winmm.dll", "wtsapi32.dll",
           "userenv.dll"]
# Wine would otherwise use its own (builtin) copy of some of them whatever lies in the folder.
PREFER_PLANTED = "mscoree,mshtml=;" + ",".join(name[:-4] for name in PLANTED) + "=n,b"


class UninstallFolder(Case):
    def plant(self, folder):
        folder.mkdir(parents=True)
        for name in PLANTED:
            shutil.copy(PLANTED_DLL, folder / name)

    def loaded(self, folder):
        """The planted DLLs that were loaded, each with the program that loaded it."""
        return sorted(f"{path.name[:-len('.loaded')]} by {path.read_bytes().decode('utf-16-le', 'replace')}"
                      for path in folder.glob("*.loaded"))

    def test_planted_dlls_are_loaded_by_a_program_that_searches_its_folder(self):
        # The control: without a restricted search the planted DLLs are loaded, so the check below can fail.
        folder = self.root / "control"
        self.plant(folder)
        probe = shutil.copy(PROBE, folder / "dll_probe.exe")
        with environment(WINEDLLOVERRIDES=PREFER_PLANTED):
            wine(probe, *PLANTED, check=False)
        self.assertEqual(sorted(f"{name} by {windows_path(probe)}" for name in PLANTED), self.loaded(folder))

    def test_corvix_loads_none_of_the_dlls_planted_beside_it(self):
        folder = self.root / "Merrowin Soft"
        self.plant(folder)
        exe = shutil.copy(CORVIX, folder / "Corvix.exe")
        with environment(WINEDLLOVERRIDES=PREFER_PLANTED):
            run = self.corvix(RUNNING_WORD, "", exe=exe)
        self.assertEqual([], self.loaded(folder))
        self.assertEqual([DONE], run.messages())
        self.assertEqual("0", run["exit_code"])
        self.assertIn("bar 'Merrowin Software' deleted", run.state)


class Unseen(Case):
    def test_host_window_never_visible_and_message_on_the_taskbar_in_front(self):
        for arguments in ("", "/s"):
            with self.subTest(arguments=arguments):
                run = self.corvix(RUNNING_WORD, arguments)
                self.assertEqual("1", run["frmMain_seen"])
                self.assertEqual("0", run["frmMain_visible"])
                self.assertEqual([], run.values("visible_other"))
                if arguments == "":
                    self.assertEqual([DONE], run.messages())
                    self.assertEqual("0", run["message1_owner"])  # its own taskbar entry
                    self.assertEqual("1", run["message1_foreground"])

    def test_a_hidden_start_still_shows_the_message(self):
        # Started as an installer's "run hidden" does (STARTF_USESHOWWINDOW, SW_HIDE) without /s: the hidden
        # form takes that state, and the box is shown. A box left hidden is never pressed: the driver then ends
        # Corvix at the limit, and the run fails.
        run = self.corvix(RUNNING_WORD, "", driver_options=("--hidden",), limit=30)
        self.assertEqual("1", run["started_hidden"])
        self.assertEqual("0", run["exit_code"])
        self.assertEqual([DONE], run.messages())  # reported once visible, then pressed
        self.assertEqual("0", run["message1_iconic"])
        self.assertEqual("0", run["frmMain_visible"])
        self.assertEqual([], run.values("visible_other"))
        self.assertIn("bar 'Merrowin Software' deleted", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

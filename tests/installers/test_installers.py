"""The example installers (examples/installers) under Wine: each is installed silently, then removed silently
while the stand-in Office runs with the add-in's toolbars, and the removal's Corvix run must do exactly what
a direct run of Corvix.exe does, end with exit code 0, show no window, and end before the files go. The
installer snippets of docs/installers.md are lines of these examples, and the MSI's tables say what Windows Installer
needs for the custom action.

INSTALLER_EXE is the NSIS installer, INSTALLER_MSI the Windows Installer package, MSIINFO msitools' msiinfo;
the harness's CORVIX_EXE, STANDIN_EXE and DRIVER_EXE as for the other end-to-end tests."""
import os
import re
import shutil
import subprocess
import time
import unittest
from pathlib import Path

from harness import WAIT, Case, windows_path, wine
from test_outlook import OUTLOOK
from test_word import WORD

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
EXAMPLES = ROOT / "examples" / "installers"
SETUP = os.environ.get("INSTALLER_EXE", "")
MSI = os.environ.get("INSTALLER_MSI", "")
MSIINFO = os.environ.get("MSIINFO", "msiinfo")
DRIVER = os.environ.get("DRIVER_EXE", "")

# Word and Outlook running with the add-in's toolbars and marked menu items, and things of others beside them.
SCENARIO = "word running\n" + WORD + "outlook running window\n" + OUTLOOK
SLOW = SCENARIO + "slow 50\n"

# Processes that Wine starts on its own the first time a program needs them (the desktop, services); they
# may show up under the installer's tree, and are not the installer's.
WINE_HELPERS = {"explorer.exe", "services.exe", "rpcss.exe", "plugplay.exe", "winedevice.exe", "svchost.exe",
                "conhost.exe", "rundll32.exe", "wineboot.exe"}
INSTALLED = ("Corvix.exe", "MerrowinAddin.txt")


def msiexec():
    return Path(os.environ["WINEPREFIX"]) / "drive_c" / "windows" / "system32" / "msiexec.exe"


def processes(run):
    """The processes e2e_driver saw under the program, as (name, exit code, first seen ms, ended ms)."""
    out = []
    for value in run.values("process"):
        name, code, seen, ended = value.rsplit(":", 3)
        out.append((name, int(code), int(seen), int(ended)))
    return out


class Installer(Case):
    """Install, then remove while the stand-in runs, through e2e_driver --tree."""

    def setUp(self):
        super().setUp()
        self.installed = self.root / "install dir"  # a space, as in "Program Files"

    def install(self, program, arguments):
        """Runs the installer through the driver, without the stand-in, and returns its report."""
        folder = self.root / "install-run"
        folder.mkdir()
        (folder / "arguments.txt").write_bytes(arguments.encode("utf-8"))
        start = time.monotonic()
        wine(DRIVER, windows_path(program), windows_path(folder / "arguments.txt"), windows_path(folder / "report.txt"),
             "--tree", "--timeout-ms", str(WAIT * 1000), timeout=WAIT * 2)
        print(f"\n  install: {time.monotonic() - start:.1f} s", end=" ", flush=True)
        lines = [line for line in (folder / "report.txt").read_text(encoding="utf-8").splitlines() if "=" in line]
        report = dict(line.split("=", 1) for line in lines)
        self.assertEqual("0", report.get("timed_out"), "the install did not end")
        self.assertEqual("0", report.get("exit_code"), "the installer's exit code")
        self.assertEqual("0", report.get("messages"), "the silent install showed a message")
        self.assertNotIn("visible_other", report, "the silent install showed a window")
        for name in INSTALLED:
            self.assertTrue((self.installed / name).is_file(), f"{name} was not installed")
        return report

    def uninstall(self, program, arguments, scenario=SCENARIO):
        """Removes the add-in while the stand-in runs seeded with `scenario`; the run of the whole tree."""
        start = time.monotonic()
        run = self.corvix(scenario, arguments, exe=program, driver_options=[
            "--tree", "--timeout-ms", str(WAIT * 1000), "--watch-gone", windows_path(self.installed / "MerrowinAddin.txt")])
        print(f"uninstall: {time.monotonic() - start:.1f} s", end=" ", flush=True)
        return run

    def direct(self, scenario=SCENARIO):
        """What Corvix.exe /s does to the same scenario when run by itself."""
        return self.corvix(scenario)

    def check_removal(self, run, direct, uninstaller_names):
        """The removal ran Corvix once, did what a direct run does, ended cleanly and then removed the files."""
        self.assertEqual("0", run["exit_code"], "the uninstaller's exit code")
        tree = processes(run)
        ours = [p for p in tree if p[0].lower() not in WINE_HELPERS]
        corvix = [p for p in ours if p[0].lower() == "corvix.exe"]
        self.assertEqual(1, len(corvix), f"Corvix.exe should run once under the uninstaller: {tree}; "
                                         f"taken for another's: {run.values('not_child')}; {len(run.journal)} calls")
        for name, code, _, _ in ours:
            self.assertIn(name.lower(), {"corvix.exe"} | uninstaller_names, f"an unexpected process: {tree}")
            self.assertEqual(0, code, f"{name}'s exit code")
        # The same calls in the same order, and the same final state, as a run of Corvix.exe by itself.
        self.assertEqual(direct.entries(), run.entries())
        self.assertEqual(direct.state, run.state)
        self.assertIn("bar 'Merrowin Software' deleted", run.state)
        self.assertIn("references held: 0", run.state)
        # Silent: no message, no window of any process of the tree.
        self.assertEqual([], run.messages())
        self.assertEqual("0", run["frmMain_visible"])
        self.assertEqual([], run.values("visible_other"))
        # The files went, and only after Corvix had ended.
        for name in INSTALLED:
            self.assertFalse((self.installed / name).exists(), f"{name} was not removed")
        gone = int(run["gone_ms"])
        _, _, corvix_seen, corvix_ended = corvix[0]
        print(f"Corvix ran from {corvix_seen} to {corvix_ended} ms, the add-in's file was gone at {gone} ms",
              end=" ", flush=True)
        self.assertGreaterEqual(gone, corvix_ended, "the add-in's files were removed while Corvix ran")
        return corvix[0]


@unittest.skipUnless(SETUP, "INSTALLER_EXE is not set")
class NsisInstaller(Installer):
    def test_silent_uninstall_runs_corvix_then_removes_the_files(self):
        direct = self.direct()
        self.install(SETUP, "/S /D=" + windows_path(self.installed))
        # The uninstaller relaunches itself from a temporary folder (as Un.exe; Au_.exe before NSIS 3) and
        # the first process ends at once: the driver waits for the whole tree.
        run = self.uninstall(self.installed / "Uninstall.exe", "/S")
        self.check_removal(run, direct, {"uninstall.exe", "un.exe"})
        self.assertIn("un.exe", [p[0].lower() for p in processes(run)], "the uninstaller did not relaunch")
        self.assertFalse(self.installed.exists(), "the install folder was not removed")

    def test_uninstall_in_place_waits_for_a_slow_corvix(self):
        direct = self.direct(SLOW)
        self.install(SETUP, "/S /D=" + windows_path(self.installed))
        # _?= runs the uninstaller in place, so that its one process ends with the uninstall. The folder
        # follows unquoted; the uninstaller itself stays, as NSIS does for an in-place run.
        run = self.uninstall(self.installed / "Uninstall.exe", "/S _?=" + windows_path(self.installed))
        self.check_removal(run, direct, {"uninstall.exe"})
        self.assertNotIn("un.exe", [p[0].lower() for p in processes(run)])


@unittest.skipUnless(MSI, "INSTALLER_MSI is not set")
class MsiInstaller(Installer):
    """Installed where the package puts it, C:\\Program Files (x86)\\Merrowin Software\\Add-in: Wine's
    removal works the folders out from the Directory table again, so a folder given at install time
    (INSTALLDIR=...) would be left behind by Wine."""

    def setUp(self):
        super().setUp()
        self.installed = (Path(os.environ["WINEPREFIX"]) / "drive_c" / "Program Files (x86)" / "Merrowin Software"
                          / "Add-in")
        # A test that fails half-way must not leave the product installed for the next one.
        self.addCleanup(shutil.rmtree, self.installed.parent, True)
        self.addCleanup(wine, msiexec(), "/x", windows_path(MSI), "/qn", check=False)

    def test_silent_removal_runs_corvix_then_removes_the_files(self):
        direct = self.direct()
        self.install(msiexec(), f"/i {windows_path(MSI)} /qn")
        run = self.uninstall(msiexec(), f"/x {windows_path(MSI)} /qn")
        self.check_removal(run, direct, {"msiexec.exe"})

    def test_removal_waits_for_a_slow_corvix(self):
        direct = self.direct(SLOW)
        self.install(msiexec(), f"/i {windows_path(MSI)} /qn")
        run = self.uninstall(msiexec(), f"/x {windows_path(MSI)} /qn", SLOW)
        self.check_removal(run, direct, {"msiexec.exe"})


@unittest.skipUnless(MSI, "INSTALLER_MSI is not set")
class MsiTables(unittest.TestCase):
    """What Windows Installer itself needs, which Wine does not check: a deferred custom action must run
    inside the script, between InstallInitialize and InstallFinalize (error 2762 otherwise), and here before
    RemoveFiles, while Corvix.exe is still there."""

    @classmethod
    def setUpClass(cls):
        cls.tables = {}
        for table in ("CustomAction", "InstallExecuteSequence", "File"):
            text = subprocess.run([MSIINFO, "export", MSI, table], check=True, capture_output=True, text=True).stdout
            header, _types, _keys, *rows = text.splitlines()
            cls.tables[table] = [dict(zip(header.split("\t"), row.split("\t"))) for row in rows]

    def test_custom_action_runs_the_installed_corvix_deferred_impersonated_and_ignored(self):
        action = {row["Action"]: row for row in self.tables["CustomAction"]}["RemoveToolbars"]
        kind = int(action["Type"])
        self.assertEqual(18, kind & 0x3F, "an EXE run from an installed file (msidbCustomActionTypeExe + SourceFile)")
        self.assertTrue(kind & 0x400, "deferred (msidbCustomActionTypeInScript)")
        self.assertFalse(kind & 0x800, "impersonated: no msidbCustomActionTypeNoImpersonate")
        self.assertTrue(kind & 0x40, "exit code ignored (msidbCustomActionTypeContinue)")
        self.assertEqual("/s", action["Target"])
        files = {row["File"]: row for row in self.tables["File"]}
        self.assertEqual("Corvix.exe", files[action["Source"]]["FileName"].split("|")[-1])

    def test_custom_action_sequenced_after_install_initialize_before_remove_files_on_removal(self):
        sequence = {row["Action"]: row for row in self.tables["InstallExecuteSequence"]}
        ours = int(sequence["RemoveToolbars"]["Sequence"])
        self.assertLess(int(sequence["InstallInitialize"]["Sequence"]), ours)
        self.assertLess(ours, int(sequence["RemoveFiles"]["Sequence"]))
        self.assertEqual('REMOVE="ALL"', sequence["RemoveToolbars"]["Condition"])


class DocumentedSnippets(unittest.TestCase):
    """The NSIS and WiX snippets of docs/installers.md are the example files' own lines, in the same order."""

    def snippet(self, heading):
        text = (ROOT / "docs" / "installers.md").read_text(encoding="utf-8")
        after = text.split("\n" + heading, 1)[1]
        block = re.match(r"[^\n]*\n\n((?:    [^\n]*\n|\n)+)", after).group(1)
        return [line[4:] for line in block.rstrip("\n").splitlines() if line.strip()]

    def assertLinesInOrder(self, lines, path):
        """Each line is one of the file's, after the previous one's (indentation aside: the documented
        snippet stands alone, the file's lines sit inside their element)."""
        remaining = iter(path.read_text(encoding="utf-8").splitlines())
        for line in lines:
            self.assertTrue(any(line.strip() == candidate.strip() for candidate in remaining),
                            f"{path.name} has no {line!r} here")

    def test_nsis_snippet_is_from_addin_nsi(self):
        lines = self.snippet("NSIS")
        self.assertIn("  ExecWait '\"$INSTDIR\\Corvix.exe\" /s'", lines)
        self.assertLinesInOrder(lines, EXAMPLES / "addin.nsi")

    def test_wix_snippet_is_from_addin_wxs(self):
        lines = self.snippet("WiX")
        self.assertTrue(any("ExeCommand=\"/s\"" in line for line in lines))
        self.assertLinesInOrder(lines, EXAMPLES / "addin.wxs")


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""Corvix.exe against the stand-in Outlook (and Word and Outlook together), under Wine."""
import contextlib
import os
import pwd
import unittest
from pathlib import Path

from harness import Case, wine
from test_word import DONE, WORD, WORD_DELETES

# Outlook's main window with the add-in's bar and Tools items; a mail item first in the Inbox, whose
# window has the add-in's bar and Actions items.
OUTLOOK = """
  explorer
    bar "Merrowin Software"
      button "Find"
      popup "More"
      button "Send"
    bar "Menu Bar" active
      popup "&File"
      popup "&Tools"
        button "Ours" parameter "Inspector Menu"
        button "Rules"
        button "Lower" parameter "Explorer menu"
        popup "Forms"
        button "Explorer item" parameter "Explorer Menu"
  inbox
    mail "Hello"
      bar "Merrowin Software"
        button "Reply with Merrowin"
      bar "Menu Bar" active
        popup "&Actions"
          button "Forward"
          button "Ours" parameter "Explorer Menu"
          button "Also ours" parameter "Inspector Menu"
          button "Upper" parameter "INSPECTOR MENU"
    mail "Second"
      bar "Merrowin Software"
        button "Not reached"
"""

MAIN_WINDOW_DELETES = ["button 'Send'.Delete()", "button 'Find'.Delete()", "explorer bar 'Merrowin Software'.Delete()",
                       "button 'Explorer item'.Delete()", "button 'Ours'.Delete()"]
ITEM_WINDOW_DELETES = ["button 'Reply with Merrowin'.Delete()", "inspector bar 'Merrowin Software'.Delete()",
                       "button 'Also ours'.Delete()", "button 'Ours'.Delete()"]


# What an Outlook 2007 that is not running would meet at a start, as it keeps it for the user: its stored bars'
# file under the roaming application data folder, the default mail profile, and "Prompt for a profile to be used".
PROFILES_KEY = r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging Subsystem\Profiles"
OPTIONS_KEY = r"HKCU\Software\Microsoft\Exchange\Client\Options"


def bars_file():
    """outcmd.dat in the prefix's roaming folder of the user Wine runs as (named after the Unix user)."""
    user = pwd.getpwuid(os.getuid()).pw_name
    roaming = Path(os.environ["WINEPREFIX"]) / "drive_c" / "users" / user / "AppData" / "Roaming"
    return roaming / "Microsoft" / "Outlook" / "outcmd.dat"


def read_line(version, bars, profile, prompt):
    """The channel's line on what was read before a start of Outlook 2007, up to its verdict."""
    where = "C:\\users\\" + pwd.getpwuid(os.getuid()).pw_name + "\\AppData\\Roaming\\Microsoft\\Outlook\\outcmd.dat"
    return (f"Corvix: Outlook: not running; {version} is registered, one that kept the bars; read: {where} {bars}, "
            f"DefaultProfile {profile}, PickLogonProfile {prompt}")


class OutlookSettings(Case):
    """A case that writes Outlook's stored bars and profile settings into the prefix, and takes them out again
    whatever happens, so that no other test meets them."""

    @contextlib.contextmanager
    def user_settings(self, bars=False, profile=None, prompt=None):
        path = bars_file()
        written = []
        try:
            if bars:
                self.assertTrue(path.parents[2].is_dir(), f"no roaming folder at {path.parents[2]}")
                path.parent.mkdir(parents=True, exist_ok=True)
                written.append(path)
                path.write_bytes(b"\0" * 64)  # its content is Outlook's own; only whether it is there counts
            for key, name, value in ((PROFILES_KEY, "DefaultProfile", profile),
                                     (OPTIONS_KEY, "PickLogonProfile", prompt)):
                if value is not None:
                    written.append((key, name))
                    wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
            yield
        finally:
            for what in written:
                if isinstance(what, Path):
                    what.unlink(missing_ok=True)
                else:
                    wine("reg", "delete", what[0], "/v", what[1], "/f", check=False)


class RunningOutlook(Case):
    def test_both_windows_cleaned_nothing_opened_outlook_stays(self):
        run = self.corvix("outlook running window\n" + OUTLOOK)
        self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
        self.assertEqual([], run.calls("Add"))
        self.assertEqual([], run.calls("Display"))
        self.assertEqual([], run.calls("Quit"))
        self.assertIn("outlook: running yes, started no, quit 0", run.state)
        for kept in ("button 'Rules'", "button 'Lower' parameter 'Explorer menu'", "popup 'Forms'",
                     "button 'Forward'", "button 'Upper' parameter 'INSPECTOR MENU'", "button 'Not reached'"):
            self.assertIn(kept, run.state)
        self.assertIn("mail 'Hello' (item window created, never displayed)", run.state)
        self.assertIn("mail 'Second' (no item window)", run.state)
        # The first item is asked for through the default member with a 16-bit index; its Class says it is a
        # mail item.
        self.assertEqual(["Inbox items.(default)(I2 1)"], run.calls("(default)"))
        self.assertEqual(["mail 'Hello'.Class() -> I4 43"], run.entries("Class"))
        self.assertIn("references held: 0", run.state)

    def test_without_a_main_window_nothing_is_touched(self):
        run = self.corvix("outlook running\n" + OUTLOOK)
        self.assertEqual(["Outlook.ActiveExplorer()"], [c for c in run.calls() if not c.startswith("ROT")])
        self.assertIn("outlook: running yes, started no, quit 0", run.state)
        self.assertIn("main window: none", run.state)

    def test_bar_only_in_the_item_window(self):
        run = self.corvix('outlook running window\n  inbox\n    mail "Hello"\n      bar "Merrowin Software"\n'
                          '        button "Reply with Merrowin"\n')
        self.assertEqual(["button 'Reply with Merrowin'.Delete()", "inspector bar 'Merrowin Software'.Delete()"],
                         run.calls("Delete"))

    def test_no_item_window_without_a_mail_item_first(self):
        for inbox in ('  inbox\n    meeting "Review"\n    mail "Hello"\n      bar "Merrowin Software"\n',
                      '  inbox\n'):
            with self.subTest(inbox=inbox):
                run = self.corvix('outlook running window\n  explorer\n    bar "Merrowin Software"\n'
                                  '      button "Find"\n' + inbox)
                self.assertEqual(["button 'Find'.Delete()", "explorer bar 'Merrowin Software'.Delete()"],
                                 run.calls("Delete"))
                self.assertEqual([], run.calls("GetInspector"))
                self.assertIn("references held: 0", run.state)


class StartedOutlook(Case):
    def test_inbox_opened_in_a_new_main_window_cleaned_and_quit(self):
        run = self.corvix("outlook installed\n" + OUTLOOK)
        # Right after the start, Outlook is asked for its windows: one that automation started has none.
        self.assertEqual(['COM.CoCreateInstance("Outlook.Application")', "Outlook.Explorers()",
                          "Explorers.Count() -> I4 0", "Outlook.Inspectors()", "Inspectors.Count() -> I4 0"],
                         [e.split(" -> ")[0] if e.startswith(("COM.", "Outlook.")) else e for e in run.entries()[:5]])
        self.assertEqual(["Explorers.Add(Inbox, I4 0)"], run.calls("Add"))
        self.assertEqual(["explorer 1.Display()"], run.calls("Display"))
        self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
        self.assertEqual(["Outlook.Quit()"], run.calls("Quit"))
        # Right before the Quit, its windows are counted again: still only the one Corvix opened.
        self.assertEqual(["Outlook.Explorers()", "Explorers.Count() -> I4 1", "Outlook.Inspectors()",
                          "Inspectors.Count() -> I4 0", "Outlook.Quit()"],
                         [e if ".Count(" in e else e.split(" -> ")[0] for e in run.entries()[-5:]])
        self.assertIn("outlook: running no, started yes, quit 1", run.state)
        self.assertIn("explorer 1 added on Inbox in mode 0\n  explorer 1 displayed\n", run.state)
        self.assertIn("references held: 0", run.state)

    def test_the_user_takes_it_up_meanwhile_it_is_cleaned_and_left_running(self):
        # The user opens a main window and an item in the Outlook that Corvix started, once it shows its own.
        run = self.corvix("outlook installed takenup\n" + OUTLOOK, trace=True)
        self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
        self.assertEqual([], run.calls("Quit"))
        self.assertIn("explorer 2 and an item window opened by the user", run.state)
        self.assertIn("outlook: running no, started yes, quit 0", run.state)
        self.assertIn("Corvix: Outlook: left running: the user has taken it up (main windows open: 2, item windows "
                      "open: 1); not quit, so that nothing unsaved of theirs is lost", run.trace())
        self.assertIn("references held: 0", run.state)


class OutlookNotRegistered(Case):
    def test_not_reached_is_the_last_word_on_outlook(self):
        run = self.corvix("word running\n" + WORD, trace=True)
        lines = [line for line in run.trace() if line.startswith("Corvix: Outlook: ")]
        self.assertTrue(lines, run.trace())
        self.assertRegex(lines[-1], r"^Corvix: Outlook: not reached: attach 0x", lines)
        self.assertEqual(WORD_DELETES, run.calls("Delete"))
        self.assertIn("references held: 0", run.state)


class WordAndOutlook(Case):
    def test_both_cleaned_word_first_then_the_message(self):
        for arguments, messages in (("", [DONE]), ("/s", [])):
            with self.subTest(arguments=arguments):
                run = self.corvix("word running\n" + WORD + "outlook running window\n" + OUTLOOK, arguments)
                self.assertEqual(messages, run.messages())
                deletes = run.calls("Delete")
                self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, deletes[-9:])
                self.assertIn("bar 'Merrowin Software Toolbar'.Delete()", deletes[:-9])
                self.assertIn("references held: 0", run.state)


class OutlookVersions(OutlookSettings):
    """An Outlook that is not running is started only in a version that kept the add-in's bars (2007 and
    before), or one whose version cannot be read; a running one is cleaned whatever its version."""

    def test_outlook_2016_not_running_is_not_started_and_word_is_cleaned(self):
        run = self.corvix("word running\n" + WORD + "outlook installed version 16\n" + OUTLOOK, "", trace=True)
        self.assertNotIn('COM.CoCreateInstance("Outlook.Application")', run.calls())
        # Word's Normal template saved, and its DisplayAlerts given back, are the run's last calls: nothing of
        # Outlook's followed.
        self.assertEqual(["Normal.Save()", "Word.DisplayAlerts = I4 -1"], run.calls()[-2:])
        self.assertEqual(WORD_DELETES, run.calls("Delete"))
        self.assertEqual([DONE], run.messages())
        self.assertIn("outlook: running no, started no, quit 0", run.state)
        self.assertIn('Corvix: Outlook: not running; not started: version 16 (CurVer "Outlook.Application.16") is '
                      "registered: Outlook 2010 and later keep no add-in's bars, so a start would find none",
                      run.trace())
        self.assertIn("Outlook not running, not started, 0 deleted, 0 failed", run.trace()[-1])
        self.assertIn("references held: 0", run.state)

    def test_outlook_of_no_readable_version_not_running_is_started_as_ever(self):
        run = self.corvix("outlook installed\n" + OUTLOOK, trace=True)
        self.assertEqual(['COM.CoCreateInstance("Outlook.Application")'], run.calls("CoCreateInstance"))
        self.assertEqual(["explorer 1.Display()"], run.calls("Display"))
        self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
        self.assertEqual("Outlook.Quit()", run.calls()[-1])
        self.assertIn("outlook: running no, started yes, quit 1", run.state)
        self.assertIn("Corvix: Outlook: not running; no registered version can be read: started, as ever", run.trace())
        self.assertIn("references held: 0", run.state)

    def test_outlook_2007_not_running_is_started_where_it_stores_bars_and_logs_on_unasked(self):
        for prompt in (None, "0"):
            with self.subTest(prompt=prompt), self.user_settings(bars=True, profile="Outlook", prompt=prompt):
                run = self.corvix("outlook installed version 12\n" + OUTLOOK, trace=True)
                self.assertEqual(['COM.CoCreateInstance("Outlook.Application")'], run.calls("CoCreateInstance"))
                self.assertEqual(["explorer 1.Display()"], run.calls("Display"))
                self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
                self.assertEqual("Outlook.Quit()", run.calls()[-1])
                self.assertIn("outlook: running no, started yes, quit 1", run.state)
                told = 'not set' if prompt is None else f'"{prompt}"'
                self.assertIn(read_line('version 12 (CurVer "Outlook.Application.12")', "there", '"Outlook"', told)
                              + ": started", run.trace())
                self.assertIn("references held: 0", run.state)

    def test_outlook_2007_not_running_is_not_started_without_bars_or_a_profile_or_with_a_prompt(self):
        for settings, read, why in (
                ({}, ("not there", "not set", "not set"), "it stores no bars, so a start would find none"),
                ({"bars": True}, ("there", "not set", "not set"),
                 "no default mail profile, so a start would show its profile wizard"),
                ({"bars": True, "profile": "Outlook", "prompt": "1"}, ("there", '"Outlook"', '"1"'),
                 "it prompts for a profile, so a start would wait on its profile chooser")):
            with self.subTest(settings=settings), self.user_settings(**settings):
                run = self.corvix("outlook installed version 12\n" + OUTLOOK, trace=True)
                # No stand-in was ever started: nothing was called.
                self.assertEqual([], run.calls())
                self.assertIn(read_line('version 12 (CurVer "Outlook.Application.12")', *read) + ": not started: " + why,
                              run.trace())
                self.assertIn("Outlook not running, not started, 0 deleted, 0 failed", run.trace()[-1])

    def test_the_servers_file_version_decides_over_curver_in_either_registry_view(self):
        # The stand-in's server is a copy of its exe whose version resource says `fileversion`; with
        # `otherview` its class is registered in the other registry view only, as a 32-bit Office's is for
        # the 64-bit Corvix. Where it is 12, Outlook stores bars and logs on unasked.
        for scenario, source, started in (
                ("version 16 fileversion 12", "file version of the server", True),
                ("version 12 fileversion 16", "file version of the server", False),
                ("version 12 fileversion 16 otherview", "file version of the server in the other registry view",
                 False),
                ("version 16 fileversion 12 otherview", "file version of the server in the other registry view",
                 True)):
            with self.subTest(scenario=scenario), self.user_settings(bars=True, profile="Outlook"):
                run = self.corvix(f"outlook installed {scenario}\n" + OUTLOOK, trace=True)
                version = scenario.split()[3]
                if started:
                    told = read_line(f"version {version} ({source})", "there", '"Outlook"', "not set") + ": started"
                    self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
                    self.assertEqual("Outlook.Quit()", run.calls()[-1])
                    self.assertIn("references held: 0", run.state)
                else:
                    # No stand-in was ever started: nothing was called.
                    told = f"Corvix: Outlook: not running; not started: version {version} ({source}) is registered"
                    self.assertEqual([], run.calls())
                self.assertTrue(any(line.startswith(told) for line in run.trace()), run.trace())

    def test_a_running_outlook_2016_is_cleaned_as_ever(self):
        run = self.corvix("outlook running window version 16\n" + OUTLOOK)
        self.assertEqual(MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES, run.calls("Delete"))
        for member in ("CoCreateInstance", "Add", "Display", "Quit"):
            self.assertEqual([], run.calls(member), member)
        self.assertIn("outlook: running yes, started no, quit 0", run.state)
        self.assertIn("references held: 0", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

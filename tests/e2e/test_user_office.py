"""Corvix.exe against an Office that is the user's, under Wine: a Word or Outlook that runs but cannot be attached
to, a started Word that the user took over, and an Office in another language."""
import unittest

from harness import Case
from test_faults import OUTLOOK_DELETES, WORD_DELETES, deletes, split_at_outlook
from test_outlook import OUTLOOK
from test_word import DONE, WORD

# German menus: the Tools menu is "E&xtras", found by its built-in ID; the item window's Actions menu
# ("&Aktionen") has no ID to fall back on and keeps its items.
GERMAN_WORD = """
  bar "Menu Bar" active
    popup "&Datei" id 30002
    popup "E&xtras" id 30007
      button "Rechtschreibung"
      button "Ours" parameter "Inspector Menu"
      popup "Makro"
      button "Ours too" parameter "Inspector Menu"
"""
GERMAN_OUTLOOK = """
  explorer
    bar "Menu Bar" active
      popup "E&xtras" id 30007
        button "Regeln"
        button "Explorer item" parameter "Explorer Menu"
  inbox
    mail "Hallo"
      bar "Menu Bar" active
        popup "&Aktionen"
          button "Ours" parameter "Inspector Menu"
"""


class UserWord(Case):
    def test_a_running_word_out_of_reach_is_neither_started_nor_cleaned(self):
        # Word runs with its main window but is not in the running object table (not yet, or it runs at
        # another integrity level): a start would make a second, hidden Word.
        run = self.corvix("word running unlisted\n" + WORD + "outlook running window\n" + OUTLOOK, "")
        word, outlook = split_at_outlook(run)
        self.assertEqual([], word)
        self.assertNotIn('COM.CoCreateInstance("Word.Application")', run.calls())
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertEqual([DONE], run.messages())
        self.assertEqual("0", run["exit_code"])
        self.assertIn("word: running yes (not in the running object table), started no, quit 0", run.state)
        self.assertIn("  bar 'Merrowin Software'\n    button 'Find'", run.state)
        self.assertIn("references held: 0", run.state)

    def test_a_word_process_out_of_reach_without_a_window_is_not_started_a_second_time(self):
        # Word's process runs in the session, not yet in the running object table and without a window (still
        # starting, or run by another program): a start would make a second, hidden Word.
        run = self.corvix("word running unlisted process nowindow\n" + WORD + "outlook running window\n" + OUTLOOK,
                          "", trace=True)
        word, outlook = split_at_outlook(run)
        self.assertEqual([], word)
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertEqual([DONE], run.messages())
        self.assertIn("word: running yes (not in the running object table), started no, quit 0", run.state)
        self.assertIn("Corvix: Word: runs, but could not be attached to (WINWORD.EXE runs in this session): not "
                      "started, not cleaned", run.trace())
        self.assertIn("references held: 0", run.state)

    def test_a_started_word_the_user_took_over_is_left_running_unsaved(self):
        # The user opens a document while Corvix cleans the hidden Word it started; Word hands it that Word.
        run = self.corvix("word installed\n" + '  document "Letter" after Delete\n' + WORD, "")
        self.assertEqual(WORD_DELETES, deletes(run.entries()))
        self.assertEqual([], run.calls("Quit"))
        # It gets the alerts every Word starts with back.
        self.assertEqual(["Word.Documents() -> Documents", "Documents.Count() -> I4 1",
                          "Word.DisplayAlerts = I4 -1 -> nothing"], run.entries()[-3:])
        self.assertNotIn("display alerts left at", run.state)
        self.assertIn("word: running no, started yes, quit 0, saved no", run.state)
        self.assertIn("document 'Letter' open", run.state)
        self.assertEqual("", run.saved())
        self.assertEqual([DONE], run.messages())
        self.assertIn("references held: 0", run.state)

    def test_a_failed_document_count_quits_as_ever(self):
        run = self.corvix("word installed\n" + '  document "Letter" after Delete\n' + WORD + "fail Count on Documents\n")
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))
        self.assertIn("word: running no, started yes, quit 1, saved yes", run.state)


class UserOutlook(Case):
    def test_a_start_that_reaches_the_users_outlook_cleans_it_as_attached(self):
        # Outlook runs with its main window outside the running object table; its class factory is
        # multiple-use, so the start reaches it. Corvix saw the main window before starting.
        run = self.corvix("outlook running unlisted window\n" + OUTLOOK)
        self.assertEqual(['COM.CoCreateInstance("Outlook.Application")'], run.calls("CoCreateInstance"))
        self.assertEqual(OUTLOOK_DELETES, run.calls("Delete"))
        for member in ("Add", "Display", "Quit", "Explorers", "Inspectors"):
            self.assertEqual([], run.calls(member), member)
        self.assertIn("outlook: running yes (not in the running object table), started yes, quit 0", run.state)
        self.assertIn("references held: 0", run.state)

    def test_a_start_that_reaches_an_outlook_with_an_item_window_open_opens_nothing(self):
        # No main window to see, but a message open: the start reached an Outlook that was running.
        run = self.corvix("outlook running unlisted itemwindow\n" + OUTLOOK)
        self.assertEqual(["Explorers.Count() -> I4 0", "Inspectors.Count() -> I4 1"], run.entries("Count")[:2])
        for member in ("Add", "Display", "Quit", "Delete"):
            self.assertEqual([], run.calls(member), member)
        self.assertIn("outlook: running yes (not in the running object table), started yes, quit 0", run.state)
        self.assertIn("main window: none", run.state)
        self.assertIn("references held: 0", run.state)

    def test_an_outlook_process_without_a_window_is_reached_as_the_users_and_never_quit(self):
        # Outlook runs without any window, outside the running object table (a sync tool's, or one still
        # starting), and a version that is not started: its process shows it, and the start reaches it.
        run = self.corvix("outlook running unlisted process version 16\n" + OUTLOOK, trace=True)
        self.assertEqual(['COM.CoCreateInstance("Outlook.Application")'], run.calls("CoCreateInstance"))
        for member in ("Add", "Display", "Quit", "Explorers", "Inspectors", "Delete"):
            self.assertEqual([], run.calls(member), member)
        self.assertIn("outlook: running yes (not in the running object table), started yes, quit 0", run.state)
        self.assertIn("Corvix: Outlook: the start reached the user's running instance: treated as attached (no new "
                      "window, not quit)", run.trace())
        self.assertIn("references held: 0", run.state)

    def test_an_outlook_process_whose_window_is_not_up_yet_is_cleaned_and_never_quit(self):
        # Its main window opens while Corvix reaches it: Corvix saw no window, but the process; it cleans
        # that Outlook as an attached one.
        run = self.corvix("outlook running unlisted process window late\n" + OUTLOOK)
        self.assertEqual(OUTLOOK_DELETES, run.calls("Delete"))
        for member in ("Add", "Display", "Quit", "Explorers", "Inspectors"):
            self.assertEqual([], run.calls(member), member)
        self.assertIn("outlook: running yes (not in the running object table), started yes, quit 0", run.state)
        self.assertIn("references held: 0", run.state)


class OtherLanguage(Case):
    def test_the_tools_menu_of_german_word_and_outlook_is_found_by_its_id(self):
        run = self.corvix("word running\n" + GERMAN_WORD + "outlook running window\n" + GERMAN_OUTLOOK, "")
        self.assertEqual(["bar 'Menu Bar'.FindControl(missing, I4 30007) -> popup 'E&xtras'",
                          "explorer bar 'Menu Bar'.FindControl(missing, I4 30007) -> popup 'E&xtras'"],
                         run.entries("FindControl"))
        self.assertEqual(["button 'Ours too'.Delete()", "button 'Ours'.Delete()", "button 'Explorer item'.Delete()"],
                         run.calls("Delete"))
        for kept in ("button 'Rechtschreibung'", "popup 'Makro'", "button 'Regeln'",
                     "button 'Ours' parameter 'Inspector Menu'"):
            self.assertIn(kept, run.state)
        self.assertEqual([DONE], run.messages())
        self.assertIn("references held: 0", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

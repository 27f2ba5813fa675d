"""Corvix.exe against the stand-in Word, under Wine: the switch, the message, the window and the clean-up."""
import unittest

from harness import Case

DONE = ("Merrowin Software", "Done.  Toolbars removed.", "OK")

# Word with both of the add-in's bars (buttons and a submenu) and its marked items on the Tools menu.
WORD = """
  bar "Merrowin Software"
    button "Find"
    popup "More"
      button "Inner"
    button "Send"
  bar "Merrowin Software Toolbar"
    button "Open"
    button "Close"
  bar "Standard" builtin
    button "Save"
  bar "Menu Bar" active
    popup "&File"
    popup "&Tools"
      button "Ours" parameter "Inspector Menu"
      button "Spelling"
      popup "Macro"
        button "Record"
      button "Ours too" parameter "Inspector Menu"
      button "Lower" parameter "inspector menu"
      button "Outlook's" parameter "Explorer Menu"
"""

WORD_DELETES = ["button 'Send'.Delete()", "button 'Find'.Delete()", "bar 'Merrowin Software'.Delete()",
                "button 'Close'.Delete()", "button 'Open'.Delete()", "bar 'Merrowin Software Toolbar'.Delete()",
                "button 'Ours too'.Delete()", "button 'Ours'.Delete()"]


class CommandLine(Case):
    def test_only_exact_slash_s_is_silent(self):
        run = self.corvix("word running\n" + WORD, "/s")
        self.assertEqual([], run.messages())
        self.assertEqual("0", run["exit_code"])
        self.assertIn("bar 'Merrowin Software' deleted", run.state)

    def test_everything_else_shows_the_message(self):
        # Tabs, quotes and look-alikes from other scripts are not the switch either.
        for arguments in ["/S", "/s ", "-s", "/s x", "/silent", "", "/s\t", '"/s"', "/s \"quoted\"", "/s\u00a0",
                          "\uff0fs", "/\u015f", "/s \u65e5\u672c\u8a9e", "\u05d0 /s", "\t"]:
            with self.subTest(arguments=ascii(arguments)):
                run = self.corvix("word running\n" + WORD, arguments)
                self.assertEqual([DONE], run.messages())
                self.assertEqual("0", run["exit_code"])
                # The clean-up ran before the message, whatever the switch.
                self.assertIn("bar 'Merrowin Software Toolbar' deleted", run.state)

    def test_message_comes_when_word_is_not_registered(self):
        run = self.corvix("word installed\n" + WORD, "", register=False)
        self.assertEqual([DONE], run.messages())
        self.assertEqual("0", run["exit_code"])


class HostWindow(Case):
    def test_frm_main_exists_during_the_message_and_is_never_visible(self):
        run = self.corvix("word running\n" + WORD, "")
        self.assertEqual("1", run["frmMain_while_message"])
        self.assertEqual("0", run["frmMain_visible"])
        self.assertIsNone(run["visible_other"])

    def test_silent_run_shows_no_window_at_all(self):
        run = self.corvix("word installed\n" + WORD, "/s")
        self.assertEqual("0", run["frmMain_visible"])
        self.assertEqual("0", run["messages"])
        self.assertIsNone(run["visible_other"])


class RunningWord(Case):
    def test_bars_emptied_last_first_and_marked_items_purged(self):
        run = self.corvix("word running\n" + WORD)
        self.assertEqual([
            "button 'Send'.Delete()", "button 'Find'.Delete()", "bar 'Merrowin Software'.Delete()",
            "button 'Close'.Delete()", "button 'Open'.Delete()", "bar 'Merrowin Software Toolbar'.Delete()",
            "button 'Ours too'.Delete()", "button 'Ours'.Delete()"], run.calls("Delete"))
        # The Tools menu is visited from the last position to the first.
        tools = [c for c in run.calls("Item") if c.startswith("controls of '&Tools'")]
        self.assertEqual([f"controls of '&Tools'.Item(I4 {i})" for i in (6, 5, 4, 3, 2, 1)], tools)
        # The submenu went with its bar, not on its own; the rest of the Tools menu stays.
        self.assertIn("bar 'Merrowin Software' deleted\n    popup 'More'\n", run.state)
        for kept in ("button 'Spelling'", "popup 'Macro'", "button 'Lower' parameter 'inspector menu'",
                     "button 'Outlook's' parameter 'Explorer Menu'", "bar 'Standard'\n    button 'Save'"):
            self.assertIn(kept, run.state)
        # Word was attached to, not started; it is neither quit nor made visible.
        self.assertEqual([], run.calls("Quit"))
        self.assertEqual([], run.calls("Visible"))
        self.assertIn("word: running yes, started no, quit 0, saved no, visible no", run.state)
        self.assertIn("references held: 0", run.state)

    def test_the_rest_happens_when_parts_are_missing_or_failing(self):
        cases = {
            "only the second bar": ('word running\n  bar "Merrowin Software Toolbar"\n    button "Open"\n'
                                    '  bar "Menu Bar" active\n    popup "&Tools"\n'
                                    '      button "Ours" parameter "Inspector Menu"\n',
                                    ["button 'Open'.Delete()", "bar 'Merrowin Software Toolbar'.Delete()",
                                     "button 'Ours'.Delete()"]),
            "a bar that cannot be deleted": ('word running\n  bar "Merrowin Software" builtin\n    button "A"\n'
                                             '    button "B"\n  bar "Merrowin Software Toolbar"\n',
                                             ["button 'B'.Delete()", "button 'A'.Delete()",
                                              "bar 'Merrowin Software'.Delete()",
                                              "bar 'Merrowin Software Toolbar'.Delete()"]),
            "no Tools menu": ('word running\n  bar "Merrowin Software"\n    button "A"\n'
                              '  bar "Menu Bar" active\n    popup "&Help"\n',
                              ["button 'A'.Delete()", "bar 'Merrowin Software'.Delete()"]),
            "Tools is not a menu": ('word running\n  bar "Merrowin Software"\n    button "A"\n'
                                    '  bar "Menu Bar" active\n    button "&Tools" parameter "Inspector Menu"\n',
                                    ["button 'A'.Delete()", "bar 'Merrowin Software'.Delete()"]),
            "a failing button deletion": ('word running\n  bar "Merrowin Software"\n    button "A"\n    button "B"\n'
                                          'fail Delete on "button \'B\'"\n',
                                          ["button 'B'.Delete()", "button 'A'.Delete()",
                                           "bar 'Merrowin Software'.Delete()"]),
        }
        for name, (scenario, deletes) in cases.items():
            with self.subTest(name):
                run = self.corvix(scenario, "")
                self.assertEqual(deletes, run.calls("Delete"))
                self.assertEqual([DONE], run.messages())
                self.assertIn("references held: 0", run.state)


class StartedWord(Case):
    def test_started_cleaned_and_quit_once_saving(self):
        run = self.corvix("word installed\n" + WORD)
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))
        # Just before it is quit, Word is asked whether it holds a document (one the user opened meanwhile).
        self.assertEqual(["Word.Documents() -> Documents", "Documents.Count() -> I4 0", "Word.Quit(BOOL true) -> nothing"],
                         run.entries()[-3:])
        self.assertIn("word: running no, started yes, quit 1, saved yes, visible no", run.state)
        # Word saved what it held when it was told to quit: the add-in's bars gone, the marked items too.
        self.assertIn("bar 'Merrowin Software' deleted", run.saved())
        self.assertNotIn("'Ours too'", run.saved())
        self.assertIn("references held: 0", run.state)

    def test_quit_follows_a_failing_step(self):
        run = self.corvix("word installed\n" + WORD + "fail CommandBars\n")
        self.assertEqual([], run.calls("Delete"))
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))
        self.assertIn("references held: 0", run.state)


class NormalTemplate(Case):
    """A running Word keeps the deletions in the template its CustomizationContext names: Corvix makes that
    Normal for the clean-up, and saves Normal, once, when the clean-up alone changed it and its file can be
    written, with Word's alerts off for the Save alone."""

    def test_a_clean_normal_is_saved_once_after_the_last_deletion(self):
        run = self.corvix("word running\n" + WORD, trace=True)
        calls = run.calls()
        self.assertEqual(["Word.NormalTemplate()", "Word.CustomizationContext()", "Word.CustomizationContext = Normal",
                          "Normal.Saved()"], calls[1:5])
        self.assertEqual(["Word.CustomizationContext = Normal", "Normal.Saved()", "Normal.FullName()",
                          "Word.DisplayAlerts()", "Word.DisplayAlerts = I4 0", "Normal.Save()",
                          "Word.DisplayAlerts = I4 -1"], calls[-7:])
        last_delete = max(i for i, call in enumerate(calls) if call.endswith(".Delete()"))
        self.assertLess(last_delete, len(calls) - 7)
        self.assertEqual(WORD_DELETES, run.calls("Delete"))
        self.assertEqual([], run.calls("Quit"))
        self.assertIn("normal template: saved yes, Save called 1 times", run.state)
        self.assertIn("Corvix: Word: Normal template saved, so that the deletions are stored now", run.trace())
        self.assertIn("references held: 0", run.state)

    def test_the_users_alerts_and_context_are_given_back(self):
        # A macro made an add-in's template the CustomizationContext, and the user keeps message boxes only.
        run = self.corvix('word running alerts -2\n  template "Other.dotm" context\n' + WORD, trace=True)
        self.assertEqual(["Word.CustomizationContext()", "Word.CustomizationContext = Normal",
                          "Word.CustomizationContext = template 'Other.dotm'"], run.calls("CustomizationContext"))
        self.assertEqual(["Word.DisplayAlerts()", "Word.DisplayAlerts = I4 0", "Word.DisplayAlerts = I4 -2"],
                         run.calls("DisplayAlerts"))
        self.assertEqual(WORD_DELETES, run.calls("Delete"))
        # The deletions landed in Normal, which was saved; the other template was not touched.
        self.assertIn("normal template: saved yes, Save called 1 times", run.state)
        self.assertNotIn("template 'Other.dotm': saved", run.state)
        self.assertNotIn("left at", run.state)
        self.assertIn("references held: 0", run.state)

    def test_a_read_only_normal_is_not_saved_and_nothing_stalls(self):
        # Its Save would wait on Word's message (the stand-in's Save gets no answer with the alerts on).
        run = self.corvix('word running\n  normal "Normal.dotm" readonly\n' + WORD, "", trace=True)
        self.assertEqual(WORD_DELETES, run.calls("Delete"))
        self.assertEqual([], run.calls("Save"))
        self.assertEqual([], run.calls("DisplayAlerts"))
        self.assertEqual([], [e for e in run.entries() if e.endswith("-> hung")])
        self.assertEqual([DONE], run.messages())
        self.assertIn("normal template: saved no, Save called 0 times", run.state)
        self.assertNotIn("left at", run.state)
        trace = "\n".join(run.trace())
        self.assertRegex(trace, r"Normal template not saved: its file .*\\Normal\.dotm is not there or cannot be written")
        self.assertNotIn("given up", trace)
        self.assertIn("references held: 0", run.state)

    def test_unsaved_changes_or_a_failed_reading_save_nothing(self):
        for scenario, told in (("word running normal unsaved\n", "it had unsaved changes of the user's"),
                               ("word running\nfail Saved nth 1\n", "whether it had unsaved changes could not be read")):
            with self.subTest(scenario=scenario):
                run = self.corvix(scenario + WORD, trace=True)
                self.assertEqual(WORD_DELETES, run.calls("Delete"))
                self.assertEqual([], run.calls("Save"))
                self.assertIn("normal template: saved no, Save called 0 times", run.state)
                self.assertIn(f"Corvix: Word: Normal template not saved: {told}", run.trace())
                self.assertIn("references held: 0", run.state)

    def test_a_started_word_turns_its_alerts_off_before_its_bars_are_touched(self):
        run = self.corvix("word installed\n" + WORD)
        calls = run.calls()
        started = calls.index('COM.CoCreateInstance("Word.Application")')
        self.assertEqual("Word.DisplayAlerts = I4 0", calls[started + 1])
        self.assertEqual(["Word.DisplayAlerts = I4 0"], run.calls("DisplayAlerts"))
        self.assertEqual([], run.calls("Save"))
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""Corvix.exe against an Office that is busy, fails or dies, under Wine: every run finishes, releases what it
holds, quits what it started, and ends with the message (or silently with /s), with exit code 0."""
import unittest

from harness import Case
from test_outlook import ITEM_WINDOW_DELETES, MAIN_WINDOW_DELETES, OUTLOOK
from test_word import DONE, WORD

WORD_DELETES = ["button 'Send'.Delete()", "button 'Find'.Delete()", "bar 'Merrowin Software'.Delete()",
                "button 'Close'.Delete()", "button 'Open'.Delete()", "bar 'Merrowin Software Toolbar'.Delete()",
                "button 'Ours too'.Delete()", "button 'Ours'.Delete()"]
OUTLOOK_DELETES = MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES
BOTH_RUNNING = "word running\n" + WORD + "outlook running window\n" + OUTLOOK


def split_at_outlook(run):
    """The journal entries (without numbers) before Corvix turned to Outlook, and from then on."""
    entries = run.entries()
    first = next((i for i, e in enumerate(entries) if '"Outlook.Application"' in e), len(entries))
    return entries[:first], entries[first:]


def deletes(entries):
    return [e.split(" -> ", 1)[0] for e in entries if ".Delete(" in e]


class BusyOffice(Case):
    def test_calls_refused_while_busy_cost_at_most_their_step(self):
        run = self.corvix(BOTH_RUNNING + "busy 2 rejected\n", "")
        word, outlook = split_at_outlook(run)
        refused = [e for e in run.entries() if "busy: rejected" in e]
        self.assertEqual(2, len(refused))
        if deletes(word):
            # COM asked Corvix's message filter, which tried the refused calls again until Word took them.
            self.assertEqual(WORD_DELETES, deletes(word))
        else:
            # Wine 8 never asks a client's filter (RetryRejectedCall): a refused call fails at once. Both
            # refusals hit Word's look-ups of CommandBars; the Word clean-up is skipped, nothing more.
            self.assertTrue(all("Word" in e for e in refused), refused)
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertEqual([DONE], run.messages())
        self.assertEqual("0", run["exit_code"])
        self.assertIn("references held: 0", run.state)

    def test_retry_later_costs_nothing(self):
        # Windows retries through Corvix's filter; Wine runs a call its server asked to retry later anyway.
        run = self.corvix(BOTH_RUNNING + "busy 4 retrylater\n", "/s")
        self.assertEqual(4, len([e for e in run.entries() if "busy: retry later" in e]))
        word, outlook = split_at_outlook(run)
        self.assertEqual(WORD_DELETES, deletes(word))
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertEqual([], run.messages())
        self.assertIn("references held: 0", run.state)

    def test_a_started_word_that_refuses_calls_is_still_quit(self):
        run = self.corvix("word installed\n" + WORD + "busy 2 rejected\n", "")
        self.assertEqual([], run.calls("Delete"))
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))
        self.assertIn("word: running no, started yes, quit 1", run.state)
        self.assertEqual([DONE], run.messages())
        self.assertIn("references held: 0", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""Corvix.exe against an Office that stops answering, under Wine: the call that gets no answer is given up after
the stall bound, the rest of that clean-up is skipped, the other clean-up runs as in an undisturbed run, the
message comes once, and the program ends with exit code 0 without waiting for the hung call.

Each case takes the stall bound (docs/robustness.md) and prints its time. The stand-in leaves a hung call
waiting (journaled as "hung") while it goes on serving every other call, until it ends."""
import sys
import time
import unittest

from harness import STALL_BOUND_MS, Case
from test_faults import BOTH_INSTALLED, BOTH_RUNNING, OUTLOOK_DELETES, WORD_DELETES, deletes, split_at_outlook
from test_outlook import OUTLOOK
from test_word import DONE

# The driver's limit for a run with one stalled clean-up: the bound, and ample room for the rest of the run.
LIMIT_S = STALL_BOUND_MS // 1000 + 90


def calls_of(entries):
    return [entry.split(" -> ", 1)[0] for entry in entries]


class Hangs(Case):
    def setUp(self):
        self.assertGreater(STALL_BOUND_MS, 0, "CORVIX_STALL_BOUND_MS: the build's stall bound, which CTest hands over")
        super().setUp()

    def run_hung(self, scenario, hang, arguments="", waits_out_bound=True):
        """The undisturbed run, then the run with `hang` added; returns both. Checks what every such run must
        do: exit code 0, the message once (unless /s), after the last call Corvix made, exactly one hung call
        in the journal, and (unless `waits_out_bound` is False) a run that lasted the bound at least."""
        clean = self.corvix(scenario, "/s")
        started = time.monotonic()
        run = self.corvix(scenario + hang + "\n", arguments, limit=LIMIT_S)
        wall = time.monotonic() - started
        print(f"\n  {self.id().rsplit('.', 1)[-1]}: {hang!r}: Corvix ran {int(run['elapsed_ms']) / 1000:.1f} s "
              f"(undisturbed {int(clean['elapsed_ms']) / 1000:.1f} s), the case's run {wall:.1f} s",
              file=sys.stderr)
        self.assertEqual("0", run["timed_out"])
        self.assertEqual("0", run["exit_code"])
        if waits_out_bound:
            # Given up no sooner than the bound: an Office that is merely slow is waited for.
            self.assertGreaterEqual(int(run["elapsed_ms"]), STALL_BOUND_MS)
        hung = [entry for entry in run.entries() if entry.endswith(" -> hung")]
        self.assertEqual(1, len(hung), run.entries())
        if arguments == "/s":
            self.assertEqual([], run.messages())
        else:
            self.assertEqual([DONE], run.messages())
            self.assertEqual(str((run.folder / "journal.txt").stat().st_size), run["message1_watch_bytes"])
        return clean, run, hung[0]

    def test_word_stops_answering_early_and_outlook_is_cleaned_as_ever(self):
        # The second of Word's deletions, in the first half of Word's calls.
        clean, run, hung = self.run_hung(BOTH_RUNNING, "hang Delete on \"button 'Find'\" nth 1")
        clean_word, clean_outlook = split_at_outlook(clean)
        word, outlook = split_at_outlook(run)
        self.assertLess(len(word), len(clean_word) / 2)
        # Word's clean-up went as ever up to the call that got no answer, and made no call after it.
        self.assertEqual(calls_of(clean_word[:len(word)]), calls_of(word))
        self.assertEqual("button 'Find'.Delete() -> hung", word[-1])
        self.assertEqual(WORD_DELETES[:1], deletes(word[:-1]))
        # Outlook's clean-up made the calls of an undisturbed run, in the same order.
        self.assertEqual(calls_of(clean_outlook), calls_of(outlook))
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertIn("explorer bar 'Merrowin Software' deleted", run.state)

    def test_outlook_stops_answering_after_word_was_cleaned(self):
        clean, run, hung = self.run_hung(BOTH_RUNNING, "hang Delete on \"explorer bar 'Merrowin Software'\"", "/s")
        clean_word, clean_outlook = split_at_outlook(clean)
        word, outlook = split_at_outlook(run)
        self.assertEqual(calls_of(clean_word), calls_of(word))
        self.assertEqual(WORD_DELETES, deletes(word))
        # Outlook's clean-up stopped at the hung call: its Tools menu and item window were never reached.
        self.assertEqual("explorer bar 'Merrowin Software'.Delete() -> hung", outlook[-1])
        self.assertEqual(calls_of(clean_outlook[:len(outlook)]), calls_of(outlook))
        self.assertLess(len(outlook), len(clean_outlook))

    def test_a_started_word_whose_quit_never_returns(self):
        clean, run, hung = self.run_hung(BOTH_INSTALLED, "hang Quit on \"Word\"")
        self.assertEqual("Word.Quit(BOOL true) -> hung", hung)
        clean_word, clean_outlook = split_at_outlook(clean)
        word, outlook = split_at_outlook(run)
        self.assertEqual(calls_of(clean_word), calls_of(word))
        self.assertEqual(calls_of(clean_outlook), calls_of(outlook))
        self.assertEqual("Outlook.Quit()", outlook[-1].split(" -> ", 1)[0])
        # The hung Word is left as it is: started, not quit. The Outlook that Corvix started was quit.
        self.assertIn("word: running no, started yes, quit 0", run.state)
        self.assertIn("outlook: running no, started yes, quit 1", run.state)

    def test_attaching_to_a_word_that_never_answers(self):
        clean, run, hung = self.run_hung(BOTH_RUNNING, "hang GetActiveObject nth 1")
        word, outlook = split_at_outlook(run)
        self.assertEqual(['ROT.GetActiveObject("Word.Application") -> hung'], word)
        _, clean_outlook = split_at_outlook(clean)
        self.assertEqual(calls_of(clean_outlook), calls_of(outlook))
        self.assertIn("bar 'Merrowin Software Toolbar'\n", run.state)  # Word's bars untouched

    def test_a_word_server_that_never_finishes_starting(self):
        # The server COM launches for Word never registers Word's class; it serves Outlook's start. Wine 8 gives
        # the start up by itself, before the bound (so the run does not wait it out); Windows waits longer for a
        # local server to register, and there the bound ends the wait.
        scenario = "word installed\noutlook installed\n" + OUTLOOK
        clean, run, hung = self.run_hung(scenario, "hang start word", waits_out_bound=False)
        self.assertEqual('COM.CoRegisterClassObject("Word.Application") -> hung', hung)
        word, outlook = split_at_outlook(run)
        self.assertEqual([hung], word)
        _, clean_outlook = split_at_outlook(clean)
        self.assertEqual(calls_of(clean_outlook), calls_of(outlook))
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertIn("outlook: running no, started yes, quit 1", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

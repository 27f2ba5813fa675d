"""Corvix.exe against an Office that is busy, fails or dies, under Wine: every run finishes, releases what it
holds, quits what it started, and ends with the message (or silently with /s), with exit code 0."""
import os
import signal
import sys
import time
import unittest
from pathlib import Path

from harness import Case, restart_wine, windows_path
from test_outlook import ITEM_WINDOW_DELETES, MAIN_WINDOW_DELETES, OUTLOOK
from test_word import DONE, WORD, WORD_DELETES

OUTLOOK_DELETES = MAIN_WINDOW_DELETES + ITEM_WINDOW_DELETES
BOTH_RUNNING = "word running\n" + WORD + "outlook running window\n" + OUTLOOK
BOTH_INSTALLED = "word installed\n" + WORD + "outlook installed\n" + OUTLOOK
INJECTED = "failed 0x80010105 injected failure"


# The sweep visits every SAMPLE-th of the calls it would otherwise (a quicker sweep, for a second build).
SAMPLE = int(os.environ.get("CORVIX_SWEEP_SAMPLE", "1"))


def injected(entry):
    """Whether a journal entry is a call the stand-in failed on purpose."""
    return entry.endswith(INJECTED)


def split_at_outlook(run):
    """The journal entries (without numbers) before Corvix turned to Outlook, and from then on."""
    entries = run.entries()
    first = next((i for i, e in enumerate(entries) if '"Outlook.Application"' in e), len(entries))
    return entries[:first], entries[first:]


def deletes(entries):
    return [e.split(" -> ", 1)[0] for e in entries if ".Delete(" in e]


def kill_standin(folder):
    """Kills (SIGKILL) the stand-in processes serving `folder`, and nothing else: each has the folder's path
    on its command line. Returns how many were killed."""
    state = windows_path(folder)
    killed = 0
    for proc in Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            command = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if "office_standin" in command and state in command:
            try:
                os.kill(int(proc.name), signal.SIGKILL)
                killed += 1
            except ProcessLookupError:
                pass
    return killed


def journal_lines(folder):
    try:
        return (folder / "journal.txt").read_text(encoding="utf-8").count("\n")
    except FileNotFoundError:
        return 0


class FaultSweep(Case):
    """Runs Corvix once cleanly to number the calls it makes, then once for each chosen call N with that call
    failing ("fail call N"). Calls the stand-in cannot fail (attaching through the running object table,
    starting through COM) are left out."""

    def sweep(self, scenario, every, check, message_every=0):
        """`message_every`: runs whose call number is a multiple of it show the message; the others are
        silent (/s). A message costs Wine about 2 s."""
        clean = self.corvix(scenario, "/s")
        every *= SAMPLE
        numbers = [n for n, entry in enumerate(clean.entries(), 1)
                   if not entry.startswith(("ROT.", "COM.")) and n % every == 0]
        self.assertGreater(len(numbers), 10)
        survived = 0
        for n in numbers:
            with self.subTest(call=n, entry=clean.entries()[n - 1]):
                shows = message_every > 0 and n % message_every == 0
                run = self.corvix(scenario + f"fail call {n}\n", "" if shows else "/s")
                # The chosen call, and only it, failed: the run followed the clean one up to there.
                self.assertEqual(clean.calls()[:n], run.calls()[:n])
                self.assertTrue(injected(run.entries()[n - 1]), run.entries()[n - 1])
                self.assertEqual("0", run["exit_code"])
                self.assertIn("references held: 0", run.state)
                word, outlook = split_at_outlook(run)
                if n <= len(word):
                    # A failure anywhere in Word costs Outlook nothing.
                    self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
                if shows:
                    # The message comes once, after the last call Corvix made.
                    self.assertEqual([DONE], run.messages())
                    self.assertEqual(str((run.folder / "journal.txt").stat().st_size), run["message1_watch_bytes"])
                else:
                    self.assertEqual([], run.messages())
                check(run, clean.entries()[n - 1])
                survived += 1
        print(f"faults survived: {survived}/{len(numbers)}", file=sys.stderr)
        self.assertEqual(len(numbers), survived)

    def test_every_call_of_a_run_against_running_word_and_outlook(self):
        def check(run, failed):
            self.assertEqual([], run.calls("Quit"))

        self.sweep(BOTH_RUNNING, 1, check, message_every=5)

    def test_every_fourth_call_of_a_run_that_starts_word_and_outlook(self):
        # Every fourth call only, to keep the sweep short: each run starts both applications (about 3 s).
        def check(run, failed):
            for app, quit_call in (("word", "Word.Quit(BOOL true)"), ("outlook", "Outlook.Quit()")):
                # Each started application is quit once, unless its Quit was the call that failed.
                quits = 0 if failed.startswith(quit_call) else 1
                self.assertIn(f"{app}: running no, started yes, quit {quits}", run.state)

        self.sweep(BOTH_INSTALLED, 4, check, message_every=7)


class DyingOffice(Case):
    def tearDown(self):
        super().tearDown()
        if getattr(self, "killed", False):
            # Wine keeps a killed server's class registrations and running-object entries (no rundown of a
            # dead process): later starts would reach the dead server. A new wineserver for this prefix
            # forgets them.
            restart_wine()

    def run_killed_after(self, scenario, lines):
        """Runs Corvix (with the message) and kills the stand-in once its journal has `lines` lines."""
        outcome = {}

        def kill_when_far_enough(folder):
            deadline = time.time() + 60
            while journal_lines(folder) < lines and time.time() < deadline:
                time.sleep(0.005)
            outcome["killed"] = kill_standin(folder)
            self.killed = True
            outcome["at"] = journal_lines(folder)

        run = self.corvix(scenario + "slow 40\n", "", while_running=kill_when_far_enough, expect_state=False)
        self.assertGreaterEqual(outcome.get("killed", 0), 1, "no stand-in process was found to kill")
        # Killed in the middle: the journal stopped well short of a whole run's calls.
        self.assertLess(outcome["at"], 60)
        self.assertEqual("0", run["timed_out"])
        self.assertEqual("0", run["exit_code"])
        self.assertEqual([DONE], run.messages())
        return run

    def test_running_office_dies_during_word(self):
        self.run_killed_after(BOTH_RUNNING, 12)

    def test_started_office_dies_during_outlook(self):
        # The Outlook that COM started for the run dies while it is being cleaned: there is nothing left to quit.
        run = self.run_killed_after("outlook installed\n" + OUTLOOK, 15)
        self.assertNotIn("Outlook.Quit()", run.calls())

    def test_started_word_whose_quit_fails(self):
        run = self.corvix("word installed\n" + WORD + "fail Quit\n", "")
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))
        self.assertTrue(run.entries("Quit")[0].endswith(INJECTED))
        self.assertEqual([DONE], run.messages())
        self.assertEqual("0", run["exit_code"])
        # Word did not quit; Corvix let go of everything anyway.
        self.assertIn("word: running no, started yes, quit 0", run.state)
        self.assertIn("references held: 0", run.state)


class BusyOffice(Case):
    def test_calls_refused_while_busy_cost_at_most_their_step(self):
        run = self.corvix(BOTH_RUNNING + "busy 2 rejected\n", "")
        word, outlook = split_at_outlook(run)
        refused = [e for e in run.entries() if "busy: rejected" in e]
        self.assertEqual(2, len(refused))
        # Word's first call reached it after all: tried again.
        if "Word.NormalTemplate()" in run.calls():
            # COM asked Corvix's message filter, which tried the refused calls again until Word took them.
            self.assertEqual(WORD_DELETES, deletes(word))
        else:
            # Wine 8 never asks a client's filter (RetryRejectedCall): a refused call fails at once. The
            # refusals hit Word's first two calls, its Normal template and its CustomizationContext: the
            # context stays as it was and nothing is saved, but the bars are deleted as ever.
            self.assertTrue(all("Word" in e for e in refused), refused)
            self.assertEqual(WORD_DELETES, deletes(word))
            self.assertEqual([], run.calls("CustomizationContext"))
            self.assertEqual([], run.calls("Save"))
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
        # Under Wine the refusals cost its first two calls (its alerts going off, its Normal template), never
        # its bars; with COM retrying them through Corvix's filter, they cost nothing.
        self.assertEqual(WORD_DELETES, deletes(run.entries()))
        self.assertEqual(["Word.Quit(BOOL true)"], run.calls("Quit"))
        self.assertIn("word: running no, started yes, quit 1", run.state)
        self.assertEqual([DONE], run.messages())
        self.assertIn("references held: 0", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

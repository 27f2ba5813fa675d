"""What Corvix.exe tells the debugger channel, under Wine: the e2e driver listens as DebugView does on Windows
(Wine 8's OutputDebugString follows the same protocol). Every line starts with "Corvix: "; the last one sums
the run up. The calls that Corvix makes are the same as in a run that nobody listens to, and a listener that
never takes a line, or a channel that another process holds, changes nothing of the run."""
import re
import unittest

from harness import STALL_BOUND_MS, VERSION_TEXT, Case
from test_faults import BOTH_RUNNING, OUTLOOK_DELETES, WORD_DELETES, split_at_outlook, deletes
from test_hangs import LIMIT_S
from test_word import DONE

SUMMARY = re.compile(r"^Corvix: done in \d+\.\d\d s: (.*)$")


class DebuggerChannel(Case):
    def summary(self, run):
        """The run's last line, without its time; and checks that it is the last one and the only one."""
        lines = run.trace()
        self.assertTrue(lines, "nothing on the debugger channel")
        summaries = [line for line in lines if SUMMARY.match(line)]
        self.assertEqual([lines[-1]], summaries, lines)
        return SUMMARY.match(lines[-1]).group(1)

    def test_the_standard_run_tells_its_steps_and_sums_them_up(self):
        quiet = self.corvix(BOTH_RUNNING, "/s")
        run = self.corvix(BOTH_RUNNING, "/s", trace=True)
        self.assertEqual(quiet.calls(), run.calls(), "listening changed the calls")
        lines = run.trace()
        self.assertEqual(f'Corvix: version {VERSION_TEXT}, arguments "/s": silent', lines[0])
        # Under Wine every process is elevated and no desktop shell is registered: the run stays here.
        self.assertRegex(lines[1], r"^Corvix: context: .*: the run happens in this process$")
        self.assertIn("Corvix: Word: attached to the running instance", lines)
        self.assertIn('Corvix: Word: bar "Merrowin Software": found', lines)
        self.assertIn('Corvix: Outlook: main window: menu "&Tools": found', lines)
        self.assertEqual(len(WORD_DELETES) + len(OUTLOOK_DELETES), sum(line.endswith(" deleted") for line in lines))
        self.assertEqual(f"Word attached, {len(WORD_DELETES)} deleted, 0 failed; "
                         f"Outlook attached, {len(OUTLOOK_DELETES)} deleted, 0 failed", self.summary(run))

    def test_a_failing_delete_is_told_with_its_status(self):
        run = self.corvix(BOTH_RUNNING + "fail Delete on \"bar 'Merrowin Software'\" nth 1\n", "/s", trace=True)
        self.assertIn('Corvix: Word: bar "Merrowin Software" not deleted: 0x80010105', run.trace())
        self.assertEqual(f"Word attached, {len(WORD_DELETES) - 1} deleted, 1 failed; "
                         f"Outlook attached, {len(OUTLOOK_DELETES)} deleted, 0 failed", self.summary(run))

    def test_a_hung_word_is_told_as_given_up_at_its_call(self):
        run = self.corvix(BOTH_RUNNING + "hang Delete on \"button 'Find'\" nth 1\n", "/s", trace=True, limit=LIMIT_S)
        self.assertGreater(STALL_BOUND_MS, 0, "CORVIX_STALL_BOUND_MS: the build's stall bound, which CTest hands over")
        given_up = [line for line in run.trace() if line.startswith("Corvix: Word: given up at ")]
        self.assertEqual(1, len(given_up), run.trace())
        self.assertIn(f"Delete: no answer for {STALL_BOUND_MS / 1000:.2f} s", given_up[0])
        self.assertRegex(self.summary(run), r"^Word attached, 1 deleted, 0 failed, given up; "
                                            rf"Outlook attached, {len(OUTLOOK_DELETES)} deleted, 0 failed$")

    def test_neither_application_registered_is_told_with_the_failures(self):
        run = self.corvix("", "/s", register=False, trace=True)
        lines = run.trace()
        not_reached = [line for line in lines if ": not reached: attach 0x" in line]
        self.assertEqual(2, len(not_reached), lines)
        self.assertTrue(not_reached[0].startswith("Corvix: Word: "))
        self.assertEqual("Word not reached, 0 deleted, 0 failed; Outlook not reached, 0 deleted, 0 failed",
                         self.summary(run))


class StalledListener(Case):
    """A debug monitor that hung (its buffer there, never ready for a line), and DBWinMutex held by another
    process with a live monitor behind it: each would hold every writer of a line for 10 s, or for ever."""

    def check_standard_run(self, channel, arguments, quiet):
        run = self.corvix(BOTH_RUNNING, arguments, channel=channel)
        word, outlook = split_at_outlook(run)
        self.assertEqual(WORD_DELETES, deletes(word))
        self.assertEqual(OUTLOOK_DELETES, deletes(outlook))
        self.assertEqual(quiet.calls(), run.calls(), "the stalled channel changed the calls")
        self.assertEqual([DONE] if arguments != "/s" else [], run.messages())
        self.assertEqual("0", run["exit_code"])
        self.assertIn("references held: 0", run.state)
        return run

    def test_a_listener_that_never_takes_a_line_holds_nothing_up(self):
        quiet = self.corvix(BOTH_RUNNING, "/s")
        for arguments in ("", "/s"):
            with self.subTest(arguments=arguments):
                run = self.check_standard_run("stale", arguments, quiet)
                self.assertEqual("0", run["listener_lines"])

    def test_a_channel_held_by_another_process_holds_nothing_up(self):
        quiet = self.corvix(BOTH_RUNNING, "/s")
        for arguments in ("", "/s"):
            with self.subTest(arguments=arguments):
                run = self.check_standard_run("held", arguments, quiet)
                # The monitor behind the held mutex got none of Corvix's lines: every write waited on it.
                self.assertEqual([], run.trace())


if __name__ == "__main__":
    unittest.main(verbosity=2)

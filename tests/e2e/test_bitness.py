"""Corvix.exe needs nothing of Office but its ProgIDs, its running object table entry and IDispatch: the same
run, call for call, whichever bitness Office registered its type library for, or none at all."""
import unittest

from harness import Case
from test_faults import BOTH_INSTALLED, BOTH_RUNNING

# The interfaces Corvix would need marshaled if it converted by interface; it never asks for them.
OFFICE_IIDS = ("{000C030E-", "{000C030A-", "{00063034-")


class TypeLibrary(Case):
    def test_same_run_whatever_the_type_library_registration(self):
        for name, scenario in (("running", BOTH_RUNNING), ("started", BOTH_INSTALLED)):
            registered = self.corvix(scenario, "/s", typelib="both")
            # The tests of what a control or an item is are Type and Class reads, never a conversion.
            self.assertEqual([], registered.calls("QueryInterface"))
            self.assertFalse([e for e in registered.journal if any(iid in e for iid in OFFICE_IIDS)])
            self.assertIn("mail 'Hello'.Class() -> I4 43", registered.entries("Class"))
            self.assertIn("button 'Ours'.Type() -> I4 1", registered.entries("Type"))
            self.assertIn("popup '&Tools'.Type() -> I4 10", registered.entries("Type"))
            self.assertIn("references held: 0", registered.state)
            for typelib in ("none", "win32", "win64"):
                with self.subTest(scenario=name, typelib=typelib):
                    run = self.corvix(scenario, "/s", typelib=typelib)
                    self.assertEqual(registered.journal, run.journal)
                    self.assertEqual(registered.state, run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

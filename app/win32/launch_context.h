// Where the run happens on Windows: the facts about this process, the desktop shell and the sessions, and the
// copies that run the clean-up in the desktop user's context.
#pragma once

#include "app/frm_main.h"
#include "app/run_context.h"

namespace corvix::win32 {

// Makes System32 the current directory, decides where the run happens (app/run_context.h) and, when that is
// elsewhere, has the copies started there with the shell's argument text and waits for them, telling the
// shell's channel what it found and did. Returns what this process does then:
// - kRunHere: the run, in this process (an ordinary run, a copy, or the fallback for the shell's copy when
//   this process's user is the desktop user);
// - kRunNothing: no clean-up, the completion message as ever (the shell's copy never ran, and the desktop
//   user is another user; or LocalSystem with no active session);
// - anything else: nothing more; the copies did the run (each shows the message unless "/s").
Placement PlaceRun(Shell& shell);

// Tells the parent that handed this process its run (if one did) that the run has ended. Called once the run
// has ended, before the process ends.
void EndHandover();

}  // namespace corvix::win32

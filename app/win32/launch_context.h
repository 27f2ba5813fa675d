// Where the run happens on Windows: the facts about this process, the desktop shell and the sessions, and the
// children that run the clean-up in the desktop user's context.
#pragma once

#include "app/frm_main.h"

namespace corvix::win32 {

// Decides where the run happens (app/run_context.h) and, when that is elsewhere, starts the children there
// with the shell's argument text and waits for them, at most relaunch::kChildWaitMs, telling the shell's
// channel what it found and did. True when this
// process is done: its children do the run (each shows the message unless "/s"), or there is none to do
// (LocalSystem with no active session, or no child that could be started for one); the caller then ends
// with exit code 0 without starting Office or showing anything. False when the run happens in this process:
// an ordinary run, or the fallback when the child for the desktop shell's context cannot be started.
bool RanElsewhere(Shell& shell);

}  // namespace corvix::win32

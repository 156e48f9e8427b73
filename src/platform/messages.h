// The calling thread's window messages.  The read-any-card loop takes one
// message between its rounds so that an application whose window procedure
// calls KP_DEV_CancelReadAll keeps working while the loop runs on its
// thread.  One implementation file per operating system (messages_posix.cpp,
// messages_win32.cpp).
#pragma once

namespace kp::platform {

// Removes one pending message of the calling thread, if there is one, and
// dispatches it to its window procedure.  Never waits.  Without a window
// system (POSIX) there is nothing to take and the call does nothing.
void PumpOneMessage();

}  // namespace kp::platform

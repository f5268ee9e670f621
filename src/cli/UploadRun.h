#pragma once
// Runs an upload run that a source has started to its end, as the window's timers would.

#include "cli/Session.h"

namespace velmora::cli {

// The one-shot start tick (playlist file, then the loop until the queue is empty or held).
// Returns kExitOk when the queue was worked through, kExitFailed when the run stopped.
int RunUploadToEnd(Session& session);

} // namespace velmora::cli

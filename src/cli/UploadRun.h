#pragma once
// Runs an upload run that a source has started to its end, as the window's timers would.

#include "cli/Session.h"

namespace velmora::cli {

// The one-shot start tick (playlist file, then the loop until the queue is empty or held).
// Returns kExitOk when the queue was worked through, kExitFailed when the run stopped. A dry run
// instead lists on stdout what the run would do with each file ("send", "metadata only", "already
// in your library", "skip: REASON", "fail: REASON", a tab, the path) and returns kExitOk.
int RunUploadToEnd(Session& session);

} // namespace velmora::cli

#include "cli/UploadRun.h"

#include "cli/StopSignals.h"

namespace velmora::cli {

int RunUploadToEnd(Session& session) {
  Engine& engine = session.engine();
  // A stop signal during the analysis: nothing is sent, the queued files are reported skipped.
  if (ApplyStopSignal(engine)) {
    session.ui().ShowMessage("Upload stopped with " + std::to_string(engine.upload().queue().QueueCount()) +
                             " file(s) left in the queue");
    return kExitFailed;
  }
  session.ui().DrawBarFor(ProgressBar::StatusGlobal);
  engine.OnStartTimer();
  if (engine.upload().outcome() != RunOutcome::Finished) {
    if (engine.upload().outcome() == RunOutcome::Stopped) {
      session.ui().ShowMessage("Upload stopped with " + std::to_string(engine.upload().queue().QueueCount()) +
                               " file(s) left in the queue");
    }
    return kExitFailed;
  }
  session.ui().ShowMessage("Upload done!");
  return kExitOk;
}

} // namespace velmora::cli

#include "cli/UploadRun.h"

#include "cli/StopSignals.h"
#include "cli/TransferOptions.h"

#include <cstdio>

namespace velmora::cli {
namespace {

// What a run would do with the file, as a dry run lists it.
std::string PlannedAction(const FileOutcome& outcome) {
  switch (outcome.kind) {
  case FileOutcomeKind::Sent: return "send";
  case FileOutcomeKind::MetadataOnly: return "metadata only";
  case FileOutcomeKind::AlreadyInLibrary: return "already in your library";
  case FileOutcomeKind::Failed: return "fail: " + outcome.reason;
  default: return "skip: " + outcome.reason;
  }
}

// A dry run's data on stdout: "ACTION<TAB>PATH" per file, in the order decided.
void PrintPlannedRun(const Engine& engine) {
  const OutcomeLog log = engine.UploadReport();
  for (const FileOutcome& outcome : log.entries()) {
    std::printf("%s\t%s\n", TerminalText(PlannedAction(outcome)).c_str(), TerminalText(outcome.path).c_str());
  }
  std::fflush(stdout);
}

} // namespace

int RunUploadToEnd(Session& session) {
  Engine& engine = session.engine();
  if (engine.upload().dryRun()) {
    PrintPlannedRun(engine);
    return kExitOk;
  }
  // A stop signal during the analysis: nothing is sent, the queued files are reported skipped.
  if (ApplyStopSignal(engine)) {
    session.ui().ShowMessage("Upload stopped with " + std::to_string(engine.upload().queue().QueueCount()) +
                             " file(s) left in the queue");
    return kExitFailed;
  }
  const LiveProgress live(session.ui(), UploadRunFigures(engine));
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

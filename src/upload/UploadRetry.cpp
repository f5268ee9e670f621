// Whether an upload is sent again after a failure: shared by the one-at-a-time loop and the lanes.

#include "upload/UploadPipeline.h"

#include "service/Retry.h"

namespace velmora {

bool UploadPipeline::SendAgain(const std::string& what, const std::exception& failure, int failures) {
  if (service_.retrier().WaitToRetry(what, RepeatSafety::Idempotent, failure, failures)) return true;
  // A watched run hands its files back to the watch, which tries again later.
  if (watchedRun_ && DescribeFailure(failure).transient) throw ServiceUnreachable(failure.what());
  return false;
}

} // namespace velmora

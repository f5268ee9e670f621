#pragma once
// Byte counters of one upload run, shared by the request progress events and the upload pages.

#include <cstdint>

namespace velmora {

struct RunCounters {
  // Sum of the sizes of the files queued by the last build.
  std::int64_t TotalBytes = 0;
  // Every byte moved, sent and received, by requests with progress events in this run.
  std::int64_t UploadedBytes = 0;
  // The upload status window's copy of UploadedBytes and what remains of TotalBytes (may go
  // below zero: form overhead and answers count too).
  std::int64_t ShownUploadedBytes = 0;
  std::int64_t BytesLeft = 0;
  // The run sends no file content (only metadata): its bytes barely move, so the status window's
  // global bar counts the run's items instead and the progress events leave it alone.
  bool ItemsOnGlobalBar = false;
};

} // namespace velmora

#pragma once
// How far a run of transfers is, in the figures every front end shows: the window's status
// window and the command line's live line read the same engine object.

#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

struct TransferFigures {
  int filesDone = 0;
  int filesTotal = 0; // 0: not known
  std::int64_t bytesDone = 0;
  std::int64_t bytesTotal = 0; // 0: not known (a run of metadata only, a restore)
  // Average speed since the run started, and the time left at that speed; nothing before the
  // first measurable second.
  std::optional<std::int64_t> bytesPerSecond;
  std::optional<std::int64_t> secondsLeft;
  // The name of the file in transfer (the oldest one with several transfers), without its folder.
  std::string currentFile;
};

// The speed and time left of one tick of the upload status timer, as the status panel and the
// command line's live line show them.
struct StatusTick {
  std::int32_t kilobytesPerSecond = 0;
  std::int64_t secondsLeft = 0; // zero or negative once more has moved than was queued
};

// Speed and time left after `elapsedSeconds` of a run: the average since it started, or nothing
// when fewer than 1024 bytes moved per elapsed second. All divisions truncate toward zero.
std::optional<StatusTick> StatusTickFigures(std::int64_t movedBytes, std::int64_t bytesLeft,
                                            std::int64_t elapsedSeconds);

} // namespace velmora

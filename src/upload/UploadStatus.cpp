#include "upload/UploadStatus.h"

namespace velmora {

std::string StatusTickText(const StatusTick& tick, int itemsStarted, int queueCountAtStart) {
  const std::int64_t secondsLeft = tick.secondsLeft;
  const std::int64_t hours = (secondsLeft / 60) / 60;
  const std::int64_t minutes = (secondsLeft / 60) - hours * 60;
  const std::int64_t seconds = secondsLeft - minutes * 60 - hours * 3600;

  std::string timeLeft;
  if (hours > 0) timeLeft = std::to_string(hours) + " hours ";
  timeLeft += std::to_string(minutes) + " min " + std::to_string(seconds) + " sec";

  return "     Speed: " + std::to_string(tick.kilobytesPerSecond) + " kb/sec  |  Uploaded: " +
         std::to_string(itemsStarted) + " / " + std::to_string(queueCountAtStart) + "  |  Time left: " + timeLeft;
}

std::optional<std::string> StatusTickText(std::int64_t shownUploadedBytes, std::int64_t bytesLeft,
                                          std::int64_t elapsedSeconds, int itemsStarted, int queueCountAtStart) {
  const auto tick = StatusTickFigures(shownUploadedBytes, bytesLeft, elapsedSeconds);
  if (!tick) return std::nullopt;
  return StatusTickText(*tick, itemsStarted, queueCountAtStart);
}

namespace {

std::string Files(int count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

} // namespace

RunEndNotice FinishedRunNotice(const RunFileCounts& counts) {
  std::string text = Files(counts.uploaded) + " uploaded";
  if (counts.alreadyThere > 0) text += ", " + std::to_string(counts.alreadyThere) + " already in your locker";
  return {"Upload done!", text + ".", false};
}

RunEndNotice FailedRunNotice(const std::string& error) { return {"Upload stopped", error, true}; }

} // namespace velmora

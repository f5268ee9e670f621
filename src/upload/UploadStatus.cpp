#include "upload/UploadStatus.h"

namespace velmora {

std::optional<std::string> StatusTickText(std::int64_t shownUploadedBytes, std::int64_t bytesLeft,
                                          std::int64_t elapsedSeconds, int itemsStarted, int queueCountAtStart) {
  if (elapsedSeconds <= 0) return std::nullopt;
  // The window shows the speed as a 32-bit number; a run never gets near its limit.
  const auto speed = static_cast<std::int32_t>((shownUploadedBytes / 1024) / elapsedSeconds);
  if (speed <= 0) return std::nullopt;

  const std::int64_t secondsLeft = (bytesLeft / 1024) / speed;
  const std::int64_t hours = (secondsLeft / 60) / 60;
  const std::int64_t minutes = (secondsLeft / 60) - hours * 60;
  const std::int64_t seconds = secondsLeft - minutes * 60 - hours * 3600;

  std::string timeLeft;
  if (hours > 0) timeLeft = std::to_string(hours) + " hours ";
  timeLeft += std::to_string(minutes) + " min " + std::to_string(seconds) + " sec";

  return "     Speed: " + std::to_string(speed) + " kb/sec  |  Uploaded: " + std::to_string(itemsStarted) + " / " +
         std::to_string(queueCountAtStart) + "  |  Time left: " + timeLeft;
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

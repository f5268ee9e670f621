#include "base/TransferFigures.h"

namespace velmora {

std::optional<StatusTick> StatusTickFigures(std::int64_t movedBytes, std::int64_t bytesLeft,
                                            std::int64_t elapsedSeconds) {
  if (elapsedSeconds <= 0) return std::nullopt;
  // The window shows the speed as a 32-bit number; a run never gets near its limit.
  const auto speed = static_cast<std::int32_t>((movedBytes / 1024) / elapsedSeconds);
  if (speed <= 0) return std::nullopt;
  return StatusTick{speed, (bytesLeft / 1024) / speed};
}

} // namespace velmora

#pragma once
// One direction of an emulated link: a line of a fixed rate that every connection's bytes share,
// followed by a fixed delay. Bytes handed over while the line is busy wait for the bytes ahead of
// them, whichever connection sent those, as on one real link.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace velmora::link {

using Clock = std::chrono::steady_clock;

class Link {
public:
  // `bytesPerSecond` 0: no rate limit, only the delay.
  Link(std::int64_t bytesPerSecond, Clock::duration delay) : rate_(bytesPerSecond), delay_(delay) {}

  // When `bytes` handed to the line at `now` have arrived at the far end.
  Clock::time_point Arrival(std::size_t bytes, Clock::time_point now);

  Clock::duration delay() const { return delay_; }
  std::int64_t rate() const { return rate_; }

private:
  std::mutex mutex_;
  const std::int64_t rate_;
  const Clock::duration delay_;
  Clock::time_point lineFree_{};
};

// "2500000", "64K", "1.5M" (bytes per second, K/M/G = 1024), "20mbit", "512kbit" (bits per second,
// k/m/g = 1000), "0" or "off" (no limit). Nothing for any other text.
std::optional<std::int64_t> ParseRate(std::string_view text);

} // namespace velmora::link

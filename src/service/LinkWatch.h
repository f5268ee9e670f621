#pragma once
// How every connection to the service notices a dead link, and how a transfer obeys a stop.
//
// A peer that vanished (a dropped route, a sleeping router, a pulled cable) sends no reset, so a
// connection would wait for it forever. TCP keep-alive probes find it while the program waits for
// an answer, and TCP_USER_TIMEOUT bounds how long sent data may stay unacknowledged; either ends
// the request as a connection failure. A service that is slow but alive answers the probes and is
// waited for however long it takes: there is no read time-out.

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace velmora {

namespace link {
// A connection not set up by then has failed (a SYN into a dropped port).
inline constexpr long kConnectSeconds = 30;
// Silence on an idle connection before the first probe, the gap between probes, and how many
// unanswered probes count as a dead link when no user time-out applies.
inline constexpr int kKeepIdleSeconds = 20;
inline constexpr int kKeepIntervalSeconds = 10;
inline constexpr int kKeepProbes = 5;
// The longest sent data may stay unacknowledged, and (Linux) the longest an idle connection may
// go without any answer once probes are out: a dead link ends within about a minute.
inline constexpr unsigned kUserTimeoutMilliseconds = 60'000;
// A transfer asked to stop that has moved no byte for this long is abandoned.
inline constexpr std::chrono::seconds kStalledAfterStop{10};
} // namespace link

// Sets the connect bound, the keep-alive probes and the user time-out on every connection the
// handle opens. Throws ApiError when curl refuses a setting.
void WatchLink(CURL* handle);

// Under a speed limit, gives every new connection of the handle socket buffers of about
// `bufferBytes` (0: the system's own, which grow to megabytes). A small file otherwise lands in the
// receive buffer at the link's full speed and is read from there before the limit acts, so a run of
// small files would move at several times the limit.
void BoundSocketBuffers(CURL* handle, std::int64_t bufferBytes);

// Asked while a transfer runs: has the user asked the current activity to stop?
using StopRequest = std::function<bool()>;

// Tells a transfer that was asked to stop when to give up: while bytes move it may finish; once no
// byte has moved for link::kStalledAfterStop since the stop was seen, it is abandoned.
class StallAfterStop {
public:
  using Clock = std::chrono::steady_clock;
  explicit StallAfterStop(const StopRequest& stop) : stop_(stop) {}
  // `moved`: the transfer's byte counts so far, both directions added.
  bool ShouldAbandon(std::int64_t moved, Clock::time_point now = Clock::now());

private:
  const StopRequest& stop_;
  std::optional<Clock::time_point> quietSince_;
  std::int64_t moved_ = 0;
};

} // namespace velmora

#include "service/LinkWatch.h"

#include "service/ApiError.h"

#include <algorithm>
#include <cstdint>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace velmora {
namespace {

// Options curl has no setting for; the socket is fresh and not yet connected, so the buffer sizes
// also bound the window the connection announces.
int OnSocket(void* bufferBytes, curl_socket_t socket, curlsocktype purpose) {
  if (purpose != CURLSOCKTYPE_IPCXN) return CURL_SOCKOPT_OK;
  if (const auto buffer = static_cast<int>(reinterpret_cast<std::intptr_t>(bufferBytes)); buffer > 0) {
    (void)::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    (void)::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  }
  const int probes = link::kKeepProbes;
  const unsigned userTimeout = link::kUserTimeoutMilliseconds;
  // A socket that refuses them (not TCP) simply goes without.
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
  return CURL_SOCKOPT_OK;
}

} // namespace

void WatchLink(CURL* handle) {
  if (curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, link::kConnectSeconds) != CURLE_OK ||
      curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L) != CURLE_OK ||
      curl_easy_setopt(handle, CURLOPT_TCP_KEEPIDLE, static_cast<long>(link::kKeepIdleSeconds)) != CURLE_OK ||
      curl_easy_setopt(handle, CURLOPT_TCP_KEEPINTVL, static_cast<long>(link::kKeepIntervalSeconds)) != CURLE_OK ||
      curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, &OnSocket) != CURLE_OK) {
    throw ApiError("Cannot set up the HTTP client's link checks");
  }
}

void BoundSocketBuffers(CURL* handle, std::int64_t bufferBytes) {
  // The size travels as the callback's data pointer itself: nothing to outlive the handle.
  const auto size = static_cast<std::intptr_t>(std::clamp<std::int64_t>(bufferBytes, 0, 64 * 1024 * 1024));
  curl_easy_setopt(handle, CURLOPT_SOCKOPTDATA, reinterpret_cast<void*>(size));
}

bool StallAfterStop::ShouldAbandon(std::int64_t moved, Clock::time_point now) {
  if (!stop_ || !stop_()) {
    quietSince_.reset();
    return false;
  }
  // Counts also go back (a redirect starts a new request): any change is movement.
  if (!quietSince_ || moved != moved_) {
    quietSince_ = now;
    moved_ = moved;
    return false;
  }
  return now - *quietSince_ >= link::kStalledAfterStop;
}

} // namespace velmora

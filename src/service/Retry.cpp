#include "service/Retry.h"

#include "base/ShowStatus.h"
#include "service/ApiError.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <thread>

namespace velmora {
namespace {

constexpr auto kMaxBackoff = std::chrono::seconds(60);
constexpr auto kMaxRetryAfter = std::chrono::seconds(300);
// How often a wait lets the front end handle its events (a click on "Stop upload", a signal).
constexpr auto kWaitSlice = std::chrono::milliseconds(100);

} // namespace

FailureFacts DescribeFailure(const std::exception& failure) {
  FailureFacts facts;
  const auto* error = dynamic_cast<const ApiError*>(&failure);
  if (!error) return facts; // a local problem (a file that cannot be opened): trying again changes nothing
  facts.retryAfter = error->retryAfter();
  if (const int status = error->httpStatus(); status != 0) {
    facts.transient = status >= 500 || status == 429;
    // Both say "not now" before any work is done.
    facts.notActedOn = status == 429 || status == 503;
    return facts;
  }
  switch (error->transportCode()) {
  case CURLE_COULDNT_CONNECT:
  case CURLE_COULDNT_RESOLVE_HOST:
    // Nothing of the request left this machine.
    facts.transient = true;
    facts.notActedOn = true;
    break;
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR:
  case CURLE_GOT_NOTHING:
  case CURLE_PARTIAL_FILE:
  case CURLE_OPERATION_TIMEDOUT:
    // Reset, cut or dead while the request or its answer was under way.
    facts.transient = true;
    break;
  default: break;
  }
  return facts;
}

bool MayRepeat(RepeatSafety safety, const FailureFacts& facts) {
  if (!facts.transient) return false;
  return safety == RepeatSafety::Idempotent || facts.notActedOn;
}

RepeatSafety RepeatSafetyOf(const std::string& method) {
  // Only the invitation sends something into the world that a second copy would repeat.
  return method == "misc/sendinvitation" ? RepeatSafety::OnlyIfNotActedOn : RepeatSafety::Idempotent;
}

std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value) {
  std::size_t begin = value.find_first_not_of(" \t");
  std::size_t end = value.find_last_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  long long seconds = 0;
  const char* first = value.data() + begin;
  const char* last = value.data() + end + 1;
  const auto [stop, error] = std::from_chars(first, last, seconds);
  if (error != std::errc() || stop != last || seconds < 0 || seconds > kMaxRetryAfter.count()) return std::nullopt;
  return std::chrono::seconds(seconds);
}

std::chrono::milliseconds BackoffDelay(int retry, double jitter) {
  const int doublings = std::clamp(retry - 1, 0, 6); // 2^6 s is past the cap already
  const auto nominal = std::min<std::chrono::milliseconds>(std::chrono::seconds(1LL << doublings), kMaxBackoff);
  const double share = std::clamp(jitter, 0.0, 1.0) / 5;
  return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(nominal.count()) * (1 - share)));
}

std::chrono::milliseconds RetryDelay(int retry, const std::string& retryAfter, double jitter) {
  if (const auto told = ParseRetryAfter(retryAfter)) return *told;
  return BackoffDelay(retry, jitter);
}

bool Retrier::WaitToRetry(const std::string& what, RepeatSafety safety, const std::exception& failure, int failures) {
  if (failures > retries_ || abandoned_) return false;
  const FailureFacts facts = DescribeFailure(failure);
  if (!MayRepeat(safety, facts)) return false;
  const double jitter = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
  const std::chrono::milliseconds delay = RetryDelay(failures, facts.retryAfter, jitter);
  const auto shown = std::chrono::ceil<std::chrono::seconds>(delay).count();
  ShowStatus(ui_, "Retrying " + what + " in " + std::to_string(shown) + " s (attempt " + std::to_string(failures) +
                      " of " + std::to_string(retries_) + "): " + failure.what());
  return Wait(delay);
}

bool Retrier::Wait(std::chrono::milliseconds delay) {
  const auto deadline = std::chrono::steady_clock::now() + delay;
  for (;;) {
    ui_.ProcessMessages();
    if (abandoned_) return false;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kWaitSlice));
  }
}

} // namespace velmora

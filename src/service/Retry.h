#pragma once
// Sending a request again after a transient failure: which failures count, which requests may be
// repeated, how long to wait, and the wait itself (a status line, messages pumped, a stop obeyed).
// Upload and restore ask this one component; with no retries allowed (the default) nothing here
// changes what goes on the wire.

#include "base/Ui.h"

#include <chrono>
#include <exception>
#include <optional>
#include <random>
#include <string>

namespace velmora {

inline constexpr int kMaxRetries = 100;

// Whether a request may go out again after it failed.
enum class RepeatSafety {
  // Sending it twice has the effect of sending it once: repeated after any transient failure.
  Idempotent,
  // A second copy would act twice (a second invitation mail): repeated only when the service
  // surely did not act on the first (connection refused, host not found, HTTP 429 or 503).
  OnlyIfNotActedOn,
};

// What a failed exchange tells about trying again.
struct FailureFacts {
  bool transient = false;  // refused, reset, dead or timed-out connection, HTTP 5xx, 429
  bool notActedOn = false; // the service cannot have acted on the request
  std::string retryAfter;  // the answer's Retry-After header, as sent
};
FailureFacts DescribeFailure(const std::exception& failure);
// Whether a request of this safety may go out again after this failure.
bool MayRepeat(RepeatSafety safety, const FailureFacts& facts);
// The safety of each REST method the program calls (docs/architecture.md has the reasons).
RepeatSafety RepeatSafetyOf(const std::string& method);

// Seconds of a Retry-After header when it is a plain number of at most 300; otherwise nothing
// (a date, garbage, a larger number), and the program's own backoff applies.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value);
// The program's own wait before retry `retry` (1-based): 1 s, 2 s, 4 s ... at most 60 s, less a
// random share of up to a fifth (`jitter` in [0, 1]), so clients cut off together do not return
// together.
std::chrono::milliseconds BackoffDelay(int retry, double jitter);
// Retry-After when usable, else BackoffDelay.
std::chrono::milliseconds RetryDelay(int retry, const std::string& retryAfter, double jitter);

class Retrier {
public:
  explicit Retrier(Ui& ui) : ui_(ui) {}

  // How many times a failed request is sent again (0: one failure ends it).
  int retries() const { return retries_; }
  void SetRetries(int retries) { retries_ = retries < 0 ? 0 : (retries > kMaxRetries ? kMaxRetries : retries); }
  // A stop request (Stop upload, Cancel Downloads, a signal): a wait in progress or to come ends
  // at once and the failure stands. Cleared when a new run starts.
  void Abandon(bool abandon = true) { abandoned_ = abandon; }
  bool abandoned() const { return abandoned_; }

  // After failure number `failures` (1-based) of `what`: when it may be sent again, shows
  // "Retrying WHAT in N s (attempt K of R): reason", waits pumping messages, and returns true.
  // False when the failure is not transient, the request not safe to repeat, the retries are
  // used up or a stop came.
  bool WaitToRetry(const std::string& what, RepeatSafety safety, const std::exception& failure, int failures);

  // Runs `attempt` until it returns, sending it again while WaitToRetry allows; rethrows the
  // last failure otherwise.
  template <class Attempt>
  auto Run(const std::string& what, RepeatSafety safety, Attempt&& attempt) -> decltype(attempt()) {
    for (int failures = 1;; ++failures) {
      try {
        return attempt();
      } catch (const std::exception& failure) {
        if (!WaitToRetry(what, safety, failure, failures)) throw;
      }
    }
  }

private:
  // Waits pumping messages; false when a stop came first.
  bool Wait(std::chrono::milliseconds delay);

  Ui& ui_;
  int retries_ = 0;
  bool abandoned_ = false;
  std::minstd_rand random_{std::random_device{}()};
};

} // namespace velmora

#pragma once
// The program's link to the service: where it is, who asks, and who watches the bytes move.

#include "base/RateTimetable.h"
#include "base/Ui.h"
#include "service/ApiResult.h"
#include "service/FormData.h"
#include "service/LinkWatch.h"
#include "service/Retry.h"
#include "service/RunCounters.h"
#include "service/TransferLanes.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// The raw answer of one request.
struct HttpReply {
  int StatusCode = 0;
  std::string Body;
};

class ServiceClient {
public:
  // `baseUrl` as ServerBaseUrl gives it; progress of requests goes to `ui` and the run counters.
  ServiceClient(Ui& ui, std::string baseUrl) : ui_(ui), baseUrl_(std::move(baseUrl)), retrier_(ui) {}
  virtual ~ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  const std::string& baseUrl() const { return baseUrl_; }
  const std::string& userName() const { return userName_; }
  const std::string& password() const { return password_; }
  void setCredentials(std::string userName, std::string password) {
    userName_ = std::move(userName);
    password_ = std::move(password);
  }
  // Byte counters of the upload run; requests with progress events move them.
  RunCounters& counters() { return counters_; }
  const RunCounters& counters() const { return counters_; }
  Ui& ui() { return ui_; }
  // Bytes per second a request starting now may move in either direction; 0 for no limit. Applied
  // through libcurl's own send and receive limits when the request starts, so a request keeps the
  // rate it started with when the timetable switches during it.
  std::int64_t rateLimit() const { return rateLimit_.RateAtTime(clock_()); }
  void SetRateLimit(RateTimetable timetable) { rateLimit_ = std::move(timetable); }
  // Where the time of day for the timetable comes from (tests force one).
  void SetClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }
  // How failed requests are sent again (none unless retries are set); Call uses it, and so do the
  // upload of a new file and the restore's downloads.
  Retrier& retrier() { return retrier_; }
  // How many queue items or downloads are in transfer at once (kMinTransfers to kMaxTransfers).
  // With 1 every request has a connection of its own, one item at a time; more start that many
  // lanes (TransferLanes) whose connections are kept for the run.
  int transfers() const { return transfers_; }
  // With more than 1, Post also keeps one connection of its own for the engine's requests.
  void SetTransfers(int transfers);
  // Who asks and where, for lanes started now.
  LaneIdentity laneIdentity() const { return {baseUrl_, userName_, password_}; }
  // The kept connection of the engine's own requests (transfers above 1), lent to one more lane
  // while a run's lanes go; empty when there is none or it is in use. Until it is given back, the
  // engine's own requests take a client of their own.
  LentConnection LendKeptHandle();
  void GiveBackKeptHandle();
  const Retrier& retrier() const { return retrier_; }
  // Asked during every request: once it answers true, a request that moves no byte for
  // link::kStalledAfterStop is abandoned with TransferAbandoned. Whoever owns the activities
  // (the engine) says what a stop is.
  void SetStopRequest(StopRequest stop) { stopRequest_ = std::move(stop); }
  bool StopRequested() const { return stopRequest_ && stopRequest_(); }

  // Posts the caller's fields followed by "username", "hashpassword", "format", "appkey" and
  // "_programversion" to the method's address, with an HTTP client of its own (cookies live for
  // this call only; with transfers() above 1 one kept connection serves them all). With `progress`, the file bars, the run counters and message pumps follow the
  // bytes. Throws ApiError on any transport failure (a dead link included, see LinkWatch.h) and on
  // an answer whose status is not 2xx after at most 15 redirects; `response` is filled only on
  // success. Virtual so that a client without a network (the tests' recording one) can take the
  // exchange's place; Call goes through it.
  virtual void Post(const std::string& method, FormData form, HttpReply& response, bool progress = true);

  // Post, then ParseApiResult of the body; a transient failure of the exchange is sent again as
  // the retrier allows for the method (RepeatSafetyOf). When either fails, the result is not successful,
  // carries code 500 and an empty ResponseText, and its ErrorMessage is `failureMessage` ("Could
  // not connect to server" on the login and restore paths) or, when that is empty (the upload
  // paths), the cause of the failure. Nothing is thrown.
  ServiceReply Call(const std::string& method, FormData form, bool progress, const std::string& failureMessage);

private:
  Ui& ui_;
  std::string baseUrl_;
  std::string userName_;
  std::string password_;
  RunCounters counters_;
  RateTimetable rateLimit_;
  std::function<std::time_t()> clock_ = [] { return std::time(nullptr); };
  Retrier retrier_;
  int transfers_ = kMinTransfers;
  struct KeptConnection;
  static void DropKept(KeptConnection* kept);
  std::unique_ptr<KeptConnection, void (*)(KeptConnection*)> kept_{nullptr, &DropKept};
  StopRequest stopRequest_;
};

} // namespace velmora

#include "service/TransferLanes.h"

#include "service/ApiError.h"
#include "service/CurlHandles.h"
#include "service/RequestOnHandle.h"
#include "service/ServiceClient.h"

#include <algorithm>

namespace velmora {

void LaneProgress::Update(std::int64_t sendTotal, std::int64_t sent, std::int64_t receiveTotal,
                          std::int64_t received) {
  // Counts that go back mean a new request after a redirect: its bytes are new bytes.
  if (sent < sent_ || received < received_) sent_ = received_ = 0;
  total_.fetch_add((sent - sent_) + (received - received_));
  sent_ = sent;
  received_ = received;
  if (!ticket_) return;
  // The file bar follows the body while it goes out, then the answer.
  const bool answering = received > 0 || (sendTotal > 0 && sent >= sendTotal);
  ticket_->requestMoved_.store(answering ? received : sent, std::memory_order_relaxed);
  ticket_->requestTotal_.store(answering ? receiveTotal : sendTotal, std::memory_order_relaxed);
}

TransferLane::TransferLane(TransferLanes& lanes) : lanes_(lanes), handle_(curl_easy_init()) {
  if (!handle_) throw ApiError("Cannot start an HTTP client");
}

TransferLane::TransferLane(TransferLanes& lanes, LentConnection lent)
    : lanes_(lanes), handle_(lent.handle), multi_(lent.multi), ownsHandle_(false) {}

TransferLane::~TransferLane() {
  if (ownsHandle_) curl_easy_cleanup(static_cast<CURL*>(handle_));
}

std::int64_t TransferLane::RateShare() const {
  const std::int64_t limit = lanes_.rateLimit_ ? lanes_.rateLimit_() : 0;
  if (limit <= 0) return 0;
  const int sharing = std::max(1, lanes_.sharing_.load());
  return std::max<std::int64_t>(1, limit / sharing);
}

void TransferLane::Post(const std::string& method, FormData form, HttpReply& response) {
  CURL* h = static_cast<CURL*>(handle_);
  // Every option back to its default; the live connection and the cookies stay.
  curl_easy_reset(h);
  LaneProgress progress(lanes_.moved_, ticket_);
  StallAfterStop stall(lanes_.stopRequest_);
  const LaneIdentity& identity = lanes_.identity();
  PostOnHandle(h, static_cast<CURLM*>(multi_), {identity.baseUrl, identity.userName, identity.password}, method, std::move(form), response,
               RateShare(), nullptr, &progress, stall);
}

void TransferLane::Get(const std::string& url, const std::filesystem::path& target, const BodyObserver& onBody) {
  CURL* h = static_cast<CURL*>(handle_);
  curl_easy_reset(h);
  SetDownloadOptions(h);
  curl::LimitRate(h, RateShare());
  LaneProgress progress(lanes_.moved_, ticket_);
  StallAfterStop stall(lanes_.stopRequest_);
  GetOnHandle(h, static_cast<CURLM*>(multi_), url, target, onBody, nullptr, &progress, stall);
}

TransferLanes::TransferLanes(int count, LaneIdentity identity, RateSource rateLimit, LentConnection lent)
    : identity_(std::move(identity)), rateLimit_(std::move(rateLimit)),
      stopRequest_([this] { return stop_.load(); }) {
  count = std::clamp(count, kMinTransfers, kMaxTransfers);
  threads_.reserve(static_cast<std::size_t>(count) + 1);
  for (int i = 0; i < count; ++i) threads_.emplace_back([this] { RunLane({}); });
  if (lent.handle) threads_.emplace_back([this, lent] { RunLane(lent); });
}

TransferLanes::~TransferLanes() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closing_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::vector<std::shared_ptr<LaneTicket>> TransferLanes::Submit(std::vector<Job> jobs, bool sharesLimit) {
  std::vector<std::shared_ptr<LaneTicket>> tickets;
  // Counted before any lane starts, so the first request already shares the limit with the rest.
  busy_.fetch_add(static_cast<int>(jobs.size()));
  if (sharesLimit) sharing_.fetch_add(static_cast<int>(jobs.size()));
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (Job& job : jobs) {
      tickets.push_back(std::make_shared<LaneTicket>());
      pending_.push_back({std::move(job), tickets.back(), sharesLimit});
    }
  }
  work_.notify_all();
  return tickets;
}

void TransferLanes::WaitForAny(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait_for(lock, timeout, [this] { return endedCount_ != endedSeen_; });
  endedSeen_ = endedCount_;
}

void TransferLanes::RunLane(LentConnection lent) {
  // A lane that cannot get a handle fails every job it takes rather than leaving it waiting.
  std::unique_ptr<TransferLane> lane;
  std::exception_ptr noLane;
  try {
    lane.reset(lent.handle ? new TransferLane(*this, lent) : new TransferLane(*this));
  } catch (...) {
    noLane = std::current_exception();
  }
  for (;;) {
    Pending next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return closing_ || !pending_.empty(); });
      if (pending_.empty()) return;
      next = std::move(pending_.front());
      pending_.pop_front();
    }
    LaneTicket& ticket = *next.ticket;
    if (lane) {
      lane->ticket_ = &ticket;
      try {
        next.job(*lane);
      } catch (...) {
        ticket.failure_ = std::current_exception();
      }
      lane->ticket_ = nullptr;
    } else {
      ticket.failure_ = noLane;
    }
    next.job = nullptr; // what the job holds goes before the engine takes the result
    if (next.sharesLimit) sharing_.fetch_sub(1);
    busy_.fetch_sub(1);
    ticket.done_.store(true, std::memory_order_release);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      ++endedCount_;
    }
    ended_.notify_all();
  }
}

bool SendJobAgain(const std::exception_ptr& failure, const std::function<bool(const std::exception&)>& judge) {
  if (!failure) return false;
  try {
    std::rethrow_exception(failure);
  } catch (const TransferAbandoned&) {
    return false; // stopped by the user: the failure stands
  } catch (const std::exception& e) {
    return judge(e);
  }
}

} // namespace velmora

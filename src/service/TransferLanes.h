#pragma once
// Several transfers at once: a fixed number of lanes, each a worker thread with one libcurl
// handle of its own that keeps its connection alive from one request to the next.
//
// Lanes only move bytes. They never touch the Ui port, the databases or the queue: the engine
// thread hands them jobs, pumps messages while they run, reads their byte counts and takes their
// results in the order it chooses.

#include "service/FormData.h"
#include "service/LinkWatch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

struct HttpReply;

// The range of --transfers and of the stored "Transfers" setting; 1 is one item at a time with a
// new connection per request.
inline constexpr int kMinTransfers = 1;
inline constexpr int kMaxTransfers = 16;

// Who asks and where: copied when the lanes start, so a lane never reads the engine's state.
struct LaneIdentity {
  std::string baseUrl;
  std::string userName;
  std::string password;
};

class TransferLanes;

// A connection someone else keeps, lent to one lane: its CURL* and the CURLM* that holds its
// connection between transfers.
struct LentConnection {
  void* handle = nullptr;
  void* multi = nullptr;
};

// One job handed to a lane: whether it ended, what it threw, and the bytes of its current request
// for the file bar. Written by the lane, read by the engine thread.
class LaneTicket {
public:
  bool done() const { return done_.load(std::memory_order_acquire); }
  // What the job threw; only meaningful once done().
  std::exception_ptr failure() const { return failure_; }
  std::int64_t requestMoved() const { return requestMoved_.load(std::memory_order_relaxed); }
  std::int64_t requestTotal() const { return requestTotal_.load(std::memory_order_relaxed); }

private:
  friend class TransferLanes;
  friend class LaneProgress;
  std::atomic<bool> done_{false};
  std::exception_ptr failure_;
  std::atomic<std::int64_t> requestMoved_{0};
  std::atomic<std::int64_t> requestTotal_{0};
};

// The connection of one lane, as the job running on it sees it.
class TransferLane {
public:
  explicit TransferLane(TransferLanes& lanes);
  ~TransferLane();
  TransferLane(const TransferLane&) = delete;
  TransferLane& operator=(const TransferLane&) = delete;

  // ServiceClient::Post on this lane's kept connection: the same fields, headers, redirects, link
  // watch and failures; cookies live as long as the lane. No Ui: progress goes to the lanes' byte
  // count.
  void Post(const std::string& method, FormData form, HttpReply& response);
  // DownloadClient::Get on this lane's kept connection: the answer body streamed into `target`,
  // which is removed again when the download fails.
  using BodyObserver = std::function<void(const char* data, std::size_t size)>;
  void Get(const std::string& url, const std::filesystem::path& target, const BodyObserver& onBody);

private:
  friend class TransferLanes;
  // On a connection lent by its owner, which is neither created nor closed here.
  TransferLane(TransferLanes& lanes, LentConnection lent);
  // The speed limit of one request: the run's limit shared by the lanes in transfer.
  std::int64_t RateShare() const;

  TransferLanes& lanes_;
  void* handle_; // CURL*, kept for the lane's life
  void* multi_ = nullptr; // the lent connection's CURLM*; a lane's own handle runs alone
  bool ownsHandle_ = true;
  LaneTicket* ticket_ = nullptr;
};

// Byte counts of one request on a lane: what moved since the last report goes to the lanes'
// total, the current direction to the ticket.
class LaneProgress {
public:
  LaneProgress(std::atomic<std::int64_t>& total, LaneTicket* ticket) : total_(total), ticket_(ticket) {}
  void Update(std::int64_t sendTotal, std::int64_t sent, std::int64_t receiveTotal, std::int64_t received);

private:
  std::atomic<std::int64_t>& total_;
  LaneTicket* ticket_;
  std::int64_t sent_ = 0;
  std::int64_t received_ = 0;
};

class TransferLanes {
public:
  using Job = std::function<void(TransferLane&)>;

  // The speed limit at this moment, bytes per second, 0 for none (a timetable changes it during a
  // run). Called from the lanes' threads.
  using RateSource = std::function<std::int64_t()>;
  // Starts `count` lanes. The limit bounds the sum of all lanes: each request takes an equal share
  // of the limit of the moment it starts among the jobs in hand that share it. With `lent` (a
  // connection someone else keeps) one more lane runs on it; it is not closed here.
  TransferLanes(int count, LaneIdentity identity, RateSource rateLimit, LentConnection lent = {});
  // Lets running jobs end, then closes the lanes and their connections.
  ~TransferLanes();
  TransferLanes(const TransferLanes&) = delete;
  TransferLanes& operator=(const TransferLanes&) = delete;

  int count() const { return static_cast<int>(threads_.size()); }
  // Jobs handed over and not yet ended.
  int busy() const { return busy_.load(); }
  int free() const { return count() - busy(); }
  // Hands the jobs over together (so the first one already knows how many share the limit); at
  // most free() of them. Jobs of a few hundred bytes (an address asked ahead) need not take a
  // share of the limit from the transfers (`sharesLimit` false).
  std::vector<std::shared_ptr<LaneTicket>> Submit(std::vector<Job> jobs, bool sharesLimit = true);
  // Returns when a job has ended since the last call, or after `timeout`.
  void WaitForAny(std::chrono::milliseconds timeout);
  // Bytes moved by all lanes in both directions since the last call.
  std::int64_t TakeMovedBytes() { return moved_.exchange(0); }
  // A stop was asked: a transfer that has moved no byte for link::kStalledAfterStop is abandoned
  // (TransferAbandoned); a moving one ends as usual.
  void SetStopRequested(bool stop) { stop_.store(stop); }

  const LaneIdentity& identity() const { return identity_; }

private:
  friend class TransferLane;
  struct Pending {
    Job job;
    std::shared_ptr<LaneTicket> ticket;
    bool sharesLimit = true;
  };
  void RunLane(LentConnection lent);

  const LaneIdentity identity_;
  const RateSource rateLimit_;
  std::atomic<int> busy_{0};
  // Jobs in hand that share the speed limit.
  std::atomic<int> sharing_{0};
  std::atomic<std::int64_t> moved_{0};
  std::atomic<bool> stop_{false};
  // Read by the lanes' StallAfterStop.
  const StopRequest stopRequest_;

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable ended_;
  std::deque<Pending> pending_;
  std::uint64_t endedCount_ = 0;
  std::uint64_t endedSeen_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// A lane's job has ended with `failure` (null when it succeeded): whether to hand it to a lane
// again. Success and a transfer abandoned after a stop are final; any other failure goes to
// `judge`, which decides as the one-at-a-time path would (waiting for the retry, pumping messages).
bool SendJobAgain(const std::exception_ptr& failure, const std::function<bool(const std::exception&)>& judge);

} // namespace velmora

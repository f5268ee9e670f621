#include "Relay.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace velmora::link {
namespace {

constexpr std::size_t kChunk = 16 * 1024;

struct Chunk {
  Clock::time_point arrival;
  std::string bytes; // empty: the sender has ended its side
};

// Enough for the bytes that are on their way (rate times delay) and some waiting for the line;
// without a rate, enough to keep loopback fast.
std::size_t QueueLimit(const Link& link) {
  if (link.rate() <= 0) return 4 * 1024 * 1024;
  const double inFlight = static_cast<double>(link.rate()) * std::chrono::duration<double>(link.delay()).count();
  return 256 * 1024 + static_cast<std::size_t>(inFlight);
}

// One direction of one connection: a reader hands chunks to the link as they come, a writer
// delivers each at its arrival time. The queue between them is bounded, so a sender faster than
// the link is held back by its own socket, as by a real link's window.
class Pipe {
public:
  Pipe(int from, int to, Link& link) : from_(from), to_(to), link_(link), limit_(QueueLimit(link)) {}

  void Read(Clock::time_point start) {
    std::this_thread::sleep_until(start);
    std::string buffer(kChunk, '\0');
    for (;;) {
      const ssize_t got = ::recv(from_, buffer.data(), buffer.size(), 0);
      if (got < 0 && errno == EINTR) continue;
      std::unique_lock lock(mutex_);
      if (got <= 0) {
        queue_.push_back({link_.Arrival(0, Clock::now()), {}});
        changed_.notify_all();
        return;
      }
      changed_.wait(lock, [&] { return queued_ < limit_ || broken_; });
      if (broken_) return;
      const auto size = static_cast<std::size_t>(got);
      queue_.push_back({link_.Arrival(size, Clock::now()), buffer.substr(0, size)});
      queued_ += size;
      changed_.notify_all();
    }
  }

  void Write() {
    for (;;) {
      Chunk chunk;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty(); });
        chunk = std::move(queue_.front());
        queue_.pop_front();
      }
      std::this_thread::sleep_until(chunk.arrival);
      if (chunk.bytes.empty()) {
        ::shutdown(to_, SHUT_WR);
        return;
      }
      if (!SendAll(chunk.bytes)) {
        // The receiver is gone: stop reading what nobody will take.
        std::lock_guard lock(mutex_);
        broken_ = true;
        changed_.notify_all();
        ::shutdown(from_, SHUT_RD);
        return;
      }
      std::lock_guard lock(mutex_);
      queued_ -= chunk.bytes.size();
      changed_.notify_all();
    }
  }

private:
  bool SendAll(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t wrote = ::send(to_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      sent += static_cast<std::size_t>(wrote);
    }
    return true;
  }

  const int from_, to_;
  Link& link_;
  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> queue_;
  std::size_t queued_ = 0;
  bool broken_ = false;
};

struct Connection {
  Connection(int clientSocket, int targetSocket, Links& links)
      : client(clientSocket), target(targetSocket), up(client, target, links.up), down(target, client, links.down) {}
  ~Connection() {
    ::close(client);
    ::close(target);
  }
  const int client, target;
  Pipe up, down;
};

} // namespace

void StartRelay(int client, int target, Links& links, Clock::time_point accepted) {
  // The last of the four threads to end closes both sockets.
  const auto connection = std::make_shared<Connection>(client, target, links);
  const auto start = accepted + links.handshake;
  std::thread([connection, start] { connection->up.Read(start); }).detach();
  std::thread([connection] { connection->up.Write(); }).detach();
  std::thread([connection, start] { connection->down.Read(start); }).detach();
  std::thread([connection] { connection->down.Write(); }).detach();
}

} // namespace velmora::link

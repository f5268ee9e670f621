#pragma once
// Worker threads that hash a fixed list of files ahead of the one thread that takes the digests,
// in list order. Workers only read files and compute digests; whoever takes them does everything
// else (the window, the database), so nothing else is shared between threads.

#include "store/Sha1.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

class HashWorkers {
public:
  // Starts `threads` workers over `files`. At most `ahead` files past the last one taken are hashed
  // or held, so memory stays bounded (one read block per worker) however long the list is.
  // `afterEachBlock` runs on a worker after every block it reads (tests change files there).
  HashWorkers(std::vector<std::string> files, unsigned threads, std::size_t ahead,
              std::function<void()> afterEachBlock = {});
  // Stops the workers (a file being read is abandoned after its current block) and joins them.
  ~HashWorkers();
  HashWorkers(const HashWorkers&) = delete;
  HashWorkers& operator=(const HashWorkers&) = delete;

  // The digest of `files[job]`, waiting until a worker has it; `whileWaiting` runs every `interval`
  // meanwhile. Files before `job` that were not taken are given up. Jobs are taken in rising order.
  FileDigest Take(std::size_t job, const std::function<void()>& whileWaiting, std::chrono::milliseconds interval);

  // One worker per core.
  static unsigned DefaultThreads();

private:
  void Work(std::stop_token stop);

  const std::vector<std::string> files_;
  const std::size_t ahead_;
  const std::function<void()> afterEachBlock_;
  std::mutex mutex_;
  std::condition_variable_any workAvailable_; // a worker may start a file, or stop
  std::condition_variable digestReady_;
  std::vector<std::optional<FileDigest>> digests_;
  std::size_t next_ = 0;   // the next file a worker starts
  std::size_t wanted_ = 0; // files before it are taken or given up
  // Last, so the threads start after the state above exists and stop before it goes.
  std::vector<std::jthread> threads_;
};

} // namespace velmora

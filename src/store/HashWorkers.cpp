#include "store/HashWorkers.h"

#include <algorithm>

namespace velmora {

HashWorkers::HashWorkers(std::vector<std::string> files, unsigned threads, std::size_t ahead,
                         std::function<void()> afterEachBlock)
    : files_(std::move(files)),
      ahead_(std::max<std::size_t>(ahead, 1)),
      afterEachBlock_(std::move(afterEachBlock)),
      digests_(files_.size()) {
  const std::size_t count = std::min<std::size_t>(std::max(threads, 1u), files_.size());
  threads_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this](std::stop_token stop) { Work(stop); });
}

HashWorkers::~HashWorkers() {
  // Every worker is asked first, so they wind down together rather than one join after another.
  for (std::jthread& thread : threads_) thread.request_stop();
  for (std::jthread& thread : threads_) thread.join();
}

unsigned HashWorkers::DefaultThreads() { return std::max(std::thread::hardware_concurrency(), 1u); }

void HashWorkers::Work(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const bool go = workAvailable_.wait(lock, stop, [&] {
      next_ = std::max(next_, wanted_); // files given up are not read
      return next_ >= files_.size() || next_ < wanted_ + ahead_;
    });
    if (!go || next_ >= files_.size()) return;
    const std::size_t job = next_++;
    lock.unlock();
    FileDigest digest = Sha1OfFileChecked(files_[job], afterEachBlock_, stop);
    lock.lock();
    if (stop.stop_requested()) return;
    if (job >= wanted_) {
      digests_[job] = std::move(digest);
      digestReady_.notify_all();
    }
  }
}

FileDigest HashWorkers::Take(std::size_t job, const std::function<void()>& whileWaiting,
                             std::chrono::milliseconds interval) {
  std::unique_lock lock(mutex_);
  for (std::size_t skipped = wanted_; skipped < job; ++skipped) digests_[skipped].reset();
  wanted_ = std::max(wanted_, job);
  workAvailable_.notify_all();
  while (!digestReady_.wait_for(lock, interval, [&] { return digests_[job].has_value(); })) {
    lock.unlock();
    if (whileWaiting) whileWaiting();
    lock.lock();
  }
  FileDigest digest = std::move(*digests_[job]);
  digests_[job].reset();
  wanted_ = job + 1;
  workAvailable_.notify_all();
  return digest;
}

} // namespace velmora

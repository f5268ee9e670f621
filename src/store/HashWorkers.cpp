#include "store/HashWorkers.h"

#include "store/ReadRelay.h"

#include <algorithm>

namespace velmora {

HashWorkers::HashWorkers(unsigned threads) : threadCount_(std::max(threads, 1u)) {}

HashWorkers::~HashWorkers() {
  {
    const std::lock_guard lock(mutex_);
    quitting_ = true;
    for (List* list : lists_) list->stop_.request_stop();
  }
  workAvailable_.notify_all();
  for (std::jthread& thread : threads_) thread.join();
}

unsigned HashWorkers::DefaultThreads() { return std::max(std::thread::hardware_concurrency(), 1u); }

std::unique_ptr<HashWorkers::List> HashWorkers::Start(std::vector<std::string> files, std::size_t ahead,
                                                      std::function<void()> afterEachBlock) {
  std::unique_ptr<List> list(new List(*this, std::move(files), ahead, std::move(afterEachBlock)));
  if (list->files_.empty()) return list;
  {
    const std::lock_guard lock(mutex_);
    lists_.push_back(list.get());
  }
  workAvailable_.notify_all();
  if (threads_.empty()) {
    threads_.reserve(threadCount_);
    for (unsigned i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { Work(); });
  }
  return list;
}

HashWorkers::List* HashWorkers::NextWithWork() {
  for (auto list = lists_.rbegin(); list != lists_.rend(); ++list) {
    if ((*list)->HasWork()) return *list;
  }
  return nullptr;
}

void HashWorkers::Work() {
  // One relay per worker, kept from file to file with its read block.
  ReadRelay relay(kHashReadBlock);
  const auto wantHelp = [this](ReadRelay& mine, bool wanted) {
    {
      const std::lock_guard lock(mutex_);
      if (wanted) wantHelp_.push_back(&mine);
      else std::erase(wantHelp_, &mine);
    }
    if (wanted) workAvailable_.notify_one();
  };
  std::unique_lock lock(mutex_);
  for (;;) {
    List* list = nullptr;
    workAvailable_.wait(lock, [&] { return quitting_ || (list = NextWithWork()) != nullptr || !wantHelp_.empty(); });
    if (quitting_) return;
    if (list == nullptr) { // no file to start: read ahead for a worker hashing a large one
      ReadRelay* helped = wantHelp_.back();
      wantHelp_.pop_back();
      if (helped->Join()) {
        lock.unlock();
        helped->Help();
        lock.lock();
      }
      continue;
    }
    const std::size_t job = list->next_++;
    ++list->reading_;
    const std::stop_token stop = list->stop_.get_token();
    lock.unlock();
    FileDigest digest = Sha1OfFileChecked(list->files_[job], relay, list->afterEachBlock_, stop, wantHelp);
    lock.lock();
    --list->reading_;
    if (!stop.stop_requested() && job >= list->wanted_) list->digests_[job] = std::move(digest);
    progressed_.notify_all();
  }
}

HashWorkers::List::List(HashWorkers& pool, std::vector<std::string> files, std::size_t ahead,
                        std::function<void()> afterEachBlock)
    : pool_(pool),
      files_(std::move(files)),
      ahead_(std::max<std::size_t>(ahead, 1)),
      afterEachBlock_(std::move(afterEachBlock)),
      digests_(files_.size()) {}

HashWorkers::List::~List() {
  std::unique_lock lock(pool_.mutex_);
  stop_.request_stop();
  std::erase(pool_.lists_, this);
  pool_.progressed_.wait(lock, [&] { return reading_ == 0; });
}

bool HashWorkers::List::HasWork() {
  next_ = std::max(next_, wanted_); // files given up are not read
  return next_ < files_.size() && next_ < wanted_ + ahead_;
}

FileDigest HashWorkers::List::Take(std::size_t job, const std::function<void()>& whileWaiting,
                                   std::chrono::milliseconds interval) {
  std::unique_lock lock(pool_.mutex_);
  if (job > wanted_) { // files passed over free their places ahead
    for (std::size_t skipped = wanted_; skipped < job; ++skipped) digests_[skipped].reset();
    wanted_ = job;
    pool_.workAvailable_.notify_all();
  }
  while (!pool_.progressed_.wait_for(lock, interval, [&] { return digests_[job].has_value(); })) {
    lock.unlock();
    if (whileWaiting) whileWaiting();
    lock.lock();
  }
  FileDigest digest = std::move(*digests_[job]);
  digests_[job].reset();
  wanted_ = job + 1;
  lock.unlock();
  pool_.workAvailable_.notify_one(); // one more file may start
  return digest;
}

} // namespace velmora

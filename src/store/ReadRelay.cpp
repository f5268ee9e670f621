#include "store/ReadRelay.h"

#include <cerrno>
#include <unistd.h>

namespace velmora {

ReadRelay::ReadRelay(std::size_t blockSize) : blockSize_(blockSize), own_(blockSize) {}

void ReadRelay::Start(int fd, const std::function<void()>& afterEachBlock, std::stop_token stop) {
  const std::lock_guard lock(mutex_);
  fd_ = fd;
  afterEachBlock_ = &afterEachBlock;
  stop_ = std::move(stop);
  nextOffset_ = 0;
  joined_ = holdingSlot_ = finished_ = false;
  filling_ = taking_ = 0;
  for (Slot& slot : ring_) slot.full = false;
}

ssize_t ReadRelay::ReadAt(unsigned char* into, off_t offset) {
  if (stop_.stop_requested()) return -1;
  for (;;) {
    const ssize_t n = ::pread(fd_, into, blockSize_, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0 && *afterEachBlock_) (*afterEachBlock_)();
    return n;
  }
}

std::optional<std::span<const unsigned char>> ReadRelay::Next() {
  std::unique_lock lock(mutex_);
  if (holdingSlot_) { // the block handed out last time is hashed: its slot takes the next one
    ring_[taking_].full = holdingSlot_ = false;
    taking_ = (taking_ + 1) % kSlots;
    changed_.notify_all();
  }
  if (!joined_) {
    const off_t offset = nextOffset_;
    nextOffset_ += static_cast<off_t>(blockSize_);
    lock.unlock();
    if (offset == 0) changed_.notify_all(); // a helper waits for the first block to be taken
    const ssize_t n = ReadAt(own_.data(), offset);
    if (n < 0) return std::nullopt;
    return std::span<const unsigned char>(own_.data(), static_cast<std::size_t>(n));
  }
  changed_.wait(lock, [&] { return ring_[taking_].full; });
  const Slot& slot = ring_[taking_];
  if (slot.length < 0) return std::nullopt;
  holdingSlot_ = slot.length > 0;
  return std::span<const unsigned char>(slot.bytes.data(), static_cast<std::size_t>(slot.length));
}

void ReadRelay::Finish() {
  std::unique_lock lock(mutex_);
  finished_ = true;
  changed_.notify_all();
  changed_.wait(lock, [&] { return !inside_; });
  fd_ = -1;
}

bool ReadRelay::Join() {
  const std::lock_guard lock(mutex_);
  if (finished_) return false;
  if (ring_.empty()) { // the ring is made by the first helper, so a file never helped costs none
    ring_.resize(kSlots);
    for (Slot& slot : ring_) slot.bytes.resize(blockSize_);
  }
  inside_ = true;
  return true;
}

void ReadRelay::Help() {
  std::unique_lock lock(mutex_);
  // The hashing thread reads the first block itself, so a helper that comes early never holds the
  // file's start back behind its own first read.
  changed_.wait(lock, [&] { return finished_ || nextOffset_ > 0; });
  joined_ = true;
  for (;;) {
    changed_.wait(lock, [&] { return finished_ || !ring_[filling_].full; });
    if (finished_) break;
    Slot& slot = ring_[filling_];
    const off_t offset = nextOffset_;
    nextOffset_ += static_cast<off_t>(blockSize_);
    lock.unlock();
    const ssize_t n = ReadAt(slot.bytes.data(), offset);
    lock.lock();
    slot.length = n;
    slot.full = true;
    filling_ = (filling_ + 1) % kSlots;
    changed_.notify_all();
    if (n <= 0) break; // the end of the file, an error or a stop: the hashing thread sees it there
  }
  inside_ = false;
  changed_.notify_all();
}

} // namespace velmora

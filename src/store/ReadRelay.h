#pragma once
// Reading one file for its digest, on one thread or on two. The thread that hashes the file reads
// it block by block in turn until a helper joins; from then on the helper reads the following
// blocks ahead into a small ring and the hashing thread only hashes, so copying bytes out of the
// page cache overlaps with hashing them. Helpers are hashing workers with nothing else to do, so a
// large file read while the other cores are idle goes at the speed of the hash alone, and no thread
// is started for it.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <sys/types.h>
#include <vector>

namespace velmora {

class ReadRelay {
public:
  explicit ReadRelay(std::size_t blockSize);
  ReadRelay(const ReadRelay&) = delete;
  ReadRelay& operator=(const ReadRelay&) = delete;

  // The hashing thread's side. Reading starts at the file's beginning; `afterEachBlock` runs on
  // whichever thread read a block. Both must outlive Finish().
  void Start(int fd, const std::function<void()>& afterEachBlock, std::stop_token stop);
  // The next block in file order: empty at the end of the file, nothing on a read error or a stop
  // request. The bytes stay valid until the next call.
  std::optional<std::span<const unsigned char>> Next();
  // Ends this file; a helper inside leaves before it returns.
  void Finish();

  // A helper's side. Join says whether the file still takes help (call it with the lock that
  // guards the offer held, so Finish cannot pass it); Help then waits for the hashing thread to take
  // the first block and reads ahead until the file ends or Finish is called.
  bool Join();
  void Help();

private:
  static constexpr std::size_t kSlots = 3;
  struct Slot {
    std::vector<unsigned char> bytes;
    ssize_t length = 0; // bytes read; 0 at the end of the file, -1 on an error or a stop
    bool full = false;
  };
  ssize_t ReadAt(unsigned char* into, off_t offset); // claims nothing; retries on EINTR

  const std::size_t blockSize_;
  std::vector<unsigned char> own_; // the hashing thread's block while it reads in turn
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_:
  int fd_ = -1;
  const std::function<void()>* afterEachBlock_ = nullptr;
  std::stop_token stop_;
  off_t nextOffset_ = 0; // the next block to be read, by either thread
  bool joined_ = false;  // blocks after the hashing thread's last own read come from the ring
  bool inside_ = false;  // a helper is reading
  bool finished_ = true;
  std::vector<Slot> ring_;
  std::size_t filling_ = 0, taking_ = 0;
  bool holdingSlot_ = false; // the hashing thread still hashes ring_[taking_]
};

} // namespace velmora

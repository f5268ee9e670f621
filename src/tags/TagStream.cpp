#include "tags/TagStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

FileTagStream::FileTagStream(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "Cannot open file \"" + path + "\"");
  struct stat facts {};
  if (::fstat(fd_, &facts) != 0) {
    const int error = errno;
    ::close(fd_);
    throw std::system_error(error, std::generic_category(), "Cannot open file \"" + path + "\"");
  }
  // A folder or a device has no byte size to read tags from; it reads as empty.
  size_ = S_ISREG(facts.st_mode) ? static_cast<std::int64_t>(facts.st_size) : 0;
}

FileTagStream::~FileTagStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileTagStream::ReadDirect(std::int64_t position, unsigned char* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, buffer + done, count - done, static_cast<off_t>(position) + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "Read error in \"" + path_ + "\"");
    }
    if (n == 0) break; // the file shrank since it was opened
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t FileTagStream::ReadAt(std::int64_t position, void* buffer, std::size_t count) {
  if (position < 0 || position >= size_ || count == 0) return 0;
  count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - position));
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t copied = 0;
  while (copied < count) {
    const std::int64_t at = position + static_cast<std::int64_t>(copied);
    if (at >= blockStart_ && at < blockStart_ + static_cast<std::int64_t>(blockLength_)) {
      const auto offset = static_cast<std::size_t>(at - blockStart_);
      const std::size_t n = std::min(count - copied, blockLength_ - offset);
      std::memcpy(out + copied, block_.data() + offset, n);
      copied += n;
      continue;
    }
    const std::size_t remaining = count - copied;
    if (remaining >= kBlock) {
      const std::size_t n = ReadDirect(at, out + copied, remaining);
      copied += n;
      break;
    }
    block_.resize(kBlock);
    blockLength_ = 0;
    blockStart_ = at;
    blockLength_ = ReadDirect(at, block_.data(), static_cast<std::size_t>(std::min<std::int64_t>(kBlock, size_ - at)));
    if (blockLength_ == 0) break;
  }
  return copied;
}

std::size_t MemoryTagStream::ReadAt(std::int64_t position, void* buffer, std::size_t count) {
  if (position < 0 || static_cast<std::uint64_t>(position) >= size_ || count == 0) return 0;
  const std::size_t n = std::min(count, size_ - static_cast<std::size_t>(position));
  std::memcpy(buffer, data_ + position, n);
  return n;
}

} // namespace velmora

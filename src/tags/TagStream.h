#pragma once
// The seekable byte source the tag readers read from: an open file, or bytes in memory (tests and
// fuzz targets). Every read is clipped to the size taken when the stream was opened, so a reader
// can never ask for more than the file holds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class TagStream {
public:
  virtual ~TagStream() = default;

  virtual std::int64_t Size() const = 0;
  std::int64_t Position() const { return position_; }
  // Any position is allowed; reads beyond the end return nothing.
  void Seek(std::int64_t position) { position_ = position < 0 ? 0 : position; }

  // Reads up to `count` bytes at the position and moves past them; fewer at the end of the
  // stream. Throws std::system_error when the device reports an error.
  std::size_t Read(void* buffer, std::size_t count) {
    const std::size_t n = ReadAt(position_, buffer, count);
    position_ += static_cast<std::int64_t>(n);
    return n;
  }

  // The same without moving the position.
  virtual std::size_t ReadAt(std::int64_t position, void* buffer, std::size_t count) = 0;

protected:
  std::int64_t position_ = 0;
};

// A file opened read-only. Small reads are served from one 4 KiB block, so walking the frame
// headers of a tag costs one system call, not one per header.
class FileTagStream : public TagStream {
public:
  // Throws std::system_error naming the file when it cannot be opened.
  explicit FileTagStream(const std::string& path);
  ~FileTagStream() override;
  FileTagStream(const FileTagStream&) = delete;
  FileTagStream& operator=(const FileTagStream&) = delete;

  std::int64_t Size() const override { return size_; }
  std::size_t ReadAt(std::int64_t position, void* buffer, std::size_t count) override;

private:
  std::size_t ReadDirect(std::int64_t position, unsigned char* buffer, std::size_t count);

  static constexpr std::size_t kBlock = 4096;
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
  std::vector<unsigned char> block_;
  std::int64_t blockStart_ = 0;
  std::size_t blockLength_ = 0;
};

// Bytes owned by the caller; they must outlive the stream.
class MemoryTagStream : public TagStream {
public:
  MemoryTagStream(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  explicit MemoryTagStream(const std::string& bytes) : MemoryTagStream(bytes.data(), bytes.size()) {}

  std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }
  std::size_t ReadAt(std::int64_t position, void* buffer, std::size_t count) override;

private:
  const unsigned char* data_;
  std::size_t size_;
};

} // namespace velmora

#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Digest.h"

namespace velmora::locker {

// Content addressed by SHA-1 under ROOT/objects/<first two digits>/<hash id>. A file appears there
// only complete: bytes arrive in ROOT/incoming/, are flushed to disk and then renamed into place.
class ObjectStore {
public:
  explicit ObjectStore(std::filesystem::path root);

  // A file being received. Destroying it without Commit removes what was written.
  class Incoming {
  public:
    ~Incoming();
    Incoming(const Incoming&) = delete;
    Incoming& operator=(const Incoming&) = delete;
    // False when the disk refuses the bytes (full, I/O error); the upload is then lost anyway.
    bool Write(const char* data, std::size_t size);
    std::uint64_t size() const { return size_; }
    // Flushes the bytes to disk and returns their hash id. Nothing when the flush fails.
    std::optional<std::string> Finish();

  private:
    friend class ObjectStore;
    Incoming(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    void Discard();
    int fd_;
    std::filesystem::path path_;
    std::uint64_t size_ = 0;
    Sha1Stream sha1_;
    bool writeFailed_ = false;
    bool finished_ = false;
  };

  std::unique_ptr<Incoming> Begin() const;
  // Moves a finished file into place under its hash id. Throws std::runtime_error on failure.
  void Commit(Incoming& incoming, const std::string& hashId) const;
  // Stores bytes given whole; returns their hash id.
  std::string Put(std::string_view bytes) const;

  bool Has(const std::string& hashId) const;
  std::optional<std::uint64_t> SizeOf(const std::string& hashId) const;
  std::filesystem::path PathOf(const std::string& hashId) const;

  struct Entry {
    std::string hashId;
    std::uint64_t size = 0;
  };
  std::vector<Entry> List() const;

private:
  std::filesystem::path objects_;
  std::filesystem::path incoming_;
};

} // namespace velmora::locker

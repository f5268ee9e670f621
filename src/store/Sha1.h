#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

struct stat;

namespace velmora {

inline constexpr const char* kInvalidHashValue = "invalidhashvalue";

// The facts by which a cached hash id is known to still describe a file: its size and its
// modification time in nanoseconds.
struct FileFacts {
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  static FileFacts Of(const struct stat& info);
  bool operator==(const FileFacts&) const = default;
};

// What reading a whole file for its digest found.
struct FileDigest {
  enum class Outcome {
    Hashed,     // `hashId` is the digest of the content that `facts` describe
    Unreadable, // not a regular file, or it could not be opened or read to its end
    Changed,    // its size or modification time moved while it was read: no digest
  };
  Outcome outcome = Outcome::Unreadable;
  std::string hashId;
  FileFacts facts;
};

// The read block of file hashing: large, so a file costs few reads, yet small enough that the
// bytes just copied are still in the core's cache when they are hashed.
inline constexpr std::size_t kHashReadBlock = 512 * 1024;

// Files from this size on are worth a second thread that reads ahead while the first hashes.
inline constexpr std::int64_t kHelpedReadMinimum = 16 << 20;

class ReadRelay;

// The SHA-1 digest of the whole file as 40 lower-case hex digits, read in order through `relay`
// (the kernel reads ahead), with the file's facts taken before and after reading (they must
// agree). `afterEachBlock` runs after every block read. A stop request ends the reading early; the
// file is then Unreadable. A file of kHelpedReadMinimum bytes or more is offered for help
// (`wantHelp(relay, true)`) once open and withdrawn (`false`) before its reading ends.
FileDigest Sha1OfFileChecked(const std::string& path, ReadRelay& relay, const std::function<void()>& afterEachBlock,
                             std::stop_token stop, const std::function<void(ReadRelay&, bool)>& wantHelp);
// The same on the calling thread alone, with a block of kHashReadBlock bytes of its own.
FileDigest Sha1OfFileChecked(const std::string& path, const std::function<void()>& afterEachBlock = {},
                             std::stop_token stop = {});
// The digest alone; nothing when the path is not a regular file, cannot be read to its end or
// changed while it was read.
std::optional<std::string> Sha1OfFile(const std::string& path);
// The SHA-1 digest of a text, same form.
std::string Sha1Hex(const std::string& data);

// A SHA-1 digest fed piece by piece, for bytes that pass by once (a download as it streams).
class Sha1Stream {
public:
  Sha1Stream();
  ~Sha1Stream();
  Sha1Stream(const Sha1Stream&) = delete;
  Sha1Stream& operator=(const Sha1Stream&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything fed so far, same form as Sha1Hex; the stream is spent afterwards.
  std::string FinishHex();
  // Bytes fed so far.
  std::int64_t bytes() const { return bytes_; }

private:
  struct Context;
  std::unique_ptr<Context> context_;
  std::int64_t bytes_ = 0;
};

} // namespace velmora

#include "store/Sha1.h"

#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

constexpr std::size_t kReadBlock = 256 * 1024;

struct DigestContext {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
  DigestContext() { EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr); }
  void Update(const void* data, std::size_t size) { EVP_DigestUpdate(ctx.get(), data, size); }
  std::string FinishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
      text += kHex[digest[i] >> 4];
      text += kHex[digest[i] & 0xf];
    }
    return text;
  }
};

struct FileHandle {
  int fd;
  ~FileHandle() {
    if (fd >= 0) ::close(fd);
  }
};

// Files from this size on are read by a second thread while the caller hashes: copying from the
// page cache then overlaps hashing instead of adding to it. Smaller files are not worth a thread.
constexpr off_t kOverlapFrom = 1024 * 1024;
constexpr std::size_t kOverlapBuffers = 4;

using BlockUse = std::function<void(const unsigned char*, std::size_t)>;

// Reads the file to its end, handing each block to `use`; false on a read error or a stop request.
bool ReadInTurn(int fd, const BlockUse& use, const std::stop_token& stop) {
  std::vector<unsigned char> block(kReadBlock);
  for (;;) {
    if (stop.stop_requested()) return false;
    const ssize_t n = ::read(fd, block.data(), block.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    use(block.data(), static_cast<std::size_t>(n));
  }
}

// The same, with the reads done by a second thread into a ring of a few blocks.
bool ReadOverlapped(int fd, const BlockUse& use, const std::stop_token& stop) {
  std::array<std::vector<unsigned char>, kOverlapBuffers> blocks;
  std::array<std::size_t, kOverlapBuffers> lengths{};
  for (auto& block : blocks) block.resize(kReadBlock);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t filled = 0, used = 0; // blocks read, blocks hashed
  bool ended = false, failed = false, quit = false;

  std::jthread reader([&] {
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return quit || filled - used < kOverlapBuffers; });
        if (quit) return;
      }
      std::vector<unsigned char>& block = blocks[filled % kOverlapBuffers];
      ssize_t n;
      do n = ::read(fd, block.data(), block.size());
      while (n < 0 && errno == EINTR);
      const std::lock_guard lock(mutex);
      if (n > 0) lengths[filled++ % kOverlapBuffers] = static_cast<std::size_t>(n);
      else (n == 0 ? ended : failed) = true;
      changed.notify_all();
      if (n <= 0) return;
    }
  });
  const auto finish = [&](bool whole) {
    {
      const std::lock_guard lock(mutex);
      quit = true;
    }
    changed.notify_all();
    return whole;
  };
  for (;;) {
    std::size_t length = 0;
    bool over = false, whole = false;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return used < filled || ended || failed; });
      over = used == filled; // everything read was hashed
      whole = ended;
      if (!over) length = lengths[used % kOverlapBuffers];
    }
    if (over) return finish(whole);
    if (stop.stop_requested()) return finish(false);
    use(blocks[used % kOverlapBuffers].data(), length);
    {
      const std::lock_guard lock(mutex);
      ++used;
    }
    changed.notify_all();
  }
}

} // namespace

FileFacts FileFacts::Of(const struct stat& info) {
  return {static_cast<std::int64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

FileDigest Sha1OfFileChecked(const std::string& path, const std::function<void()>& afterEachBlock,
                             std::stop_token stop) {
  FileDigest result;
  // O_NONBLOCK keeps a named pipe from hanging the open; only regular files are hashed.
  FileHandle file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return result;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return result;
  result.facts = FileFacts::Of(info);
  ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  DigestContext digest;
  const auto hashBlock = [&](const unsigned char* data, std::size_t size) {
    digest.Update(data, size);
    if (afterEachBlock) afterEachBlock();
  };
  const bool whole =
      info.st_size >= kOverlapFrom ? ReadOverlapped(file.fd, hashBlock, stop) : ReadInTurn(file.fd, hashBlock, stop);
  if (!whole) return result;
  // A writer (a copy or an encoder still at work) moved the file while it was read: the digest
  // may mix old and new content.
  if (::fstat(file.fd, &info) != 0) return result;
  if (!(FileFacts::Of(info) == result.facts)) {
    result.outcome = FileDigest::Outcome::Changed;
    return result;
  }
  result.hashId = digest.FinishHex();
  result.outcome = FileDigest::Outcome::Hashed;
  return result;
}

std::optional<std::string> Sha1OfFile(const std::string& path) {
  FileDigest digest = Sha1OfFileChecked(path);
  if (digest.outcome != FileDigest::Outcome::Hashed) return std::nullopt;
  return std::move(digest.hashId);
}

std::string Sha1Hex(const std::string& data) {
  DigestContext digest;
  digest.Update(data.data(), data.size());
  return digest.FinishHex();
}

struct Sha1Stream::Context : DigestContext {};

Sha1Stream::Sha1Stream() : context_(std::make_unique<Context>()) {}
Sha1Stream::~Sha1Stream() = default;

void Sha1Stream::Update(const void* data, std::size_t size) {
  context_->Update(data, size);
  bytes_ += static_cast<std::int64_t>(size);
}

std::string Sha1Stream::FinishHex() { return context_->FinishHex(); }

} // namespace velmora

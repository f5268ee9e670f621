#include "store/Sha1.h"

#include "store/ReadRelay.h"

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

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

// Hashes the file's blocks to its end; false on a read error or a stop request.
bool HashAll(ReadRelay& relay, DigestContext& digest) {
  for (;;) {
    const std::optional<std::span<const unsigned char>> block = relay.Next();
    if (!block) return false;
    if (block->empty()) return true;
    digest.Update(block->data(), block->size());
  }
}

// The relay's file ends with the function however it returns: a helper is out before the file
// closes.
struct RelayTurn {
  ReadRelay& relay;
  const std::function<void(ReadRelay&, bool)>& wantHelp;
  bool offered = false;
  ~RelayTurn() {
    if (offered) wantHelp(relay, false);
    relay.Finish();
  }
};

} // namespace

FileFacts FileFacts::Of(const struct stat& info) {
  return {static_cast<std::int64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

FileDigest Sha1OfFileChecked(const std::string& path, ReadRelay& relay, const std::function<void()>& afterEachBlock,
                             std::stop_token stop, const std::function<void(ReadRelay&, bool)>& wantHelp) {
  FileDigest result;
  // O_NONBLOCK keeps a named pipe from hanging the open; only regular files are hashed.
  FileHandle file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return result;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return result;
  result.facts = FileFacts::Of(info);
  // The kernel then reads ahead in a wider window while this thread hashes what it has.
  ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  DigestContext digest;
  {
    relay.Start(file.fd, afterEachBlock, std::move(stop));
    RelayTurn turn{relay, wantHelp};
    if (wantHelp && info.st_size >= kHelpedReadMinimum) {
      wantHelp(relay, true);
      turn.offered = true;
    }
    if (!HashAll(relay, digest)) return result;
  }
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

FileDigest Sha1OfFileChecked(const std::string& path, const std::function<void()>& afterEachBlock,
                             std::stop_token stop) {
  ReadRelay relay(kHashReadBlock);
  return Sha1OfFileChecked(path, relay, afterEachBlock, std::move(stop), {});
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

#include "ObjectStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::locker {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path, int error) {
  throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(error));
}

// A rename is durable only once the folder that holds the new name is flushed too.
void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

} // namespace

ObjectStore::ObjectStore(std::filesystem::path root) : objects_(root / "objects"), incoming_(root / "incoming") {
  std::filesystem::create_directories(objects_);
  std::filesystem::create_directories(incoming_);
  // Whatever a crash left half-received is worthless: nobody can finish it.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(incoming_, error))
    std::filesystem::remove(entry.path(), error);
}

ObjectStore::Incoming::~Incoming() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool ObjectStore::Incoming::Write(const char* data, std::size_t size) {
  if (writeFailed_ || finished_) return false;
  sha1_.Update(data, size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      writeFailed_ = true;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  size_ += size;
  return true;
}

std::optional<std::string> ObjectStore::Incoming::Finish() {
  if (writeFailed_ || finished_) return std::nullopt;
  finished_ = true;
  if (::fsync(fd_) != 0) return std::nullopt;
  if (::close(fd_) != 0) {
    fd_ = -1;
    return std::nullopt;
  }
  fd_ = -1;
  return sha1_.FinishHex();
}

std::unique_ptr<ObjectStore::Incoming> ObjectStore::Begin() const {
  std::string pattern = (incoming_ / "upload-XXXXXX").string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) Fail("Cannot create a file in", incoming_, errno);
  return std::unique_ptr<Incoming>(new Incoming(fd, pattern));
}

void ObjectStore::Commit(Incoming& incoming, const std::string& hashId) const {
  if (!incoming.finished_ || incoming.fd_ >= 0 || incoming.path_.empty())
    throw std::logic_error("an upload is committed before it is finished");
  const std::filesystem::path target = PathOf(hashId);
  std::filesystem::create_directories(target.parent_path());
  // Same hash id, same bytes: replacing an existing copy is harmless and keeps this one step.
  if (::rename(incoming.path_.c_str(), target.c_str()) != 0) Fail("Cannot store", target, errno);
  incoming.path_.clear();
  SyncFolder(target.parent_path());
}

std::string ObjectStore::Put(std::string_view bytes) const {
  auto incoming = Begin();
  if (!incoming->Write(bytes.data(), bytes.size())) Fail("Cannot write", incoming->path_, errno);
  const auto hashId = incoming->Finish();
  if (!hashId) Fail("Cannot flush", incoming->path_, errno);
  Commit(*incoming, *hashId);
  return *hashId;
}

std::filesystem::path ObjectStore::PathOf(const std::string& hashId) const {
  return objects_ / hashId.substr(0, 2) / hashId;
}

bool ObjectStore::Has(const std::string& hashId) const {
  if (!IsHashId(hashId)) return false;
  struct stat info {};
  return ::stat(PathOf(hashId).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::uint64_t> ObjectStore::SizeOf(const std::string& hashId) const {
  if (!IsHashId(hashId)) return std::nullopt;
  struct stat info {};
  if (::stat(PathOf(hashId).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::vector<ObjectStore::Entry> ObjectStore::List() const {
  std::vector<Entry> entries;
  std::error_code error;
  for (const auto& folder : std::filesystem::directory_iterator(objects_, error)) {
    if (!folder.is_directory()) continue;
    for (const auto& file : std::filesystem::directory_iterator(folder.path(), error)) {
      const std::string name = file.path().filename().string();
      if (!IsHashId(name) || !file.is_regular_file()) continue;
      entries.push_back({name, static_cast<std::uint64_t>(file.file_size(error))});
    }
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.hashId < b.hashId; });
  return entries;
}

} // namespace velmora::locker

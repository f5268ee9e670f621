#include "base/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path, int error) {
  throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(error));
}

void CreateFolders(const std::filesystem::path& folder, mode_t mode) {
  if (folder.empty() || std::filesystem::is_directory(folder)) return;
  CreateFolders(folder.parent_path(), mode);
  if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) Fail("Cannot create folder", folder, errno);
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& file, const std::string& text, mode_t fileMode,
                         mode_t folderMode) {
  CreateFolders(file.parent_path(), folderMode);
  // Built piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) on "." + a temporary string.
  std::string hidden = ".";
  hidden += file.filename().string();
  hidden += ".XXXXXX";
  std::string pattern = (file.parent_path() / hidden).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) Fail("Cannot write", file, errno);
  const std::filesystem::path temporary = pattern;
  auto abandon = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    Fail("Cannot write", file, error);
  };
  if (::fchmod(fd, fileMode) != 0) abandon(errno);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon(errno);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) abandon(errno);
  if (::close(fd) != 0) {
    ::unlink(temporary.c_str());
    Fail("Cannot write", file, errno);
  }
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    Fail("Cannot write", file, error);
  }
}

} // namespace velmora

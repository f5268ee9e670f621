#include "DeepFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>
#include <vector>

namespace velmora::test {

DeepFolder::DeepFolder(const std::filesystem::path& parent) : parent_(parent), name_(200, 'd') {
  levels_ = PATH_MAX / static_cast<int>(name_.size() + 1) + 2;
  int fd = ::open(parent_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string path = parent_.string();
  for (int level = 0; level < levels_ && fd >= 0; ++level) {
    if (::mkdirat(fd, name_.c_str(), 0755) != 0) break;
    const int next = ::openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    path += "/" + name_;
    if (firstUnreachable_.empty() && path.size() >= PATH_MAX) firstUnreachable_ = path;
  }
  if (fd >= 0) ::close(fd);
  if (firstUnreachable_.empty()) throw std::runtime_error("cannot create a folder chain below " + parent_.string());
}

DeepFolder::~DeepFolder() {
  std::vector<int> fds{::open(parent_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  while (fds.back() >= 0 && static_cast<int>(fds.size()) <= levels_)
    fds.push_back(::openat(fds.back(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The deepest folder first: each level is removed from the one above it.
  for (std::size_t i = fds.size(); i-- > 0;) {
    if (fds[i] >= 0) ::close(fds[i]);
    if (i > 0 && fds[i - 1] >= 0) ::unlinkat(fds[i - 1], name_.c_str(), AT_REMOVEDIR);
  }
}

} // namespace velmora::test

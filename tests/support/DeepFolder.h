#pragma once
// A chain of folders whose full path grows past the system's limit (PATH_MAX): no call that takes
// a path reaches its deeper part, root or not. Tests use it for a folder a search cannot read,
// since running as root makes permission bits no obstacle.

#include <filesystem>
#include <string>

namespace velmora::test {

class DeepFolder {
public:
  // Creates the chain below `parent` (an existing folder).
  explicit DeepFolder(const std::filesystem::path& parent);
  // Removes the chain (a path-based removal could not reach its depth).
  ~DeepFolder();
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;

  // The chain's first folder.
  std::filesystem::path top() const { return parent_ / name_; }
  // The first folder of the chain whose path is too long to be used.
  const std::string& firstUnreachable() const { return firstUnreachable_; }

private:
  std::filesystem::path parent_;
  std::string name_;
  int levels_ = 0;
  std::string firstUnreachable_;
};

} // namespace velmora::test

#pragma once
// A file that lives only as long as the step that needs it: removed when the owner leaves its
// scope, whichever way, so exchange files never pile up over a long run.

#include <cstdio>
#include <string>
#include <utility>

namespace velmora {

class ScopedFile {
public:
  explicit ScopedFile(std::string path) : path_(std::move(path)) {}
  ~ScopedFile() {
    // Gone already or never written: nothing is left to remove either way.
    if (!path_.empty()) std::remove(path_.c_str());
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  const std::string& path() const { return path_; }

private:
  std::string path_;
};

} // namespace velmora

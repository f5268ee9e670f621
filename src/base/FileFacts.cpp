#include "base/FileFacts.h"

#include <filesystem>
#include <system_error>

namespace velmora {

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

} // namespace velmora

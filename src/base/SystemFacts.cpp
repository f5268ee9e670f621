#include "base/SystemFacts.h"

#include "base/BuildInfo.h"

#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

namespace velmora {

std::string NewGuidString() {
  uuid_t id;
  uuid_generate(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return std::string("{") + text + "}";
}

std::string InstanceName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return std::string(name); // cut at the first NUL
}

std::string ProgramVersion() { return build::kProgramVersion; }

unsigned FileCreationMask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
  }
  // No process status (a kernel before 4.7): one setter at a time at least within this program.
  static std::mutex mutex;
  std::lock_guard<std::mutex> guard(mutex);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<unsigned>(mask);
}

} // namespace velmora

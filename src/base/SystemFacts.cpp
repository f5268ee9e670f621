#include "base/SystemFacts.h"

#include "base/BuildInfo.h"

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

} // namespace velmora

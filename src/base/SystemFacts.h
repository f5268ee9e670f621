#pragma once
// Small facts about this machine and program that requests and file names need.

#include <string>

namespace velmora {

// A new GUID in registry form: "{" 8-4-4-4-12 upper-case hex digits "}", 38 characters.
std::string NewGuidString();
// The host name, empty when it cannot be read.
std::string InstanceName();
// Major.minor.release.build of this program, e.g. "1.0.0.1".
std::string ProgramVersion();
// The permission bits the process's umask takes from new files, read without setting it: setting
// and restoring it, as umask(2) alone can, would give files that another thread creates meanwhile
// (restore lanes, several at once) no mask at all.
unsigned FileCreationMask();

} // namespace velmora

#pragma once

#include <string>

namespace velmora {

// True for an existing regular file (after following links); false for folders, devices, missing
// paths, the empty path and paths the program may not look at.
bool IsRegularFile(const std::string& path);

} // namespace velmora

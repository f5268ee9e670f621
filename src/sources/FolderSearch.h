#pragma once
// The recursive search behind a dropped folder.

#include <string>
#include <vector>

namespace velmora {

// The regular files below `folder`, to any depth, whose names end in one of `extensions`
// (lower case, with the dot; names compared without regard to letter case). A folder's own files
// come first in the order the file system lists them, then each subfolder in that order, depth
// first. Hidden entries (names starting with ".") are left out and hidden folders not entered.
// A folder reached twice through symbolic links is searched once. A folder that cannot be listed
// ends the search; what was found before it is returned.
std::vector<std::string> SearchFolder(const std::string& folder, const std::vector<std::string>& extensions);

} // namespace velmora

#pragma once
// The recursive search behind a dropped folder.

#include "model/MediaItem.h"

#include <string>
#include <vector>

namespace velmora {

struct FolderSearchResult {
  std::vector<std::string> files;
  // What the search had to leave out, each with its reason: folders that could not be read (the
  // rest of the tree is still searched), links to folders, and entries with a searched name that
  // are no regular file (a named pipe, a link that leads nowhere).
  std::vector<SkippedFile> skipped;
};

// The regular files below `folder`, to any depth, whose names end in one of `extensions`
// (lower case, with the dot; names compared without regard to letter case). A folder's own files
// come first in the order the file system lists them, then each subfolder in that order, depth
// first. Hidden entries (names starting with ".") are left out and hidden folders not entered.
// Links to folders below `folder` are not followed (`folder` itself may be one); links to files
// are. A folder that cannot be read (no permission, a path longer than the system allows) is
// skipped by itself.
FolderSearchResult SearchFolder(const std::string& folder, const std::vector<std::string>& extensions);

} // namespace velmora

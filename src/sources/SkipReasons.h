#pragma once
// The reasons a dropped or watched input is left out, as the run's report and status lines give
// them.

#include <string>

namespace velmora {

// A link to a folder found below a searched or watched folder: links to folders are never
// followed there (a link named by the user is).
inline constexpr const char* kFolderLinkNotFollowed = "link to a folder: not followed";

// "cannot read the folder: " + the system's reason for `error` (an errno value).
std::string UnreadableFolderReason(int error);

// Why `path`, which is no regular file, cannot be sent: "not a regular file: a named pipe",
// "... a device", "... a socket", "... a folder", "a link that leads nowhere", "no such file".
std::string NotRegularFileReason(const std::string& path);

// A reason about an entry of a playlist file, with the playlist named.
std::string NamedByPlaylist(const std::string& reason, const std::string& playlistPath);

} // namespace velmora

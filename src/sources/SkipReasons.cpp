#include "sources/SkipReasons.h"

#include <sys/stat.h>

#include <cstring>

namespace velmora {

std::string UnreadableFolderReason(int error) { return std::string("cannot read the folder: ") + std::strerror(error); }

std::string NotRegularFileReason(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) return "no such file";
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "a link that leads nowhere";
  if (S_ISFIFO(info.st_mode)) return "not a regular file: a named pipe";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "not a regular file: a device";
  if (S_ISSOCK(info.st_mode)) return "not a regular file: a socket";
  if (S_ISDIR(info.st_mode)) return "not a regular file: a folder";
  return "not a regular file";
}

std::string NamedByPlaylist(const std::string& reason, const std::string& playlistPath) {
  return reason + " (named by the playlist " + playlistPath + ")";
}

} // namespace velmora

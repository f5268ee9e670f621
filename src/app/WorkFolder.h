#pragma once
// The folder that holds the program's exchange files, temporary files and fingerprint cache.

#include <filesystem>
#include <string>

namespace velmora {

// $XDG_CACHE_HOME/VLUploader/ (~/.cache when unset), with a trailing separator. Every call
// creates the folder (mode 0700) when missing; throws std::runtime_error when it cannot.
std::string WorkFolder();

// Deletes every file whose name begins with "tmp_" in the work folder and below; files that
// cannot be deleted stay for the next attempt.
void CleanWorkFolder();

} // namespace velmora

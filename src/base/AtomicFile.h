#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace velmora {

// Writes the whole text to a temporary file beside `file` with the given mode, then renames it
// over `file`, so a reader sees the old content or the new one, never a part. Missing parent
// folders are created with `folderMode`. Throws std::runtime_error naming the file on failure.
void WriteFileAtomically(const std::filesystem::path& file, const std::string& text, mode_t fileMode,
                         mode_t folderMode = 0755);

} // namespace velmora

#pragma once
// Reading INI files through inih without its usual limits: no line-length cut, no continuation
// lines, no inline comments. The settings file and ".pls" playlists are read this way.

#include <ini.h>

#include <filesystem>

namespace velmora {

// Calls `handler` for every name=value line of `file`, in file order. A line the parser cannot
// read is skipped; the lines around it still count. A line may be up to 1 GiB long (the parser's
// buffer grows as needed); an indented line is a key of its own, and ";" or "#" inside a value is
// part of it. The parser's process-wide options are set for the parse only and put back
// afterwards. Returns false when the file cannot be opened.
bool ParseIniFile(const std::filesystem::path& file, ini_handler handler, void* user);

} // namespace velmora

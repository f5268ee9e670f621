#pragma once
// What every tag fuzz target shares: the input as a file, so the buffered file stream is read
// beside the memory stream and the two must agree; and the checks on getter texts.

#include "tags/TextCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace velmora::fuzz {

// A file holding the input; one per process, rewritten for every input.
inline std::string InputFile(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    std::string pattern = "/tmp/velmora-fuzz-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    return pattern;
  }();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path;
}

// Getter texts are UTF-8 whatever the input held.
inline void CheckText(const std::string& text) {
  if (!IsWellFormedUtf8(text)) __builtin_trap();
}

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

} // namespace velmora::fuzz

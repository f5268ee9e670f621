#pragma once
// Result codes shared by the ID3v1, ID3v2 and MPEG readers.

#include <cstdint>

namespace velmora {

enum class TagResult : std::uint8_t {
  Ok = 0,             // the tag or frame was found and read
  ReadError = 6,      // the file ended before the bytes needed
  NoTag = 9,          // the marker characters are missing
  InvalidHeader = 10, // a tag header of an unsupported version
  // Any other error (an I/O error of the stream, memory). The readers never talk to a user: the
  // reader keeps the error's text in ErrorText() and the caller shows it in an error message box.
  Failed = 11,
  NoFrame = 12, // no MPEG audio frame was accepted
};

} // namespace velmora

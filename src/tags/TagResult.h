#pragma once
// Result codes shared by the ID3v1, ID3v2 and MPEG readers.

#include <cstdint>

namespace velmora {

using TagResult = std::uint8_t;

inline constexpr TagResult rcOk = 0;             // the tag or frame was found and read
inline constexpr TagResult rcReadError = 6;      // the file ended before the bytes needed
inline constexpr TagResult rcNoTag = 9;          // the marker characters are missing
inline constexpr TagResult rcInvalidHeader = 10; // a tag header of an unsupported version
// Any other error (an I/O error of the stream, memory). The readers never talk to a user: the
// reader keeps the error's text in ErrorText() and the caller shows it in an error message box.
inline constexpr TagResult rcFailed = 11;
inline constexpr TagResult rcNoFrame = 12;       // no MPEG audio frame was accepted

} // namespace velmora

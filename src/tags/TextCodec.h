#pragma once
// Turns the text encodings found in tags into UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// 8-bit tag text is read as Windows-1252; its five unassigned bytes become the C1 controls of
// the same number, as Windows itself converts them.
std::string Windows1252ToUtf8(const unsigned char* bytes, std::size_t count);

// UTF-16 code units, in big-endian or little-endian byte order, to UTF-8. A surrogate without its
// partner becomes U+FFFD.
std::string Utf16ToUtf8(const unsigned char* bytes, std::size_t unitCount, bool bigEndian);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsWellFormedUtf8(std::string_view text);

// Removes every character of code 32 and below from both ends.
std::string TrimControl(std::string_view text);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

} // namespace velmora

#pragma once
// Small helpers on byte text: ASCII case, trimming and file name extensions. None of them looks
// at the locale; bytes outside A-Z and a-z (UTF-8 sequences included) stay as they are.

#include <string>
#include <string_view>

namespace velmora {

// A to Z become a to z.
std::string AsciiLower(std::string text);
// a to z become A to Z.
std::string AsciiUpper(std::string text);

// Without the bytes 0 to 32 (blank, tab, line breaks and the other control characters) at
// either end.
std::string TrimmedBlanksAndControls(std::string_view text);

// The extension of the path's file name (from its last dot, dot included; "" for none and for a
// name that only starts with a dot), in lower case.
std::string LowerExtension(const std::string& path);

} // namespace velmora

#pragma once

#include <optional>
#include <string>

namespace velmora {

inline constexpr const char* kInvalidHashValue = "invalidhashvalue";

// The SHA-1 digest of the whole file as 40 lower-case hex digits, read in bounded blocks.
// Nothing when the path is not a regular file or cannot be read to its end.
std::optional<std::string> Sha1OfFile(const std::string& path);
// The SHA-1 digest of a text, same form.
std::string Sha1Hex(const std::string& data);

} // namespace velmora

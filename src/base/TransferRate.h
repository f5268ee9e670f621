#pragma once
// Speed limits as curl writes them: a whole number of bytes per second, optionally followed by one
// of the 1024-based suffixes K, M or G (either case): "500K", "1M" (1,048,576 bytes/s), "2g".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Bytes per second; 0 means no limit. Nothing for text that is not such a number (empty, signs,
// blanks, fractions, other suffixes, or more than 2^63-1 bytes/s).
std::optional<std::int64_t> ParseTransferRate(std::string_view text);

// The shortest text ParseTransferRate reads back as `bytesPerSecond`: "1M", "1536K", "1000".
std::string FormatTransferRate(std::int64_t bytesPerSecond);

} // namespace velmora

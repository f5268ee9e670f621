#pragma once
// Byte counts as people read them on a terminal or in a window.

#include <cstdint>
#include <string>

namespace velmora {

// 1024-based units with one decimal from KiB up: "0 B", "900 B", "4.0 KiB", "12.3 MiB", "1.5 GiB".
// Negative counts read as 0 B.
std::string HumanBytes(std::int64_t bytes);

} // namespace velmora

#pragma once
// The service's answer envelope, as the tests' servers and clients answer with it.

#include <string>

namespace velmora::test {

std::string Envelope(const std::string& result, const std::string& error, const std::string& message = "",
                     const std::string& extra = "");

} // namespace velmora::test

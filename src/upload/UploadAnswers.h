#pragma once
// Reading the service's answers of the upload loop. A pure function of the answer text, so it can
// be checked without a service.

#include <string>

namespace velmora {

// The text of the first "//result/location" of a registration ("items/add") answer: where the
// file's content goes. Empty when the answer is not XML or names no location.
std::string ReadUploadLocation(const std::string& answer);

} // namespace velmora

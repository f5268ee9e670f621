// Fuzzes the readers of the addresses the service names: a delivery answer gives an address
// that is not empty, or none.

#include "FuzzHome.h"
#include "restore/RestoreAnswers.h"

#include <pugixml.hpp>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = std::string(reinterpret_cast<const char*>(data), size) + "\r\n";
  pugi::xml_document answer; // as LoadAnswerDocument reads it
  if (answer.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments)) {
    if (const auto location = ReadDeliveryLocation(answer)) fuzz::Check(!location->empty());
  }
  return 0;
}

// Fuzzes the readers of the addresses the service names: a delivery answer (read as the restore
// reads it) gives an address that is not empty, or none; a registration answer gives a text
// without a zero byte, and none when the answer is not XML.

#include "FuzzHome.h"
#include "restore/RestoreAnswers.h"
#include "upload/UploadAnswers.h"

#include <pugixml.hpp>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const std::string text = body + "\r\n";
  pugi::xml_document answer; // as LoadAnswerDocument reads it
  if (answer.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments)) {
    if (const auto location = ReadDeliveryLocation(answer)) fuzz::Check(!location->empty());
  }
  const std::string upload = ReadUploadLocation(body);
  fuzz::Check(upload.find('\0') == std::string::npos);
  pugi::xml_document plain;
  if (!plain.load_buffer(body.data(), body.size())) fuzz::Check(upload.empty());
  return 0;
}

#include "upload/UploadAnswers.h"

#include <pugixml.hpp>

namespace velmora {

std::string ReadUploadLocation(const std::string& answer) {
  pugi::xml_document document;
  if (!document.load_buffer(answer.data(), answer.size())) return {};
  return document.select_node("//result/location").node().text().get();
}

} // namespace velmora

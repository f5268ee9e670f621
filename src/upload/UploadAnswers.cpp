#include "upload/UploadAnswers.h"

#include <pugixml.hpp>

#include <charconv>

namespace velmora {

std::string ReadUploadLocation(const std::string& answer) {
  pugi::xml_document document;
  if (!document.load_buffer(answer.data(), answer.size())) return {};
  return document.select_node("//result/location").node().text().get();
}

int DuplicateCheckCode(const std::string& text) {
  int code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  return error == std::errc() && end == text.data() + text.size() ? code : 0;
}

} // namespace velmora

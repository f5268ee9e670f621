#include "Envelope.h"

#include <sstream>

namespace velmora::locker {

Envelope::Envelope(bool success, int errorCode, const std::string& message)
    : doc_(std::make_unique<pugi::xml_document>()), success_(success), code_(errorCode) {
  auto declaration = doc_->append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  pugi::xml_node result = doc_->append_child("result");
  AddText(result, "result", success ? "true" : "false");
  AddText(result, "error", std::to_string(errorCode));
  AddText(result, "errormessage", message);
}

Envelope Envelope::Success() { return Envelope(true, 0, ""); }

Envelope Envelope::Failure(int errorCode, const std::string& message) { return Envelope(false, errorCode, message); }

pugi::xml_node Envelope::AddText(pugi::xml_node parent, const char* name, const std::string& text) {
  pugi::xml_node node = parent.append_child(name);
  if (!text.empty()) node.append_child(pugi::node_pcdata).set_value(text.c_str());
  return node;
}

std::string Envelope::Text() const { return XmlText(*doc_); }

std::string XmlText(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

} // namespace velmora::locker

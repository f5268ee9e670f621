#pragma once

#include <memory>
#include <string>

#include <pugixml.hpp>

namespace velmora::locker {

// Error codes of this service. The client knows only 1300; the others only need to be stable
// so tests can tell the refusals apart.
namespace code {
inline constexpr int kUnknownMethod = 1000;
inline constexpr int kBadLogin = 1001;
inline constexpr int kBadAppKey = 1002;
inline constexpr int kBadFormat = 1003;
inline constexpr int kNotPost = 1005;
inline constexpr int kMalformed = 1100;
inline constexpr int kTooLarge = 1101;
inline constexpr int kMissingField = 1102;
inline constexpr int kBadDocument = 1103;
inline constexpr int kUpgradeRequired = 1300;
inline constexpr int kNotFound = 1404;
inline constexpr int kHashMismatch = 1409;
inline constexpr int kBadUploadAddress = 1410;
inline constexpr int kUploadTooLarge = 1413;
inline constexpr int kInternal = 1500;
} // namespace code

// One answer document: <result><result>true|false</result><error>N</error><errormessage>...
// followed by whatever the method adds under the outer "result".
class Envelope {
public:
  static Envelope Success();
  static Envelope Failure(int errorCode, const std::string& message);

  bool success() const { return success_; }
  int errorCode() const { return code_; }
  pugi::xml_node body() { return doc_->document_element(); }
  // Adds <name>text</name> under `parent`.
  static pugi::xml_node AddText(pugi::xml_node parent, const char* name, const std::string& text);
  std::string Text() const;

private:
  Envelope(bool success, int errorCode, const std::string& message);
  std::unique_ptr<pugi::xml_document> doc_;
  bool success_;
  int code_;
};

// Serialises a document with the XML declaration, two-space indented.
std::string XmlText(const pugi::xml_document& doc);

} // namespace velmora::locker

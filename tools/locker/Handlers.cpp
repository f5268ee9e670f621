#include "Handlers.h"

#include <httplib.h>
#include <pugixml.hpp>

#include <algorithm>

namespace velmora::locker {

Endpoints EndpointsOf(const httplib::Request& request) {
  return Endpoints{request.remote_addr, request.remote_port, request.local_port};
}

std::string Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<ItemMetadata> ParseItemMetadata(const std::string& xml) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) return std::nullopt;
  const pugi::xml_node root = doc.document_element();
  if (std::string_view(root.name()) != "data") return std::nullopt;
  const auto text = [&](const char* name) { return std::string(root.child(name).child_value()); };
  ItemMetadata meta;
  meta.name = text("Name");
  meta.artist = text("Artist");
  meta.album = text("Album");
  meta.genre = text("Genre");
  meta.trackNo = text("TrackNo");
  meta.year = text("Year");
  meta.length = text("Length");
  meta.bitrate = text("Bitrate");
  meta.size = text("Size");
  meta.location = text("Location");
  meta.hashValue = Trim(text("HashValue"));
  meta.document = xml;
  return meta;
}

void LogFields(LoggedRequest& entry, const Form& form) {
  // A flood of many-part garbage must not fill memory through the log.
  constexpr std::size_t kMaxLoggedFields = 32;
  for (const auto& field : form.fields) {
    if (entry.fields.size() == kMaxLoggedFields) break;
    LoggedField logged;
    logged.name = field.name;
    logged.filename = field.filename;
    logged.contentType = field.contentType;
    logged.isFile = field.isFile;
    logged.size = field.size;
    if (!field.spooled) logged.value = field.value.substr(0, 1024);
    entry.fields.push_back(std::move(logged));
  }
}

LoggedRequest StartLog(const std::string& target, const httplib::Request& request) {
  LoggedRequest entry;
  entry.target = target;
  entry.path = request.path;
  entry.userAgent = request.get_header_value("User-Agent");
  entry.contentType = request.get_header_value("Content-Type");
  return entry;
}

std::string FileStem(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

} // namespace velmora::locker

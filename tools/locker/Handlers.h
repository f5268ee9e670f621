#pragma once
// Helpers the request handlers of the locker share.

#include <optional>
#include <string>
#include <string_view>

#include "FormReader.h"
#include "Library.h"
#include "Monitor.h"
#include "Net.h"

namespace httplib {
struct Request;
}

namespace velmora::locker {

inline constexpr const char* kXmlType = "text/xml; charset=utf-8";

Endpoints EndpointsOf(const httplib::Request& request);
std::string Trim(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Reads an item metadata document: root "data" with "Name", "Artist", ... children. Nothing when
// the text is not XML or has another root.
std::optional<ItemMetadata> ParseItemMetadata(const std::string& xml);

// A request's fields as the request log keeps them.
void LogFields(LoggedRequest& entry, const Form& form);
LoggedRequest StartLog(const std::string& target, const httplib::Request& request);

// The last path segment of a client's file name (either separator), without its extension.
std::string FileStem(const std::string& path);

} // namespace velmora::locker

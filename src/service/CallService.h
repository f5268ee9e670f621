#pragma once
// The one way to ask the service something: request and envelope in one guarded step.

#include "service/ApiResult.h"
#include "service/FormData.h"

#include <string>

namespace pugi {
class xml_document;
}

namespace velmora {

// What login and restore callers report when the service could not be reached or understood.
inline constexpr const char* kCouldNotConnect = "Could not connect to server";

// Writes an answer to a purpose-named file in the run folder ("tmp_" + purpose + GUID + ".xml",
// the text followed by CR LF), loads it into `document` and removes the file again, whether the
// load worked or not. Throws ApiError when the text is not
// XML (an empty text included), std::runtime_error when the file cannot be written.
void LoadAnswerDocument(pugi::xml_document& document, const std::string& purpose, const std::string& text);

} // namespace velmora

#pragma once
// The one way to ask the service something: request and envelope in one guarded step.

#include "service/ApiResult.h"
#include "service/FormData.h"

#include <string>

namespace pugi {
class xml_document;
}

namespace velmora {

class Engine;

// What login and restore callers report when the service could not be reached or understood.
inline constexpr const char* kCouldNotConnect = "Could not connect to server";

// CallApi, then ParseApiResult of the body. When either fails, the result is not successful,
// carries code 500 and an empty ResponseText, and its ErrorMessage is `failureMessage` ("Could not
// connect to server" on the login and restore paths) or, when that is empty (the upload paths),
// the cause of the failure. Nothing is thrown.
TWSReturnData CallService(Engine& engine, const std::string& method, FormData form, bool progress,
                          const std::string& failureMessage);

// Keeps an answer under a purpose-named file in the run folder ("tmp_" + purpose + GUID + ".xml",
// the text followed by CR LF) and loads it into `document`. Throws ApiError when the text is not
// XML (an empty text included), std::runtime_error when the file cannot be written.
void LoadAnswerDocument(pugi::xml_document& document, const std::string& purpose, const std::string& text);

} // namespace velmora

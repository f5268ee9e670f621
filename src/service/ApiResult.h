#pragma once
// The answer envelope of the service: success flag, error code, optional message.

#include <string>

namespace velmora {

// The local code for "no usable answer".
inline constexpr int kNoAnswerCode = 500;
// The answer of "user/checkaccess" that demands a newer program.
inline constexpr int kUpgradeRequiredCode = 1300;

struct ServiceReply {
  bool Success = false;
  int ErrorCode = 0;
  std::string ErrorMessage;
  // The whole answer body as received; empty when the call failed.
  std::string ResponseText;
  // The exchange failed for a reason that may pass (no connection, HTTP 5xx or 429), after any
  // retries; a watched run keeps its files for later instead of failing them.
  bool Transient = false;
};

// Saves the body as a response file and reads the envelope from it. Throws ApiError when the
// body is not XML, or "//result/result" or "//result/error" is missing or has no text, or the
// error text is not a 32-bit integer.
ServiceReply ParseApiResult(const std::string& body);

// Writes the text into a new "tmp_{GUID}.xml" file in the program's run folder, each line ended
// by CR LF, and returns the file's full path. Throws std::runtime_error when it cannot be written.
std::string SaveResponseFile(const std::string& text);

// The same line conversion, for answers that callers keep under names of their own.
std::string WithCrLfLines(const std::string& text);

// Sets the code and message; leaves Success and ResponseText as they are.
void SetApiError(ServiceReply& data, int code, const std::string& message);

} // namespace velmora

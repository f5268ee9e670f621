#pragma once
// The pieces of every request to the service: its address, identifying fields and file checks.

#include "service/FormData.h"

#include <string>

namespace velmora {

// Throws ApiError unless `path` is a regular file that can be opened for reading; CallApi checks
// every file field this way before it sends anything.
void CheckReadableFile(const std::string& path);

// The application key sent with every request.
std::string AppKey();
// MD5 of the bytes, 32 hex digits with upper-case letters.
std::string MD5Hex(const std::string& bytes);
// "Velmora Uploader Win32 " + ProgramVersion().
std::string ApiUserAgent();

// "http://" + web host + "/" by default; a first argument "/stage" + one separator + HOST (blanks
// and control characters around it removed) gives "http://HOST" instead.
std::string ServerBaseUrl(const std::string& firstArgument);
// A method containing "http" is a complete address; anything else is base + "/api/rest/" + method.
std::string RequestUrl(const std::string& baseUrl, const std::string& method);

} // namespace velmora

#pragma once
// One request to the service: a multipart POST with the standard identifying fields.

#include "service/FormData.h"

#include <string>

namespace velmora {

class Engine;

// The raw answer of one request.
struct TRESTApiResponse {
  int StatusCode = 0;
  std::string Body;
};

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

// Posts the caller's fields followed by "username", "hashpassword", "format", "appkey" and
// "_programversion" to the method's address, with a client of its own (cookies live for this call
// only). With `progress`, the file bars, the run counters and message pumps follow the bytes.
// Throws ApiError on any transport failure and on an answer whose status is not 2xx after at most
// 15 redirects; `response` is filled only on success.
void CallApi(Engine& engine, const std::string& method, FormData form, TRESTApiResponse& response,
             bool progress = true);

} // namespace velmora

#pragma once
// Owners for libcurl's handles, and a way to carry exceptions across its C callbacks.

#include <curl/curl.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace velmora::curl {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MimeDeleter {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Mime = std::unique_ptr<curl_mime, MimeDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// Adds a header line; throws std::bad_alloc when curl cannot.
void Append(List& list, const char* line);

// Lets the handle speak http and https only, for the first address and every redirect, so no
// address from a service answer can reach a local file or another protocol. Throws ApiError when
// curl refuses the setting.
void AllowHttpOnly(CURL* handle);

// The Retry-After header of the last answer the handle received; empty without one.
std::string RetryAfter(CURL* handle);

// Caps both directions of the handle's transfers at `bytesPerSecond` through libcurl's own
// limits; 0 lifts them. A kept handle carries the setting to its next transfers.
void LimitRate(CURL* handle, std::int64_t bytesPerSecond);

// Runs `body` inside a C callback: an exception is kept for after the transfer and the callback
// answers `failed`, which makes curl abort.
template <class Result, class Body>
Result Guarded(std::exception_ptr& error, Result failed, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    if (!error) error = std::current_exception();
    return failed;
  }
}

} // namespace velmora::curl

#pragma once
// Owners for libcurl's handles, and a way to carry exceptions across its C callbacks.

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
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
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
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

// The longest the window waits for a message pump while a request of the engine thread runs.
inline constexpr std::chrono::milliseconds kPumpInterval{50};

// Runs the transfer set up on `easy` to its end and returns its result. With neither `multi` nor
// `pump`: curl_easy_perform. Otherwise through `multi` (a new one when null), which keeps the
// connections between the transfers of every handle run through it, so a handle that keeps its
// connection is always run through the same one. curl calls its progress function when it
// pleases (gaps of a second while it waits for a slow answer), so `pump` is called on a timer of
// its own, at least every kPumpInterval, between waits on the sockets. An exception from `pump`
// ends the transfer with CURLE_ABORTED_BY_CALLBACK and is kept in `error`, as in a callback.
CURLcode Perform(CURL* easy, CURLM* multi, const std::function<void()>& pump, std::exception_ptr& error);

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

#pragma once
// The requests of the service layer on a given libcurl handle: a new one per call for
// ServiceClient::Post, the run's one for DownloadClient, a lane's kept one for TransferLanes. One
// place builds each request, so every way of sending it sends the same bytes.

#include "service/FormData.h"
#include "service/LinkWatch.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace velmora {

struct HttpReply;
class RequestProgress;
class DownloadProgress;
class LaneProgress;

// Who the request is from and where the service is.
struct RequestIdentity {
  const std::string& baseUrl;
  const std::string& userName;
  const std::string& password;
};

// Sets every option of a service request on `handle` (the standard fields appended to `form`),
// performs it (through `multi` when the handle's connection lives there, curl::Perform) and fills
// `response` on success; throws as ServiceClient::Post says. Progress goes to `progress` (window
// bars, and pumps at least every curl::kPumpInterval) or `lane` (a lane's byte counts), either may
// be null.
void PostOnHandle(CURL* handle, CURLM* multi, const RequestIdentity& identity, const std::string& method, FormData form,
                  HttpReply& response, std::int64_t rateLimit, RequestProgress* progress, LaneProgress* lane,
                  StallAfterStop& stall);

// The options of the restore's plain-GET client that hold for all its downloads.
void SetDownloadOptions(CURL* handle);
// GETs `url` into `target` as DownloadClient::Get says; `multi` and progress as for PostOnHandle.
void GetOnHandle(CURL* handle, CURLM* multi, const std::string& url, const std::filesystem::path& target,
                 const std::function<void(const char*, std::size_t)>& onBody, DownloadProgress* progress,
                 LaneProgress* lane, StallAfterStop& stall);

} // namespace velmora

#include "service/DownloadClient.h"

#include "service/ApiError.h"
#include "service/CurlHandles.h"
#include "service/LinkWatch.h"
#include "service/RequestOnHandle.h"
#include "service/TransferLanes.h"
#include "service/TransferProgress.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velmora {
namespace {

constexpr long kMaxRedirects = 15;

struct Download {
  std::FILE* file = nullptr;
  DownloadProgress* progress = nullptr;
  LaneProgress* lane = nullptr;
  const std::function<void(const char*, std::size_t)>* onBody = nullptr;
  StallAfterStop* stall = nullptr;
  std::exception_ptr error;
  bool writeFailed = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* download = static_cast<Download*>(user);
  const size_t bytes = size * count;
  if (std::fwrite(data, 1, bytes, download->file) != bytes) {
    download->writeFailed = true;
    return 0;
  }
  if (!*download->onBody) return bytes;
  return curl::Guarded(download->error, size_t{0}, [&] {
    (*download->onBody)(data, bytes);
    return bytes;
  });
}

int OnProgress(void* user, curl_off_t receiveTotal, curl_off_t received, curl_off_t, curl_off_t) {
  auto* download = static_cast<Download*>(user);
  return curl::Guarded(download->error, 1, [&] {
    // The update pumps messages, where a stop request arrives.
    if (download->progress) download->progress->Update(receiveTotal, received);
    if (download->lane) download->lane->Update(0, 0, receiveTotal, received);
    if (download->stall->ShouldAbandon(received)) throw TransferAbandoned();
    return 0;
  });
}

} // namespace

void SetDownloadOptions(CURL* h) {
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_COOKIEFILE, ""); // the cookie store lives as long as the handle
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl::AllowHttpOnly(h);
  WatchLink(h);
  curl_easy_setopt(h, CURLOPT_USERAGENT, DownloadClient::kUserAgent);
  curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L); // an error page must never land in the file
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
}

DownloadClient::DownloadClient(Ui& ui) : ui_(ui) {
  curl::Easy handle{curl_easy_init()};
  curl::Multi multi{curl_multi_init()};
  if (!handle || !multi) throw ApiError("Cannot start an HTTP client");
  SetDownloadOptions(handle.get());
  handle_ = handle.release();
  multi_ = multi.release();
}

DownloadClient::~DownloadClient() {
  curl_easy_cleanup(static_cast<CURL*>(handle_));
  curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void DownloadClient::SetRateLimit(std::int64_t bytesPerSecond) {
  curl::LimitRate(static_cast<CURL*>(handle_), bytesPerSecond);
}

void DownloadClient::Get(const std::string& url, const std::filesystem::path& target, const BodyObserver& onBody) {
  DownloadProgress progress(ui_);
  StallAfterStop stall(stopRequest_);
  GetOnHandle(static_cast<CURL*>(handle_), static_cast<CURLM*>(multi_), url, target, onBody, &progress, nullptr,
              stall);
}

void GetOnHandle(CURL* h, CURLM* multi, const std::string& url, const std::filesystem::path& target,
                 const std::function<void(const char*, std::size_t)>& onBody, DownloadProgress* progress,
                 LaneProgress* lane, StallAfterStop& stall) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::fopen(target.c_str(), "wb"), &std::fclose};
  if (!file) {
    throw std::runtime_error("Cannot create the file " + target.string() + ": " + std::strerror(errno));
  }

  Download download{file.get(), progress, lane, &onBody, &stall, nullptr, false};
  curl::List headers;
  curl::Append(headers, (std::string("Accept: ") + DownloadClient::kAccept).c_str());
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &download);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &download);

  std::function<void()> pump;
  if (progress) pump = [progress] { progress->Pump(); };
  const CURLcode result = curl::Perform(h, multi, pump, download.error);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr); // the list dies with this call
  const bool closed = std::fclose(file.release()) == 0;
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);

  const auto fail = [&](auto error) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    try {
      if (progress) progress->End();
    } catch (...) {
    }
    throw error;
  };
  if (download.error) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    std::rethrow_exception(download.error);
  }
  if (download.writeFailed || !closed) {
    fail(std::runtime_error("Cannot write the file " + target.string()));
  }
  if (result != CURLE_OK) {
    const bool httpError = result == CURLE_HTTP_RETURNED_ERROR;
    fail(ApiError("Download of " + url + " failed: " + curl_easy_strerror(result),
                  httpError ? static_cast<int>(status) : 0, httpError ? 0 : static_cast<int>(result),
                  httpError ? curl::RetryAfter(h) : std::string()));
  }
  if (status < 200 || status >= 300) {
    fail(ApiError("Download of " + url + " answered with HTTP status " + std::to_string(status),
                  static_cast<int>(status)));
  }
  if (progress) progress->End();
}

} // namespace velmora

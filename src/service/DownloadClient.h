#pragma once
// The plain-GET client of the restore: one connection and cookie store for the whole run.

#include "base/Ui.h"
#include "service/LinkWatch.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace velmora {

class DownloadClient {
public:
  explicit DownloadClient(Ui& ui);
  ~DownloadClient();
  DownloadClient(const DownloadClient&) = delete;
  DownloadClient& operator=(const DownloadClient&) = delete;

  // GETs `url` (redirects followed, cookies kept from earlier downloads) and streams the answer
  // body into `target`, which is created or truncated. The restore file bar follows the bytes and
  // messages are pumped. On a transport failure or an HTTP error status the partly written file is
  // removed and ApiError is thrown (a dead link included, see LinkWatch.h); a file that cannot be
  // created or written throws std::runtime_error. `onBody`, when given, sees every piece of the
  // body once it is written to the file, in order (a digest taken while the bytes stream by).
  using BodyObserver = std::function<void(const char* data, std::size_t size)>;
  void Get(const std::string& url, const std::filesystem::path& target, const BodyObserver& onBody = {});
  // Bytes per second for the next downloads (libcurl's receive and send limits); 0 for none.
  void SetRateLimit(std::int64_t bytesPerSecond);
  // Once it answers true, a download that moves no byte for link::kStalledAfterStop is abandoned
  // (TransferAbandoned, the partly written file removed).
  void SetStopRequest(StopRequest stop) { stopRequest_ = std::move(stop); }

  static constexpr const char* kUserAgent =
      "Mozilla/5.0 (Macintosh; U; Intel Mac OS X; en-US; rv:1.8.1) Gecko/20061010 Firefox/2.0";
  static constexpr const char* kAccept = "text/html, */*";

private:
  Ui& ui_;
  void* handle_; // CURL*, kept for the run so cookies and the connection carry over
  void* multi_;  // CURLM*, which holds that connection between downloads
  StopRequest stopRequest_;
};

} // namespace velmora

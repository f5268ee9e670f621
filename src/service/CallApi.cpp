#include "service/CallApi.h"
#include "base/Text.h"

#include "base/BuildInfo.h"
#include "base/SystemFacts.h"
#include "service/ApiError.h"
#include "service/CurlHandles.h"
#include "service/LinkWatch.h"
#include "service/RequestOnHandle.h"
#include "service/ServiceClient.h"
#include "service/TransferLanes.h"
#include "service/TransferProgress.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>

namespace velmora {

namespace curl {
void Append(List& list, const char* line) {
  curl_slist* longer = curl_slist_append(list.get(), line);
  if (!longer) throw std::bad_alloc();
  (void)list.release();
  list.reset(longer);
}

void AllowHttpOnly(CURL* handle) {
  if (curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https") != CURLE_OK ||
      curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") != CURLE_OK) {
    throw ApiError("Cannot limit the HTTP client to http and https");
  }
}

std::string RetryAfter(CURL* handle) {
  curl_header* header = nullptr;
  if (curl_easy_header(handle, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header) return {};
  return header->value;
}

void LimitRate(CURL* handle, std::int64_t bytesPerSecond) {
  const std::int64_t limit = bytesPerSecond > 0 ? bytesPerSecond : 0;
  curl_easy_setopt(handle, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(limit));
  curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(limit));
  // curl checks the limit only between rounds of reads, and one round reads up to a hundred
  // buffers while the socket has data, which a nearby service refills as fast as they are read; a
  // file whose last round ends it is never waited for. Under a limit one round stays near a tenth
  // of a second's worth (1 KiB buffers at least), and the socket's buffers a quarter second's worth
  // (the window still fills a link of up to a quarter second's round trip). Without a limit:
  // curl's and the system's own sizes (0).
  const long readBuffer = limit > 0 ? static_cast<long>(std::clamp<std::int64_t>(limit / 1000, 1024, 16 * 1024)) : 0L;
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, readBuffer);
  BoundSocketBuffers(handle, limit > 0 ? std::max<std::int64_t>(limit / 4, 4096) : 0);
}
} // namespace curl

namespace {

constexpr long kMaxRedirects = 15;

void Check(CURLcode code, const char* what) {
  if (code != CURLE_OK) throw ApiError(std::string(what) + ": " + curl_easy_strerror(code));
}

struct Transfer {
  std::string body;
  RequestProgress* progress = nullptr;
  LaneProgress* lane = nullptr;
  StallAfterStop* stall = nullptr;
  std::exception_ptr error;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  return curl::Guarded(transfer->error, size_t{0}, [&] {
    transfer->body.append(data, size * count);
    return size * count;
  });
}

int OnProgress(void* user, curl_off_t receiveTotal, curl_off_t received, curl_off_t sendTotal, curl_off_t sent) {
  auto* transfer = static_cast<Transfer*>(user);
  return curl::Guarded(transfer->error, 1, [&] {
    // The update pumps messages, where a stop request arrives.
    if (transfer->progress) transfer->progress->Update(sendTotal, sent, receiveTotal, received);
    if (transfer->lane) transfer->lane->Update(sendTotal, sent, receiveTotal, received);
    if (transfer->stall->ShouldAbandon(sent + received)) throw TransferAbandoned();
    return 0;
  });
}

curl::Mime BuildBody(CURL* handle, const FormData& form) {
  curl::Mime mime{curl_mime_init(handle)};
  if (!mime) throw std::bad_alloc();
  for (const FormField& field : form.fields()) {
    curl_mimepart* part = curl_mime_addpart(mime.get());
    if (!part) throw std::bad_alloc();
    Check(curl_mime_name(part, field.name.c_str()), "Cannot build the request");
    if (field.isFile) {
      CheckReadableFile(field.value);
      Check(curl_mime_filedata(part, field.value.c_str()), "Cannot attach the file");
      // The service is told the full local path, not only the file's name.
      Check(curl_mime_filename(part, field.value.c_str()), "Cannot attach the file");
      Check(curl_mime_type(part, field.contentType.c_str()), "Cannot attach the file");
    } else {
      Check(curl_mime_data(part, field.value.data(), field.value.size()), "Cannot build the request");
    }
  }
  return mime;
}

} // namespace

// curl streams the file itself; opening it first only gives a clear message before any byte is sent.
void CheckReadableFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ApiError("Cannot open the file " + path);
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular) throw ApiError("Not a regular file: " + path);
}

std::string AppKey() { return "3F7A19B2-6C4E-81D0-9B2E5F07A6C4D318"; }

std::string MD5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    throw std::runtime_error("MD5 is not available");
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

std::string ApiUserAgent() { return "Velmora Uploader Win32 " + ProgramVersion(); }

std::string ServerBaseUrl(const std::string& firstArgument) {
  const std::string argument = TrimmedBlanksAndControls(firstArgument);
  if (argument.rfind("/stage", 0) == 0) {
    // "/stage" and the one separator after it are dropped; the host is taken as it stands.
    return "http://" + argument.substr(std::min<std::size_t>(7, argument.size()));
  }
  return std::string("http://") + build::kWebHost + "/";
}

std::string RequestUrl(const std::string& baseUrl, const std::string& method) {
  if (method.find("http") != std::string::npos) return method;
  return baseUrl + "/api/rest/" + method;
}

struct ServiceClient::KeptConnection {
  // Holds the kept connection between requests, also when a lane runs the handle.
  curl::Multi multi{curl_multi_init()};
  curl::Easy handle{curl_easy_init()};
  // A request started from a message pump inside another one takes a client of its own.
  bool busy = false;
};

ServiceClient::~ServiceClient() = default;

void ServiceClient::DropKept(KeptConnection* kept) { delete kept; }

void ServiceClient::SetTransfers(int transfers) {
  transfers_ = std::clamp(transfers, kMinTransfers, kMaxTransfers);
  // A kept connection in use (lent to a lane, or by a request whose message pump got here) stays;
  // with one transfer at a time no request takes it again.
  if (transfers_ == kMinTransfers && !(kept_ && kept_->busy)) kept_.reset();
}

LentConnection ServiceClient::LendKeptHandle() {
  if (transfers_ == kMinTransfers || !kept_ || kept_->busy || !kept_->handle || !kept_->multi) return {};
  kept_->busy = true;
  return {kept_->handle.get(), kept_->multi.get()};
}

void ServiceClient::GiveBackKeptHandle() {
  if (kept_) kept_->busy = false;
}

void ServiceClient::Post(const std::string& method, FormData form, HttpReply& response, bool progress) {
  // One item at a time: a client of its own per call. Several: the engine's requests share one
  // kept connection, as each lane keeps its own.
  curl::Easy own;
  CURL* h = nullptr;
  CURLM* multi = nullptr;
  if (transfers_ > kMinTransfers && !(kept_ && kept_->busy)) {
    if (!kept_) kept_.reset(new KeptConnection());
    h = kept_->handle.get();
    multi = kept_->multi.get();
    if (!multi) h = nullptr; // the kept connection lives in its multi handle
    if (h) curl_easy_reset(h);
  } else {
    own.reset(curl_easy_init());
    h = own.get();
  }
  if (!h) throw ApiError("Cannot start an HTTP client");
  struct Busy {
    KeptConnection* kept;
    ~Busy() {
      if (kept) kept->busy = false;
    }
  } busy{kept_ && h == kept_->handle.get() ? kept_.get() : nullptr};
  if (busy.kept) busy.kept->busy = true;
  RequestProgress requestProgress(ui_, counters_);
  StallAfterStop stall(stopRequest_);
  PostOnHandle(h, multi, {baseUrl_, userName_, password_}, method, std::move(form), response, rateLimit(),
               progress ? &requestProgress : nullptr, nullptr, stall);
}

void PostOnHandle(CURL* h, CURLM* multi, const RequestIdentity& identity, const std::string& method, FormData form,
                  HttpReply& response, std::int64_t rateLimit, RequestProgress* progress, LaneProgress* lane,
                  StallAfterStop& stall) {
  Transfer transfer;
  transfer.progress = progress;
  transfer.lane = lane;
  transfer.stall = &stall;

  form.AddText("username", identity.userName)
      .AddText("hashpassword", MD5Hex(identity.password))
      .AddText("format", "xml")
      .AddText("appkey", AppKey())
      .AddText("_programversion", ProgramVersion());
  curl::Mime body = BuildBody(h, form);

  curl::List headers;
  // Waiting for "100 Continue" would cost a round trip per request and nothing is gained.
  curl::Append(headers, "Expect:");

  const std::string url = RequestUrl(identity.baseUrl, method);
  const std::string userAgent = ApiUserAgent();
  Check(curl_easy_setopt(h, CURLOPT_URL, url.c_str()), "Bad address");
  curl::AllowHttpOnly(h);
  WatchLink(h);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_COOKIEFILE, ""); // cookies live as long as the handle
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_MIMEPOST, body.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl::LimitRate(h, rateLimit);
  // Also without progress events: a stop request is checked there.
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

  std::function<void()> pump;
  if (progress) pump = [progress] { progress->Pump(); };
  const CURLcode result = curl::Perform(h, multi, pump, transfer.error);
  // The lists die with this call; a kept handle must not point at them.
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(h, CURLOPT_MIMEPOST, nullptr);
  if (transfer.error) std::rethrow_exception(transfer.error);
  if (result != CURLE_OK) {
    throw ApiError("Request to " + url + " failed: " + curl_easy_strerror(result), 0, static_cast<int>(result));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status >= 300) {
    throw ApiError("Request to " + url + " answered with HTTP status " + std::to_string(status),
                   static_cast<int>(status), 0, curl::RetryAfter(h));
  }
  response.StatusCode = static_cast<int>(status);
  response.Body = std::move(transfer.body);
}

} // namespace velmora

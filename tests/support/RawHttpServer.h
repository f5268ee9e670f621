#pragma once
// A loopback HTTP server for client tests: it records every request byte for byte and answers
// with whatever bytes the test hands it, including malformed or cut-off answers.

#include "Envelope.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

struct CapturedRequest {
  std::string raw;         // request line, headers and body exactly as received
  std::string requestLine; // e.g. "POST //api/rest/user/checkaccess HTTP/1.1"
  std::string target;      // the request target of the request line
  std::string headers;     // header lines, CR LF separated, without the request line
  std::string body;
  // The value of the first header with this name (case-insensitive), empty when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
};

// A multipart/form-data part as it was sent.
struct SentPart {
  std::string headers; // header lines of the part, CR LF separated
  std::string name;    // the name="..." parameter
  std::string content;
};
// Splits a multipart body by the boundary named in the Content-Type header; empty on mismatch.
std::vector<SentPart> MultipartParts(const CapturedRequest& request);

// A complete answer: status line, Content-Length, Connection: close, extra header lines, body.
std::string HttpAnswer(int status, const std::string& body, const std::string& extraHeaders = "");
// An answer that promises more body bytes than it sends before the connection closes.
std::string CutAnswer(const std::string& bodyStart, std::size_t promisedLength);

class RawHttpServer {
public:
  // Returns the raw bytes to write back; the connection closes after them.
  using Handler = std::function<std::string(const CapturedRequest&)>;
  explicit RawHttpServer(Handler handler);
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return port_; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<CapturedRequest> requests() const;

private:
  void Serve();
  void Handle(int connection);

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<CapturedRequest> requests_;
  std::thread thread_;
};

} // namespace velmora::test

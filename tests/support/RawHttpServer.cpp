#include "RawHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace velmora::test {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool FindHeader(const std::string& headers, const std::string& name, std::string& value) {
  const std::string wanted = Lower(name);
  std::size_t start = 0;
  while (start < headers.size()) {
    std::size_t end = headers.find("\r\n", start);
    if (end == std::string::npos) end = headers.size();
    const std::string line = headers.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && Lower(line.substr(0, colon)) == wanted) {
      std::size_t v = colon + 1;
      while (v < line.size() && line[v] == ' ') ++v;
      value = line.substr(v);
      return true;
    }
    start = end + 2;
  }
  return false;
}

void SendAll(int connection, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

} // namespace

std::string CapturedRequest::header(const std::string& name) const {
  std::string value;
  FindHeader(headers, name, value);
  return value;
}

bool CapturedRequest::hasHeader(const std::string& name) const {
  std::string value;
  return FindHeader(headers, name, value);
}

std::vector<SentPart> MultipartParts(const CapturedRequest& request) {
  const std::string type = request.header("Content-Type");
  const std::size_t at = type.find("boundary=");
  if (at == std::string::npos) return {};
  const std::string delimiter = "--" + type.substr(at + 9);
  std::vector<SentPart> parts;
  const std::string& body = request.body;
  if (body.compare(0, delimiter.size(), delimiter) != 0) return {};
  std::size_t pos = delimiter.size();
  while (body.compare(pos, 2, "--") != 0) {
    if (body.compare(pos, 2, "\r\n") != 0) return {};
    pos += 2;
    const std::size_t headersEnd = body.find("\r\n\r\n", pos);
    const std::size_t next = body.find("\r\n" + delimiter, pos);
    if (headersEnd == std::string::npos || next == std::string::npos || headersEnd > next) return {};
    SentPart part;
    part.headers = body.substr(pos, headersEnd - pos);
    part.content = body.substr(headersEnd + 4, next - headersEnd - 4);
    const std::size_t nameAt = part.headers.find("name=\"");
    if (nameAt != std::string::npos) {
      part.name = part.headers.substr(nameAt + 6, part.headers.find('"', nameAt + 6) - nameAt - 6);
    }
    parts.push_back(std::move(part));
    pos = next + 2 + delimiter.size();
  }
  return parts;
}

std::string HttpAnswer(int status, const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 " + std::to_string(status) + " Answer\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

std::string CutAnswer(const std::string& bodyStart, std::size_t promisedLength) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(promisedLength) +
         "\r\nConnection: close\r\n\r\n" + bodyStart;
}

std::string Envelope(const std::string& result, const std::string& error, const std::string& message,
                     const std::string& extra) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response><result><result>" + result + "</result><error>" +
         error + "</error><errormessage>" + message + "</errormessage>" + extra + "</result></response>\n";
}

RawHttpServer::RawHttpServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("socket failed");
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0) {
    ::close(listener_);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
  stopping_ = true;
  thread_.join();
  ::close(listener_);
}

std::vector<CapturedRequest> RawHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void RawHttpServer::Serve() {
  while (!stopping_) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0) continue;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Handle(connection);
    ::close(connection);
  }
}

void RawHttpServer::Handle(int connection) {
  CapturedRequest request;
  std::string& raw = request.raw;
  std::size_t headersEnd = std::string::npos;
  std::size_t expected = 0;
  char buffer[65536];
  for (;;) {
    if (headersEnd != std::string::npos && raw.size() >= expected) break;
    pollfd ready{connection, POLLIN, 0};
    if (::poll(&ready, 1, 5000) <= 0) return; // a client that stops talking is dropped
    const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    raw.append(buffer, static_cast<std::size_t>(n));
    if (headersEnd == std::string::npos && (headersEnd = raw.find("\r\n\r\n")) != std::string::npos) {
      const std::size_t lineEnd = raw.find("\r\n");
      request.requestLine = raw.substr(0, lineEnd);
      request.headers = raw.substr(lineEnd + 2, headersEnd - lineEnd - 2);
      const std::size_t s1 = request.requestLine.find(' ');
      const std::size_t s2 = request.requestLine.rfind(' ');
      if (s1 != std::string::npos && s2 > s1) request.target = request.requestLine.substr(s1 + 1, s2 - s1 - 1);
      const std::string length = request.header("Content-Length");
      expected = headersEnd + 4 + (length.empty() ? 0 : std::stoull(length));
    }
  }
  request.body = raw.substr(headersEnd + 4);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  SendAll(connection, handler_(request));
  ::shutdown(connection, SHUT_WR);
}

} // namespace velmora::test

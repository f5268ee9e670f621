#include "Net.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace velmora::locker {
namespace {

bool Describe(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    if (!::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return false;
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    if (!::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) return false;
    port = ntohs(v6->sin6_port);
  } else {
    return false;
  }
  ip = text;
  return true;
}

} // namespace

bool CutConnection(const Endpoints& ends) {
  // The HTTP library does not hand its handlers the socket, so look it up among our descriptors.
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(folder)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == ::dirfd(folder)) continue;
    struct stat info {};
    if (::fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    sockaddr_storage local{}, peer{};
    socklen_t localSize = sizeof local, peerSize = sizeof peer;
    if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localSize) != 0) continue;
    if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) continue;
    std::string localIp, peerIp;
    int localPort = -1, peerPort = -1;
    if (!Describe(local, localIp, localPort) || !Describe(peer, peerIp, peerPort)) continue;
    if (localPort != ends.localPort || peerPort != ends.remotePort || peerIp != ends.remoteAddr) continue;
    ::shutdown(static_cast<int>(fd), SHUT_RDWR);
    found = true;
    break;
  }
  ::closedir(folder);
  return found;
}

bool IsPlainHost(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == ':' || c == '[' || c == ']' || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '"': out += "&quot;"; break;
    case '\'': out += "&#39;"; break;
    default: out += c;
    }
  }
  return out;
}

} // namespace velmora::locker

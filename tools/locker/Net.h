#pragma once

#include <string>
#include <string_view>

namespace velmora::locker {

// The two ends of one accepted connection, enough to find its socket again.
struct Endpoints {
  std::string remoteAddr;
  int remotePort = -1;
  int localPort = -1;
};

// Shuts the connection down in both directions, so the peer sees it closed at once, whatever the
// server would still read or write. The HTTP library keeps ownership of the socket and closes it.
// False when no open socket of this process has these ends.
bool CutConnection(const Endpoints& ends);

// A Host header that may be echoed into an address: a name or address and an optional port.
bool IsPlainHost(std::string_view host);

std::string HtmlEscape(std::string_view text);

} // namespace velmora::locker

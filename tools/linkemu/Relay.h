#pragma once
// Carries the bytes of one accepted connection over the emulated link in both directions.

#include "Link.h"

namespace velmora::link {

struct Links {
  Link up;   // client to target
  Link down; // target to client
  // The extra wait of a new connection before its first byte moves: one round trip, as the
  // handshake of a real connection costs.
  Clock::duration handshake;
};

// Takes over both sockets (already connected) and relays until both directions have ended, then
// closes them. Returns at once: threads of its own carry the bytes.
void StartRelay(int client, int target, Links& links, Clock::time_point accepted);

} // namespace velmora::link

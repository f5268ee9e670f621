#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::locker {

using Version = std::array<std::uint32_t, 4>;

// Reads "1", "1.2", ... "1.2.0.3": one to four decimal parts, missing parts are 0.
// Nothing for any other text (blanks, letters, empty parts, a fifth part, overflow).
std::optional<Version> ParseVersion(std::string_view text);

enum class ControlAccess { Auto, On, Off };

struct Account {
  std::string name;
  std::string password;
};

// Splits "NAME:PASSWORD" at the first colon; the password may be empty, the name may not.
std::optional<Account> ParseAccount(std::string_view text);

struct LockerOptions {
  std::string host = "127.0.0.1";
  int port = 8480;               // 0 picks a free port
  std::filesystem::path dataDir; // empty: a temporary folder, removed at shutdown
  std::vector<Account> users;
  std::optional<Version> minVersion;
  // The fault and statistics interface under /_control/. Auto: on when bound to a loopback address.
  ControlAccess control = ControlAccess::Auto;
  std::uint64_t maxUploadBytes = std::uint64_t{4} << 30;
  bool logRequests = false; // one line per request on stderr
  int threads = 32;         // stalled requests hold a thread each
};

bool IsLoopbackHost(std::string_view host);

} // namespace velmora::locker

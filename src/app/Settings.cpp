#include "app/Settings.h"

#include "base/AtomicFile.h"
#include "base/IniFile.h"
#include "base/TransferRate.h"
#include "service/TransferLanes.h"

#include <algorithm>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace velmora {
namespace {

constexpr const char* kSection = "Velmora Online";
constexpr const char* kWatchedFolderKey = "WatchedFolder";
constexpr unsigned long long kMaxStoredRetries = 100;

// Whether `file` is already a private regular file holding exactly `text`. Every program stores
// the settings when it ends; when nothing changed, writing them again would only cost a sync of
// the disk (tens of milliseconds, more than a whole command may take).
bool AlreadyStored(const std::filesystem::path& file, const std::string& text) {
  struct stat facts {};
  if (::lstat(file.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode) || (facts.st_mode & 07777) != 0600) return false;
  if (facts.st_size != static_cast<off_t>(text.size())) return false;
  std::ifstream in(file, std::ios::binary);
  std::string stored(text.size(), '\0');
  return in.read(stored.data(), static_cast<std::streamsize>(stored.size())) && stored == text;
}

bool NeedsEscape(unsigned char c, bool atEdge) {
  return c < 0x20 || c == 0x7f || c == '%' || c == ';' || c == '#' || c == '=' || c == '[' || c == ']' ||
         (atEdge && c == ' ');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int ParseStoredRetries(const std::string& text) {
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size()) return 0;
  if (error == std::errc::result_out_of_range || value > kMaxStoredRetries) return kMaxStoredRetries;
  return error == std::errc() ? static_cast<int>(value) : 0;
}

int ParseStoredTransfers(const std::string& text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size() || error == std::errc::invalid_argument) return kMinTransfers;
  if (error == std::errc::result_out_of_range) return text[0] == '-' ? kMinTransfers : kMaxTransfers;
  return static_cast<int>(std::clamp<long long>(value, kMinTransfers, kMaxTransfers));
}

int OnIniValue(void* user, const char* section, const char* name, const char* value) {
  auto* settings = static_cast<StoredSettings*>(user);
  if (std::strcmp(section, kSection) != 0) return 1;
  const std::string text = UnescapeIniValue(value);
  if (std::strcmp(name, "username") == 0) settings->userName = text;
  else if (std::strcmp(name, "password") == 0) settings->password = text;
  else if (std::strcmp(name, "WinampLocation") == 0) settings->winampLocation = text;
  else if (std::strcmp(name, "RestorePath") == 0) settings->restorePath = text;
  else if (std::strcmp(name, "LimitRate") == 0) {
    const ParsedRateTimetable rate = ParseRateTimetable(text);
    settings->rateLimit = rate.timetable.value_or(RateTimetable());
    settings->unreadableRateLimit = rate.timetable ? std::string() : text;
  } else if (std::strcmp(name, "Retries") == 0) settings->retries = ParseStoredRetries(text);
  else if (std::strcmp(name, "Transfers") == 0) settings->transfers = ParseStoredTransfers(text);
  else if (std::strncmp(name, kWatchedFolderKey, std::strlen(kWatchedFolderKey)) == 0 && !text.empty())
    settings->watchedFolders.push_back(text);
  return 1;
}

} // namespace

std::filesystem::path ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".config";
  return std::filesystem::current_path() / ".config";
}

std::filesystem::path SettingsFilePath() { return ConfigHome() / "velmora-online" / "settings.ini"; }

std::string EscapeIniValue(const std::string& value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (NeedsEscape(c, i == 0 || i + 1 == value.size())) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string UnescapeIniValue(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

StoredSettings LoadSettings(const std::filesystem::path& file) {
  StoredSettings settings;
  // A missing file reads as empty values; an unreadable line costs only its own value.
  ParseIniFile(file, OnIniValue, &settings);
  return settings;
}

void SaveSettings(const StoredSettings& settings, const std::filesystem::path& file) {
  std::string text = std::string("[") + kSection + "]\n";
  text += "username=" + EscapeIniValue(settings.userName) + "\n";
  text += "password=" + EscapeIniValue(settings.password) + "\n";
  text += "WinampLocation=" + EscapeIniValue(settings.winampLocation) + "\n";
  text += "RestorePath=" + EscapeIniValue(settings.restorePath) + "\n";
  text += "LimitRate=" +
          (settings.unreadableRateLimit.empty() ? settings.rateLimit.Text()
                                                : EscapeIniValue(settings.unreadableRateLimit)) +
          "\n";
  text += "Retries=" + std::to_string(settings.retries) + "\n";
  text += "Transfers=" + std::to_string(settings.transfers) + "\n";
  for (std::size_t i = 0; i < settings.watchedFolders.size(); ++i) {
    text += kWatchedFolderKey + std::to_string(i + 1) + "=" + EscapeIniValue(settings.watchedFolders[i]) + "\n";
  }
  if (AlreadyStored(file, text)) return;
  WriteFileAtomically(file, text, 0600, 0700);
}

} // namespace velmora

#pragma once
// The values kept between runs, in a per-user INI file readable by its owner only.

#include "base/RateTimetable.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

struct StoredSettings {
  std::string userName;
  std::string password;
  std::string winampLocation;
  std::string restorePath;
  // Speed limit of transfers: bytes per second (0 for none) or a timetable by time of day; key
  // "LimitRate", written as curl writes rates ("1M") or as "08:00,512K 23:00,off". Versions
  // without it ignore the key; an unreadable value reads as no limit.
  RateTimetable rateLimit{};
  // The window's watched folders, one key each (WatchedFolder1, WatchedFolder2, ...): a version
  // without watched folders reads past them.
  std::vector<std::string> watchedFolders{};
  // Times a request that failed for a transient reason is sent again; key "Retries", 0 to 100.
  // Versions without it ignore the key; a value that is not a number reads as 0, one above 100 as 100.
  int retries = 0;
  // The "LimitRate" text when it is no rate or timetable ("1.5M", "-5", "25:00,1M"): kept as it stands, so saving the
  // settings again does not replace what the user wrote with "0". Empty when the value reads.
  std::string unreadableRateLimit{};
  // Queue items or downloads in transfer at once; key "Transfers", 1 to 16. Versions without it
  // ignore the key; a value that is not a number reads as 1, one below 1 as 1, above 16 as 16.
  int transfers = 1;
  bool operator==(const StoredSettings&) const = default;
};

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();
// $XDG_CONFIG_HOME/velmora-online/settings.ini, with ~/.config when the variable is unset.
std::filesystem::path SettingsFilePath();

// A missing file or a missing value reads as empty text. Values of any length are read whole; a
// line that cannot be parsed is skipped and the other values still count.
StoredSettings LoadSettings(const std::filesystem::path& file = SettingsFilePath());
// Writes all values atomically with mode 0600; throws std::runtime_error on failure.
void SaveSettings(const StoredSettings& settings, const std::filesystem::path& file = SettingsFilePath());

// Values are escaped so that any text, blanks and line breaks included, reads back unchanged.
std::string EscapeIniValue(const std::string& value);
std::string UnescapeIniValue(const std::string& value);

} // namespace velmora

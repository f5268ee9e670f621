#pragma once
// Winamp runs under Wine on this platform. Its registry lives in the prefix's user.reg, and the
// Windows paths it writes (drive letter, backslashes) name files through the prefix's dosdevices.

#include <filesystem>
#include <optional>
#include <string>

namespace velmora::wine {

// $WINEPREFIX, else ~/.wine.
std::filesystem::path DefaultPrefix();

// The default value of `key` (e.g. "Software\\Winamp", one backslash per level) in the prefix's
// user.reg, with Wine's escapes undone; nothing when the key or its default value is missing.
std::optional<std::string> ReadUserRegistryDefault(const std::filesystem::path& prefix, const std::string& key);

// "C:\\Program Files\\Winamp" → "<prefix>/dosdevices/c:/Program Files/Winamp". Each component is
// matched without regard to case when the exact name does not exist, as Windows would. A path
// that is already absolute on this machine is returned as it is; other backslashes become "/".
std::string ToLocalPath(const std::filesystem::path& prefix, const std::string& path);

// Whether the text looks like a Windows path with a drive letter ("C:\..." or "C:/...").
bool IsWindowsDrivePath(const std::string& path);

// Winamp's playlists file, when the prefix holds a Winamp installation: the registry's install
// folder + "\\Plugins\\ml\\playlists.xml", mapped to this machine, if "winamp.exe" is there.
std::optional<std::string> DetectWinampPlaylistsFile(const std::filesystem::path& prefix = DefaultPrefix());

} // namespace velmora::wine

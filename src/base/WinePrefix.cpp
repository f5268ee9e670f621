#include "base/WinePrefix.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace velmora::wine {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Undoes the escapes Wine writes in registry strings: \\ \" \n \r \t \0 and \xHHHH.
std::string UnescapeRegistryString(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    switch (next) {
    case 'n': out += '\n'; break;
    case 'r': out += '\r'; break;
    case 't': out += '\t'; break;
    case '0': out += '\0'; break;
    case 'x': {
      unsigned code = 0;
      std::size_t digits = 0;
      while (digits < 4 && i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
        code = code * 16 + static_cast<unsigned>(std::stoi(std::string(1, text[++i]), nullptr, 16));
        ++digits;
      }
      AppendUtf8(out, code);
      break;
    }
    default: out += next; break;
    }
  }
  return out;
}

// The section name of a key as user.reg writes it: every backslash doubled.
std::string SectionName(const std::string& key) {
  std::string section;
  for (char c : key) section += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "[" + section + "]";
}

// The entry of `folder` whose name equals `name`, exactly or else ignoring case.
std::filesystem::path FindEntry(const std::filesystem::path& folder, const std::string& name) {
  std::error_code error;
  const auto exact = folder / name;
  if (std::filesystem::exists(exact, error)) return exact;
  const std::string wanted = Lower(name);
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (Lower(entry.path().filename().string()) == wanted) return entry.path();
  }
  return exact;
}

} // namespace

std::filesystem::path DefaultPrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "") / ".wine";
}

std::optional<std::string> ReadUserRegistryDefault(const std::filesystem::path& prefix, const std::string& key) {
  std::ifstream in(prefix / "user.reg", std::ios::binary);
  if (!in) return std::nullopt;
  const std::string wanted = Lower(SectionName(key));
  std::string line;
  bool inKey = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      // "[Software\\Winamp] 1700000000": the name ends at the first "]" after the opening one.
      const auto end = line.find("] ");
      const std::string section = end == std::string::npos ? line : line.substr(0, end + 1);
      inKey = Lower(section) == wanted;
      continue;
    }
    if (inKey && line.rfind("@=\"", 0) == 0 && line.size() >= 4 && line.back() == '"') {
      return UnescapeRegistryString(line.substr(3, line.size() - 4));
    }
  }
  return std::nullopt;
}

bool IsWindowsDrivePath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

std::string ToLocalPath(const std::filesystem::path& prefix, const std::string& path) {
  if (!IsWindowsDrivePath(path)) {
    if (!path.empty() && path[0] == '/') return path;
    std::string local = path;
    std::replace(local.begin(), local.end(), '\\', '/');
    return local;
  }
  std::filesystem::path local = prefix / "dosdevices" / (Lower(path.substr(0, 1)) + ":");
  std::string component;
  auto flush = [&] {
    if (!component.empty()) local = FindEntry(local, component);
    component.clear();
  };
  for (std::size_t i = 3; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == '/') flush();
    else component += path[i];
  }
  flush();
  return local.string();
}

std::optional<std::string> DetectWinampPlaylistsFile(const std::filesystem::path& prefix) {
  const auto folder = ReadUserRegistryDefault(prefix, "Software\\Winamp");
  if (!folder) return std::nullopt;
  std::error_code error;
  if (!std::filesystem::is_regular_file(ToLocalPath(prefix, *folder + "\\winamp.exe"), error)) {
    return std::nullopt;
  }
  return ToLocalPath(prefix, *folder + "\\Plugins\\ml\\playlists.xml");
}

} // namespace velmora::wine

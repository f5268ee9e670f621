#include "sources/WinampSource.h"
#include "base/Text.h"

#include "base/FileFacts.h"
#include "base/ShowStatus.h"
#include "base/WinePrefix.h"
#include "sources/FileMetadata.h"
#include "sources/PlaylistReader.h"
#include "tags/TextCodec.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmora {
namespace {

std::filesystem::path Prefix(const WinampTab& tab) {
  return tab.winePrefix.empty() ? wine::DefaultPrefix() : tab.winePrefix;
}

// Playlist files are 8-bit text in Winamp's code page unless they are already UTF-8.
std::string AsUtf8(const std::string& line) {
  if (IsWellFormedUtf8(line)) return line;
  return Windows1252ToUtf8(reinterpret_cast<const unsigned char*>(line.data()), line.size());
}

// Where an entry names a file on this machine: Windows paths through the Wine prefix, relative
// paths against the folder of the playlist file that lists them.
std::string LocalEntryPath(const WinampTab& tab, const std::string& entry, const std::filesystem::path& listFolder) {
  if (wine::IsWindowsDrivePath(entry)) return wine::ToLocalPath(Prefix(tab), entry);
  std::string path = entry;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!path.empty() && path[0] != '/') path = (listFolder / path).string();
  return path;
}

std::int32_t SongCount(const std::string& songs, const std::string& title) {
  std::size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(songs, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (songs.empty() || used != songs.size() || value < INT32_MIN || value > INT32_MAX) {
    throw std::runtime_error("'" + songs + "' is not a valid song count (playlist \"" + title + "\")");
  }
  return static_cast<std::int32_t>(value);
}

// Lines end at CR, LF or CR LF alike.
std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read the playlist file " + path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw std::runtime_error("Cannot read the playlist file " + path);
  std::vector<std::string> lines = PlaylistReader::SplitLines(content.str());
  for (std::string& line : lines) line = AsUtf8(line);
  return lines;
}

void Changed(Ui& ui) { ui.ViewChanged(View::WinampPlaylists); }

} // namespace

std::optional<std::string> DetectWinampPlaylistsFile(const WinampTab& tab) {
  return wine::DetectWinampPlaylistsFile(Prefix(tab));
}

void ScanWinampPlaylists(WinampTab& tab, Collection& found, const SourceTools& tools, const std::string& path,
                         const std::string& folder) {
  found.Clear();
  tab.locations.Clear();

  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_file(path.c_str());
  if (!parsed) {
    throw std::runtime_error("The Winamp playlists file " + path + " cannot be read: " + parsed.description() +
                             " (at byte " + std::to_string(parsed.offset) + ")");
  }
  for (const pugi::xpath_node& selected : document.document_element().select_nodes("//playlists/playlist")) {
    const pugi::xml_node node = selected.node();
    const pugi::xml_attribute filename = node.attribute("filename");
    const pugi::xml_attribute title = node.attribute("title");
    const pugi::xml_attribute songs = node.attribute("songs");
    if (!filename || !title || !songs) continue; // an incomplete entry names no playlist
    if (std::string(songs.value()) == "0") continue;
    const std::string file = LocalEntryPath(tab, filename.value(), folder);
    if (!IsRegularFile(file)) continue;
    found.playlists.push_back(Playlist{title.value(), file, SongCount(songs.value(), title.value()), {}, {}});
  }

  tab.rows.clear();
  Changed(tools.ui);
  for (Playlist& playlist : found.playlists) {
    ShowStatus(tools.ui, "Scanning playlist " + playlist.Name);
    playlist.Locations.clear();
    tab.rows.push_back({playlist.Name, std::to_string(playlist.ItemCount), {}, true});
    const std::filesystem::path listFolder = std::filesystem::path(playlist.FilePath).parent_path();
    std::vector<std::string> lines, locals;
    for (std::string& line : ReadLines(playlist.FilePath)) {
      std::string local = LocalEntryPath(tab, line, listFolder);
      if (!IsRegularFile(local) || LowerExtension(local) != ".mp3") continue;
      lines.push_back(std::move(line));
      locals.push_back(std::move(local));
    }
    const HashAheadScope ahead = tools.fingerprinter.HashAhead(locals);
    for (std::size_t i = 0; i < locals.size(); ++i) {
      const std::string& line = lines[i];
      const std::string& local = locals[i];
      playlist.Locations.push_back(line);
      MediaItem item = ReadFileMetadata(local, tools.tagReaders, tools.ui);
      item.HashValue = tools.fingerprinter.FileFingerprint(local);
      tab.locations.Append(line, item.HashValue);
      playlist.HashValues.push_back(item.HashValue);
      found.items.push_back(std::move(item));
    }
    tab.rows.back().hashValues = playlist.HashValues;
    Changed(tools.ui);
  }
  tab.itemsFound = std::to_string(found.items.size());
  Changed(tools.ui);
}

} // namespace velmora

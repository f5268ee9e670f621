#include "sources/WinampSource.h"

#include "app/Engine.h"
#include "platform/WinePrefix.h"
#include "sources/FileMetadata.h"
#include "sources/MediaLibraryFile.h"
#include "sources/PlaylistReader.h"
#include "tags/TextCodec.h"
#include "upload/DuplicateCheck.h"
#include "upload/PlaylistFile.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmora {
namespace {

std::filesystem::path Prefix(const Engine& engine) {
  return engine.Winamp.winePrefix.empty() ? wine::DefaultPrefix() : engine.Winamp.winePrefix;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Playlist files are 8-bit text in Winamp's code page unless they are already UTF-8.
std::string AsUtf8(const std::string& line) {
  if (IsWellFormedUtf8(line)) return line;
  return Windows1252ToUtf8(reinterpret_cast<const unsigned char*>(line.data()), line.size());
}

// Where an entry names a file on this machine: Windows paths through the Wine prefix, relative
// paths against the folder of the playlist file that lists them.
std::string LocalEntryPath(const Engine& engine, const std::string& entry, const std::filesystem::path& listFolder) {
  if (wine::IsWindowsDrivePath(entry)) return wine::ToLocalPath(Prefix(engine), entry);
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

void Changed(Engine& engine) { engine.ui().ViewChanged(View::WinampPlaylists); }

} // namespace

void DetectWinampPlaylistsFile(Engine& engine) {
  if (const auto file = wine::DetectWinampPlaylistsFile(Prefix(engine))) {
    engine.winampLocationBox = *file;
    engine.ui().ViewChanged(View::Settings);
  }
}

void ScanWinampPlaylists(Engine& engine, const std::string& path, const std::string& folder) {
  WinampTab& tab = engine.Winamp;
  engine.MediaItems.clear();
  engine.Playlists.clear();
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
    const std::string file = LocalEntryPath(engine, filename.value(), folder);
    if (!IsRegularFile(file)) continue;
    engine.Playlists.push_back(TPlaylist{title.value(), file, SongCount(songs.value(), title.value()), {}, {}});
  }

  tab.rows.clear();
  Changed(engine);
  for (TPlaylist& playlist : engine.Playlists) {
    engine.ShowStatus("Scanning playlist " + playlist.Name);
    playlist.Locations.clear();
    tab.rows.push_back({playlist.Name, std::to_string(playlist.ItemCount), "", true});
    const std::filesystem::path listFolder = std::filesystem::path(playlist.FilePath).parent_path();
    for (const std::string& line : ReadLines(playlist.FilePath)) {
      const std::string local = LocalEntryPath(engine, line, listFolder);
      if (!IsRegularFile(local) || Lower(std::filesystem::path(local).extension().string()) != ".mp3") continue;
      playlist.Locations.push_back(line);
      TMediaItem item = ReadFileMetadata(local, engine.tagReaders(), engine.ui());
      item.HashValue = engine.FileFingerprint(local);
      tab.locations.Append(line, item.HashValue);
      playlist.HashValues.push_back(item.HashValue);
      engine.MediaItems.push_back(std::move(item));
    }
    std::string text;
    for (const auto& hash : playlist.HashValues) text += hash + "\r\n";
    tab.rows.back().hashValues = text;
    Changed(engine);
  }
  tab.itemsFound = std::to_string(engine.MediaItems.size());
  Changed(engine);
}

void AnalyzeWinampData(Engine& engine) {
  if (!engine.IsLoggedIn()) {
    engine.ui().ShowMessage("Please log in.");
    return;
  }
  UploadPipeline& upload = engine.Upload;
  const ActivityScope activity = engine.BeginActivity(Activity::Analysing);
  if (!activity) return;
  engine.Winamp.rows.clear();
  Changed(engine);
  const std::string path = engine.winampLocationBox;
  if (!IsRegularFile(path)) {
    engine.ui().ShowMessage("Please select a valid playlist.xml file");
    return;
  }
  upload.ClearUploadQueue();
  ScanWinampPlaylists(engine, path, std::filesystem::path(path).parent_path().string());
  upload.CurrentMediaLibraryFile = WriteMediaLibraryFile(engine.MediaItems, kSourceWinamp, engine.ui());
  const LocationTable& table = engine.Winamp.locations;
  upload.CurrentPlaylistFile = WritePlaylistFile(engine.Playlists, kSourceWinamp, engine,
                                                 [&table](const std::string& location) { return table.HashIdOf(location); });
  upload.CurrentHashListFile = WriteHashListFile(engine.MediaItems, kSourceWinamp);
  CheckDuplicatesOnline(engine, upload.CurrentHashListFile);
}

bool StartWinampUpload(Engine& engine) {
  const ActivityScope activity = engine.BeginActivity(Activity::BuildingQueue);
  if (!activity) return false;
  std::vector<std::string> filter;
  for (const auto& row : engine.Winamp.rows) {
    if (row.checked) filter.push_back(row.hashValues);
  }
  // With no row checked the filter stays empty and every eligible item is queued.
  return engine.Upload.BuildUploadQueue(kSourceWinamp, filter);
}

} // namespace velmora

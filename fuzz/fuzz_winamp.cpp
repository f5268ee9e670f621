// Fuzzes the Winamp reader: the input up to its first zero byte is the playlists file, the rest
// is the playlist file "a.m3u" beside it (a file "song.mp3" is there too, and drive C: of the
// Wine prefix is that folder). Any bytes give a clear error or a consistent collection.

#include "FuzzHome.h"
#include "sources/WinampSource.h"

#include <cstring>
#include <stdexcept>

using namespace velmora;

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    const auto path = fuzz::Files() / "winamp";
    std::filesystem::create_directories(path);
    // An MPEG frame header and an ID3v1 tag: enough for the readers to have something to read.
    std::string song(4096, '\0');
    song.replace(0, 4, "\xFF\xFB\x90\x64", 4);
    song += std::string("TAG") + std::string(125, 'x');
    std::ofstream(path / "song.mp3", std::ios::binary) << song;
    const auto devices = fuzz::Home() / "wine" / "dosdevices";
    std::filesystem::create_directories(devices);
    std::filesystem::create_directory_symlink(path, devices / "c:");
    return path;
  }();
  return folder;
}

bool IsHashId(const std::string& text) {
  if (text == "invalidhashvalue") return true;
  if (text.size() != 40) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& folder = Folder();
  Engine& engine = fuzz::StartedEngine();
  engine.SetWinampPrefix(fuzz::Home() / "wine");
  const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  const std::size_t xmlSize = zero ? static_cast<std::size_t>(zero - data) : size;
  const std::string xml = fuzz::WriteInput("winamp/playlists.xml", data, xmlSize);
  fuzz::WriteInput("winamp/a.m3u", zero ? zero + 1 : data + size, zero ? size - xmlSize - 1 : 0);
  try {
    engine.ScanWinampPlaylists(xml, folder.string());
  } catch (const std::runtime_error&) {
    return 0; // a clear error about the file: what the user sees
  }
  fuzz::Check(engine.winamp().rows.size() == engine.collection().playlists.size());
  std::size_t taken = 0;
  for (const Playlist& playlist : engine.collection().playlists) {
    fuzz::Check(playlist.HashValues.size() == playlist.Locations.size());
    taken += playlist.HashValues.size();
  }
  fuzz::Check(taken == engine.collection().items.size());
  fuzz::Check(engine.winamp().itemsFound == std::to_string(engine.collection().items.size()));
  for (const MediaItem& item : engine.collection().items) fuzz::Check(IsHashId(item.HashValue));
  return 0;
}

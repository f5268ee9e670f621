#include "restore/RestoredPlaylist.h"

#include "tags/Id3v2Reader.h"
#include "tags/MpegReader.h"
#include "tags/TagStream.h"

namespace velmora {

std::string ExtendedM3uText(const std::vector<PlaylistFileEntry>& entries) {
  std::string text = "#EXTM3U\n";
  for (const PlaylistFileEntry& entry : entries) {
    if (entry.path.empty() || entry.path.find_first_of("\r\n") != std::string::npos) continue;
    std::string title = entry.title;
    for (char& c : title) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    text += "#EXTINF:" + std::to_string(entry.seconds < 0 ? -1 : entry.seconds) + "," + title + "\n";
    text += (entry.path.front() == '#' ? "./" : "") + entry.path + "\n";
  }
  return text;
}

std::int64_t PlayingSeconds(const std::filesystem::path& file) {
  try {
    FileTagStream stream(file.string());
    Id3v2Reader tag;
    if (tag.ReadTag(stream) == TagResult::Failed) return -1;
    stream.Seek(tag.TagPresent() ? tag.TagSize() : 0);
    MpegReader mpeg;
    if (mpeg.ReadInfo(stream) != TagResult::Ok || !mpeg.Valid()) return -1;
    return mpeg.Duration();
  } catch (const std::exception&) {
    return -1;
  }
}

} // namespace velmora

#include "sources/TagLibReader.h"

#include "tags/TextCodec.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace velmora {
namespace {

std::string Utf8(const TagLib::String& text) { return TrimControl(text.to8Bit(true)); }

std::string Number(unsigned int value) { return value == 0 ? std::string() : std::to_string(value); }

} // namespace

bool ReadsThroughTagLib(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".m4a" || ext == ".ogg" || ext == ".wma";
}

void FillFromTagLib(const std::string& path, MediaItem& item) {
  try {
    const TagLib::FileRef file(path.c_str(), true, TagLib::AudioProperties::Average);
    if (file.isNull()) return;
    if (const TagLib::Tag* tag = file.tag()) {
      item.Artist = Utf8(tag->artist());
      item.Name = Utf8(tag->title());
      item.Album = Utf8(tag->album());
      item.Genre = Utf8(tag->genre());
      item.Year = Number(tag->year());
      // A tag without a track number gives "0", as the ID3v1 reader gives for its tags; a file
      // without any tag leaves it empty, as the MP3 readers do.
      item.TrackNo = tag->track() == 0 && !tag->isEmpty() ? "0" : Number(tag->track());
    }
    if (const TagLib::AudioProperties* audio = file.audioProperties()) {
      item.Length = audio->lengthInSeconds();
      item.Bitrate = audio->bitrate();
      item.SampleRate = audio->sampleRate();
    }
  } catch (...) {
    // Whatever TagLib meets in a damaged file, the item is described without it.
  }
}

} // namespace velmora

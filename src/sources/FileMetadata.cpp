#include "sources/FileMetadata.h"

#include "model/MediaLibraryFile.h"
#include "sources/TagLibReader.h"

namespace velmora {

MediaItem ReadFileMetadata(const std::string& path, TagReaders& readers, Ui& ui) {
  MediaItem item;
  if (ReadsThroughTagLib(path)) {
    item.Size = FileTagStream(path).Size(); // an unopenable file throws here as an MP3 does
    item.Location = path;
    FillFromTagLib(path, item);
    return item;
  }
  bool hasID3v2 = false, mpegValid = false, hasID3v1 = false;
  {
    FileTagStream stream(path);
    item.Size = stream.Size(); // taken when it opened: no second look at the file
    auto report = [&](TagResult result, const std::string& text) {
      if (result == TagResult::Failed) ui.ShowErrorMessage(text);
    };
    report(readers.id3v2.ReadTag(stream), readers.id3v2.ErrorText());
    hasID3v2 = readers.id3v2.TagPresent();
    stream.Seek(hasID3v2 ? readers.id3v2.TagSize() : 0);
    report(readers.mpeg.ReadInfo(stream), readers.mpeg.ErrorText());
    mpegValid = readers.mpeg.Valid();
    report(readers.id3v1.ReadTag(stream), readers.id3v1.ErrorText());
    hasID3v1 = readers.id3v1.TagPresent();
  }

  item.Location = path;
  if (mpegValid) {
    item.Bitrate = readers.mpeg.Bitrate();
    item.SampleRate = readers.mpeg.SampleRate();
    item.Length = readers.mpeg.Duration();
  }
  if (hasID3v1) {
    const Id3v1Reader& tag = readers.id3v1;
    item.Artist = tag.Artist();
    item.Album = tag.Album();
    item.Name = tag.Title();
    item.Year = tag.Year();
    item.TrackNo = tag.Track();
    item.Genre = tag.Genre();
  }
  if (hasID3v2) {
    const Id3v2Reader& tag = readers.id3v2;
    item.Artist = tag.Artist();
    item.Album = tag.Album();
    item.Name = tag.Title();
    item.Year = tag.Year();
    item.TrackNo = tag.Track();
    item.Genre = tag.Genre();
  }
  return item;
}

} // namespace velmora

#include "sources/FileMetadata.h"

#include "model/MediaLibraryFile.h"
#include "sources/TagLibReader.h"
#include "tags/MpegReader.h"

namespace velmora {
namespace {

// An ID3v2 tag or an MPEG audio frame header in the first bytes.
bool StartsAsMp3(TagStream& stream) {
  unsigned char head[4] = {};
  if (stream.ReadAt(0, head, sizeof head) < sizeof head) return false;
  return (head[0] == 'I' && head[1] == 'D' && head[2] == '3') || ParseMpegFrameHeader(head).valid;
}

} // namespace

MediaItem ReadFileMetadata(const std::string& path, TagReaders& readers, Ui& ui) {
  MediaItem item;
  bool hasID3v2 = false, mpegValid = false, hasID3v1 = false;
  {
    FileTagStream stream(path); // an unopenable file throws here, whatever its type
    item.Size = stream.Size();  // taken when it opened: no second look at the file
    // The content decides, not the name: an MP3 named .wma or .m4a is described as an MP3.
    if (ReadsThroughTagLib(path) && !StartsAsMp3(stream)) {
      item.Location = path;
      FillFromTagLib(path, item);
      return item;
    }
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

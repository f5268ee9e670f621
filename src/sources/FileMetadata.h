#pragma once
// Describes one audio file as a media item: an MP3 from its ID3 tags and MPEG frames, an .m4a,
// .ogg or .wma file through TagLib.

#include "base/Ui.h"
#include "model/MediaItem.h"
#include "tags/TagReaders.h"

#include <string>

namespace velmora {

// Reads the ID3v2 tag, the MPEG information from the end of that tag, then the ID3v1 tag, and
// fills Location, Size, Bitrate, SampleRate, Length and the six tag fields (ID3v2 values replace
// ID3v1 values wholesale). HashValue is left to the caller. A reader that meets a stream error has
// its text shown with ui.ShowErrorMessage and the item keeps what was read. Throws
// std::system_error naming the file when it cannot be opened. An .m4a, .ogg or .wma file gets
// Location, Size and the fields FillFromTagLib sets instead; its unreadable content is no error.
// Such a file that begins with an ID3v2 tag or an MPEG audio frame is an MP3 whatever its name,
// and is read as one.
MediaItem ReadFileMetadata(const std::string& path, TagReaders& readers, Ui& ui);

} // namespace velmora

#pragma once
// Tags and audio properties of the formats the ID3 and MPEG readers do not cover (.m4a, .ogg,
// .wma), read through TagLib. TagLib stays inside this file pair: nothing above sees its headers.

#include "model/MediaItem.h"

#include <string>

namespace velmora {

// Whether the file's lower-cased extension is one TagLib describes for us: ".m4a", ".ogg", ".wma".
bool ReadsThroughTagLib(const std::string& path);

// Sets Artist, Name, Album, Genre, Year, TrackNo, Length (whole seconds), Bitrate (kbit/s) and
// SampleRate (Hz) of `item` from what TagLib finds in the file, in the same text forms the MP3
// readers give: decimal numbers, a year of 0 left empty, a track number of 0 written "0" when the
// file has a tag (as the ID3v1 reader writes a tag without one) and left empty when it has none,
// the audio fields left empty when TagLib finds no audio stream. A file TagLib cannot read leaves the item as it is;
// nothing is thrown.
void FillFromTagLib(const std::string& path, MediaItem& item);

} // namespace velmora

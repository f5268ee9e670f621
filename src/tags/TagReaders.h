#pragma once
// The three readers one program run shares for every file it describes.

#include "tags/Id3v1Reader.h"
#include "tags/Id3v2Reader.h"
#include "tags/MpegReader.h"

namespace velmora {

struct TagReaders {
  Id3v1Reader id3v1;
  Id3v2Reader id3v2;
  MpegReader mpeg;
};

} // namespace velmora

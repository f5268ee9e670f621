#pragma once
// The three readers one program run shares for every file it describes.

#include "tags/ID3v1Tag.h"
#include "tags/ID3v2Tag.h"
#include "tags/MpegInfo.h"

namespace velmora {

struct TagReaders {
  TID3v1Tag id3v1;
  TID3v2Tag id3v2;
  TMpegInfo mpeg;
};

} // namespace velmora

#pragma once
// Finds the first MPEG audio frame of an MP3 file and derives bit rate, sample rate and playing
// time from it, using the Xing frame count of variable-bitrate files.

#include "tags/TagResult.h"
#include "tags/TagStream.h"

#include <cstdint>
#include <string>

namespace velmora {

struct MpegFrameHeader {
  int version = 0;    // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
  int layer = 0;      // 1, 2 or 3
  int bitrate = 0;    // kbit/s; 0 for free format
  int sampleRate = 0; // Hz
  int padding = 0;
  int channelMode = 0;           // 3 = single channel
  std::uint16_t frameLength = 0; // bytes, header included
  bool valid = false;
};

// The fields of the 4 header bytes at `b`.
MpegFrameHeader ParseMpegFrameHeader(const unsigned char* b);

class MpegReader {
public:
  // Searches from the stream's position to its end for the first frame that two more frames
  // follow without gap. TagResult::Ok, or TagResult::NoFrame when none is found; TagResult::Failed with ErrorText() set
  // when the stream reported an error. Every read is bounded by the size the stream had when opened; the stream's
  // position afterwards is not defined.
  TagResult ReadInfo(TagStream& stream);

  bool Valid() const { return valid_; }
  // Use the values only when Valid(): a read that accepts no frame does not reset them.
  std::uint16_t Bitrate() const { return bitrate_; } // kbit/s; the average of a Xing file
  std::int32_t SampleRate() const { return sampleRate_; }
  std::int64_t Duration() const { return duration_; } // whole seconds
  std::int64_t FileSize() const { return fileSize_; }
  const std::string& ErrorText() const { return errorText_; }

private:
  TagResult Search(TagStream& stream);
  bool Measure(const MpegFrameHeader& first, std::int64_t position, bool hasXing, std::uint32_t frames);

  bool valid_ = false;
  std::uint16_t bitrate_ = 0;
  std::int32_t sampleRate_ = 0;
  std::int64_t duration_ = 0;
  std::int64_t fileSize_ = 0;
  std::string errorText_;
};

} // namespace velmora

#include "tags/MpegReader.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace velmora {
namespace {

// kbit/s by bit rate index: MPEG-1 Layers I, II, III; MPEG-2/2.5 Layer I; MPEG-2/2.5 Layers II and III.
constexpr int kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
};

constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, // MPEG-1
    {22050, 24000, 16000}, // MPEG-2
    {11025, 12000, 8000},  // MPEG-2.5
};

constexpr std::size_t kWindow = 512;

std::uint32_t BigEndian32(const unsigned char* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

// Where the Xing header would start inside the first frame.
int XingOffset(const MpegFrameHeader& h) {
  const bool mono = h.channelMode == 3;
  if (h.version == 1) return mono ? 21 : 36;
  return mono ? 13 : 21;
}

bool IsSync(const unsigned char* b) { return b[0] == 0xFF && b[1] >= 0xE0; }

} // namespace

MpegFrameHeader ParseMpegFrameHeader(const unsigned char* b) {
  MpegFrameHeader h;
  if (!IsSync(b)) return h;
  switch ((b[1] >> 3) & 3) {
  case 0: h.version = 3; break;
  case 2: h.version = 2; break;
  case 3: h.version = 1; break;
  default: return h;
  }
  switch ((b[1] >> 1) & 3) {
  case 1: h.layer = 3; break;
  case 2: h.layer = 2; break;
  case 3: h.layer = 1; break;
  default: return h;
  }
  const int bitrateIndex = b[2] >> 4;
  if (bitrateIndex == 15) return h;
  const int table = h.version == 1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
  h.bitrate = kBitrates[table][bitrateIndex];
  const int sampleRateIndex = (b[2] >> 2) & 3;
  if (sampleRateIndex == 3) return h;
  h.sampleRate = kSampleRates[h.version - 1][sampleRateIndex];
  h.padding = (b[2] >> 1) & 1;
  h.channelMode = b[3] >> 6;

  const bool mono = h.channelMode == 3;
  if (h.layer == 2) {
    const int r = h.bitrate;
    if (!mono && (r == 32 || r == 48 || r == 56 || r == 80)) return h;
    if (mono && (r == 224 || r == 256 || r == 320 || r == 384)) return h;
  }

  long length;
  if (h.layer == 1) length = 4L * (12L * h.bitrate * 1000 / h.sampleRate + h.padding);
  else if (h.version == 1) length = 144000L * h.bitrate / h.sampleRate + h.padding;
  else length = 72000L * h.bitrate / h.sampleRate + h.padding;
  h.frameLength = static_cast<std::uint16_t>(length);
  h.valid = h.frameLength != 0;
  return h;
}

bool MpegReader::Measure(const MpegFrameHeader& first, std::int64_t position, bool hasXing, std::uint32_t frames) {
  std::int64_t audioBytes;
  std::uint16_t bitrate;
  if (hasXing) {
    if (frames == 0) return false;
    audioBytes = fileSize_ - position - first.frameLength;
    const double k = first.version == 1 ? 144.0 : 72.0;
    const double average = (first.sampleRate / 1000.0) * static_cast<double>(audioBytes) / (frames * k);
    if (!(average >= 1.0)) return false; // also a negative or not-a-number average
    bitrate = static_cast<std::uint16_t>(static_cast<std::uint64_t>(average));
  } else {
    audioBytes = fileSize_ - position;
    bitrate = static_cast<std::uint16_t>(first.bitrate);
  }
  if (bitrate == 0) return false;
  bitrate_ = bitrate;
  sampleRate_ = first.sampleRate;
  duration_ = audioBytes * 8 / (std::int64_t{bitrate} * 1000);
  return true;
}

TagResult MpegReader::ReadInfo(TagStream& stream) {
  valid_ = false;
  errorText_.clear();
  try {
    return Search(stream);
  } catch (const std::exception& error) {
    errorText_ = error.what();
    return TagResult::Failed;
  }
}

TagResult MpegReader::Search(TagStream& stream) {
  fileSize_ = stream.Size();
  const std::int64_t start = stream.Position();

  unsigned char window[kWindow];
  std::int64_t windowStart = start;
  std::size_t windowLength = stream.ReadAt(start, window, kWindow);
  const auto windowEnd = [&] { return windowStart + static_cast<std::int64_t>(windowLength); };
  // Bytes at `at`: from the window when it holds them, else read from the file.
  const auto bytesAt = [&](std::int64_t at, unsigned char* out, std::size_t count) {
    if (at >= windowStart && at + static_cast<std::int64_t>(count) <= windowEnd()) {
      std::memcpy(out, window + (at - windowStart), count);
      return true;
    }
    return stream.ReadAt(at, out, count) == count;
  };

  for (std::int64_t c = start; c + 3 < fileSize_; ++c) {
    if (c + 4 > windowEnd()) {
      // Refill from the candidate with as many bytes as the window held.
      windowStart = c;
      windowLength = stream.ReadAt(c, window, std::max<std::size_t>(windowLength, 4));
      if (windowLength < 4) break;
    }
    const unsigned char* b = window + (c - windowStart);
    if (b[0] != 0xFF) continue;
    const MpegFrameHeader first = ParseMpegFrameHeader(b);
    if (!first.valid) continue;
    const std::int64_t second = c + first.frameLength;
    if (second + 3 >= fileSize_) continue;

    unsigned char bytes[4];
    if (!bytesAt(second, bytes, 4)) continue;
    const MpegFrameHeader next = ParseMpegFrameHeader(bytes);
    if (!next.valid) continue;
    const std::int64_t third = second + next.frameLength;
    if (third + 3 >= fileSize_) continue;
    if (!bytesAt(third, bytes, 2) || !IsSync(bytes)) continue;

    // The Xing header counts only when the bytes at hand hold it whole: the window when it covers
    // the candidate frame and the next header, else the candidate frame and 4 bytes.
    const std::int64_t atHandEnd = second + 4 <= windowEnd() ? windowEnd() : second + 4;
    const std::int64_t xing = c + XingOffset(first);
    bool hasXing = false;
    std::uint32_t frames = 0;
    unsigned char header[12];
    if (xing + 12 <= atHandEnd && bytesAt(xing, header, sizeof header) && std::memcmp(header, "Xing", 4) == 0) {
      hasXing = true;
      if (BigEndian32(header + 4) & 1) frames = BigEndian32(header + 8);
    }
    if (!Measure(first, c, hasXing, frames)) continue;
    valid_ = true;
    return TagResult::Ok;
  }
  return TagResult::NoFrame;
}

} // namespace velmora

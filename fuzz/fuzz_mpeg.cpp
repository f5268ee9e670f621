// Fuzzes the MPEG frame search: the first two bytes choose where the search starts in the rest;
// memory and file reads agree and accepted values are sane.

#include "FuzzInput.h"
#include "tags/MpegReader.h"

using namespace velmora;

namespace {

struct Outcome {
  TagResult result;
  bool valid;
  std::uint16_t bitrate;
  std::int32_t sampleRate;
  std::int64_t duration;
  bool operator==(const Outcome&) const = default;
};

Outcome Read(TagStream& stream, std::int64_t start) {
  MpegReader info;
  stream.Seek(start);
  const TagResult result = info.ReadInfo(stream);
  Outcome o{result, info.Valid(), info.Bitrate(), info.SampleRate(), info.Duration()};
  fuzz::Check(result == TagResult::Ok || result == TagResult::NoFrame);
  fuzz::Check(o.valid == (result == TagResult::Ok));
  if (o.valid) {
    fuzz::Check(o.bitrate > 0 && o.sampleRate >= 8000 && o.sampleRate <= 48000);
    fuzz::Check(o.duration >= 0 && o.duration <= stream.Size());
  }
  return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int64_t start = (data[0] << 8 | data[1]) % 1024;
  data += 2;
  size -= 2;
  MemoryTagStream memory(data, size);
  const Outcome fromMemory = Read(memory, start);
  FileTagStream file(fuzz::InputFile(data, size));
  fuzz::Check(Read(file, start) == fromMemory);
  return 0;
}

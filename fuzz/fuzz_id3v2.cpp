// Fuzzes the ID3v2 reader: any bytes, read from memory and from a file, agree, stay within the
// input and give UTF-8 texts.

#include "FuzzInput.h"
#include "tags/Id3v2Reader.h"

using namespace velmora;

namespace {

struct Outcome {
  TagResult result;
  bool present;
  std::int64_t tagSize;
  std::size_t frames;
  std::string title, artist, album, year, track, genre;
  bool operator==(const Outcome&) const = default;
};

Outcome Read(TagStream& stream, std::size_t size) {
  Id3v2Reader tag;
  const TagResult result = tag.ReadTag(stream);
  Outcome o{result,       tag.TagPresent(), tag.TagSize(), tag.FrameCount(), tag.Title(),
            tag.Artist(), tag.Album(),      tag.Year(),    tag.Track(),      tag.Genre()};
  fuzz::Check(result == TagResult::Ok || result == TagResult::ReadError || result == TagResult::NoTag ||
              result == TagResult::InvalidHeader);
  fuzz::Check(o.present ? o.tagSize >= 10 : o.tagSize == 0);
  std::size_t kept = 0;
  for (const auto& frame : tag.Frames()) {
    kept += frame.data.size();
    fuzz::Check(frame.data.size() == (frame.dataSize > 0 ? static_cast<std::size_t>(frame.dataSize) : 0));
  }
  fuzz::Check(kept <= size); // frame data never costs more than the input holds
  for (const auto* text : {&o.title, &o.artist, &o.album, &o.year, &o.track, &o.genre}) fuzz::CheckText(*text);
  return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryTagStream memory(data, size);
  const Outcome fromMemory = Read(memory, size);
  FileTagStream file(fuzz::InputFile(data, size));
  fuzz::Check(Read(file, size) == fromMemory);
  return 0;
}

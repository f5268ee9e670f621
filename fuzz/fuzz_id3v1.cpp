// Fuzzes the ID3v1 reader: any bytes, read from memory and from a file, agree and give UTF-8.

#include "FuzzInput.h"
#include "tags/Id3v1Reader.h"

using namespace velmora;

namespace {

struct Outcome {
  TagResult result;
  std::string title, artist, album, year, track, genre;
  bool operator==(const Outcome&) const = default;
};

Outcome Read(TagStream& stream) {
  Id3v1Reader tag;
  Outcome o{tag.ReadTag(stream), tag.Title(), tag.Artist(), tag.Album(), tag.Year(), tag.Track(), tag.Genre()};
  fuzz::Check(o.result == TagResult::Ok || o.result == TagResult::ReadError || o.result == TagResult::NoTag);
  fuzz::Check(tag.TagPresent() == (o.result == TagResult::Ok));
  for (const auto* text : {&o.title, &o.artist, &o.album, &o.year, &o.genre}) fuzz::CheckText(*text);
  fuzz::Check(o.year.size() <= 4 * 3);
  return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryTagStream memory(data, size);
  const Outcome fromMemory = Read(memory);
  FileTagStream file(fuzz::InputFile(data, size));
  fuzz::Check(Read(file) == fromMemory);
  return 0;
}

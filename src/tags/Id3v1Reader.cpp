#include "tags/Id3v1Reader.h"

#include "tags/GenreNames.h"
#include "tags/TextCodec.h"

#include <cstring>
#include <exception>

namespace velmora {
namespace {

std::string FieldText(const std::array<unsigned char, 30>& field) {
  return TrimControl(Windows1252ToUtf8(field.data(), field.size()));
}

} // namespace

void Id3v1Reader::Clear() {
  title_.fill(0);
  artist_.fill(0);
  album_.fill(0);
  comment_.fill(0);
  year_.assign(4, '\0');
  track_ = 0;
  genre_ = 0;
  tagPresent_ = false;
  version11_ = false;
  errorText_.clear();
}

TagResult Id3v1Reader::ReadTag(TagStream& stream) {
  Clear();
  try {
    unsigned char tag[128];
    const std::int64_t size = stream.Size();
    if (size < 128) return TagResult::ReadError;
    stream.Seek(size - 128);
    if (stream.Read(tag, sizeof tag) < sizeof tag) return TagResult::ReadError;
    if (std::memcmp(tag, "TAG", 3) != 0) return TagResult::NoTag;

    tagPresent_ = true;
    version11_ = tag[125] == 0 && tag[126] != 0;
    std::memcpy(title_.data(), tag + 3, 30);
    std::memcpy(artist_.data(), tag + 33, 30);
    std::memcpy(album_.data(), tag + 63, 30);

    std::size_t yearLength = 4;
    while (yearLength > 0 && tag[93 + yearLength - 1] <= 32) --yearLength;
    year_ = Windows1252ToUtf8(tag + 93, yearLength);

    if (version11_) {
      std::memcpy(comment_.data(), tag + 97, 28);
      comment_[28] = comment_[29] = 0;
      track_ = tag[126];
    } else {
      std::memcpy(comment_.data(), tag + 97, 30);
      track_ = 0;
    }
    genre_ = tag[127];
    return TagResult::Ok;
  } catch (const std::exception& error) {
    errorText_ = error.what();
    return TagResult::Failed;
  }
}

std::string Id3v1Reader::Title() const { return FieldText(title_); }
std::string Id3v1Reader::Artist() const { return FieldText(artist_); }
std::string Id3v1Reader::Album() const { return FieldText(album_); }
std::string Id3v1Reader::Year() const { return TrimControl(year_); }
std::string Id3v1Reader::Track() const { return std::to_string(track_); }
std::string Id3v1Reader::Genre() const { return GenreName(genre_); }

} // namespace velmora

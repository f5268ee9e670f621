#include "tags/ID3v1Tag.h"

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

void TID3v1Tag::Clear() {
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

TagResult TID3v1Tag::ReadTag(TagStream& stream) {
  Clear();
  try {
    unsigned char tag[128];
    const std::int64_t size = stream.Size();
    if (size < 128) return rcReadError;
    stream.Seek(size - 128);
    if (stream.Read(tag, sizeof tag) < sizeof tag) return rcReadError;
    if (std::memcmp(tag, "TAG", 3) != 0) return rcNoTag;

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
    return rcOk;
  } catch (const std::exception& error) {
    errorText_ = error.what();
    return rcFailed;
  }
}

std::string TID3v1Tag::Title() const { return FieldText(title_); }
std::string TID3v1Tag::Artist() const { return FieldText(artist_); }
std::string TID3v1Tag::Album() const { return FieldText(album_); }
std::string TID3v1Tag::Year() const { return TrimControl(year_); }
std::string TID3v1Tag::Track() const { return std::to_string(track_); }
std::string TID3v1Tag::Genre() const { return GenreName(genre_); }

} // namespace velmora

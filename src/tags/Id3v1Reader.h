#pragma once
// Reader of the 128-byte ID3v1/ID3v1.1 tag at the end of an MP3 file. Reads only.

#include "tags/TagResult.h"
#include "tags/TagStream.h"

#include <array>
#include <cstdint>
#include <string>

namespace velmora {

class Id3v1Reader {
public:
  Id3v1Reader() { Clear(); }

  // Reads the tag from the last 128 bytes of the stream (it positions the stream itself).
  // TagResult::Ok, TagResult::ReadError (shorter than 128 bytes), TagResult::NoTag (no "TAG"), or TagResult::Failed
  // with ErrorText() set when the stream reported an error. Every read starts from the cleared state.
  TagResult ReadTag(TagStream& stream);

  // The getters give what the last read stored; meaningful when TagPresent() is true.
  bool TagPresent() const { return tagPresent_; }
  std::string Title() const;
  std::string Artist() const;
  std::string Album() const;
  std::string Year() const;
  // Decimal, "0" when the tag has no track number.
  std::string Track() const;
  // The genre's name; empty for an index without a name.
  std::string Genre() const;

  bool IsVersion11() const { return version11_; }
  std::uint8_t TrackNumber() const { return track_; }
  std::uint8_t GenreIndex() const { return genre_; }
  const std::array<unsigned char, 30>& Comment() const { return comment_; }
  // The text of the stream error behind the last TagResult::Failed, for the caller to show.
  const std::string& ErrorText() const { return errorText_; }

private:
  void Clear();

  using Field = std::array<unsigned char, 30>;
  Field title_{}, artist_{}, album_{}, comment_{};
  std::string year_;
  std::uint8_t track_ = 0;
  std::uint8_t genre_ = 0;
  bool tagPresent_ = false;
  bool version11_ = false;
  std::string errorText_;
};

} // namespace velmora

#pragma once
// Reader of the ID3v2 tag (versions 2.2, 2.3 and 2.4) at the start of an MP3 file: six text
// frames and the tag's size. Reads only.

#include "tags/TagResult.h"
#include "tags/TagStream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct Id3v2Frame {
  std::string id;                    // 3 characters (version 2) or 4
  std::int32_t dataSize = 0;         // as stored; 0 or below means no data
  std::vector<unsigned char> header; // the 6 or 10 header bytes
  std::vector<unsigned char> data;   // dataSize bytes, empty when dataSize is 0 or below
};

class Id3v2Reader {
public:
  // Frames are skipped with a seek unless a getter reads them, so pictures and lyrics cost
  // nothing; of several frames with one id only the last, which the getters use, is kept.
  Id3v2Reader() { Clear(); }

  // Reads the tag from the start of the stream. The result of the header step (TagResult::ReadError,
  // TagResult::NoTag, TagResult::InvalidHeader) or, once a tag is present, of the frame step (TagResult::Ok,
  // TagResult::ReadError). TagResult::Failed with ErrorText() set when the stream reported an error; what was read
  // before stays.
  TagResult ReadTag(TagStream& stream);

  bool TagPresent() const { return tagPresent_; }
  // Bytes the tag occupies from the start of the file: 10 + the header's size field, + 10 for a
  // version 4 footer; 0 without a tag. It may exceed the file when the header says so.
  std::int64_t TagSize() const { return tagSize_; }

  // Texts of the frames chosen by the major version, empty when the tag has no such frame.
  std::string Title() const;
  std::string Artist() const;
  std::string Album() const;
  std::string Year() const;
  std::string Track() const;
  // The genre with a numeric reference such as "(17)" resolved to its name.
  std::string Genre() const;

  std::uint8_t MajorVersion() const { return major_; }
  std::uint8_t Revision() const { return revision_; }
  bool Unsynchronisation() const { return unsynchronisation_; }
  bool ExtendedHeader() const { return extendedHeader_; }
  bool Experimental() const { return experimental_; }
  bool Footer() const { return footer_; }
  // The kept frames, in file order.
  const std::vector<Id3v2Frame>& Frames() const { return frames_; }
  // Every frame header walked by the last read, kept or skipped.
  std::size_t FrameCount() const { return frameCount_; }
  const std::string& ErrorText() const { return errorText_; }

private:
  enum Field { kArtist, kTitle, kAlbum, kYear, kGenre, kTrack, kFieldCount };

  void Clear();
  TagResult ReadHeader(TagStream& stream);
  TagResult ReadFrames(TagStream& stream, std::int64_t start);
  const char* FrameId(Field field) const;
  std::string FieldText(Field field) const;

  std::vector<Id3v2Frame> frames_;
  std::size_t frameCount_ = 0;
  std::uint8_t major_ = 3;
  std::uint8_t revision_ = 0;
  bool unsynchronisation_ = false;
  bool extendedHeader_ = false;
  bool experimental_ = false;
  bool footer_ = false;
  std::int64_t tagSize_ = 0;
  bool tagPresent_ = false;
  std::string errorText_;
};

// Decodes a text frame's data: the encoding byte (0 Windows-1252, 1 UTF-16 with byte-order mark,
// 2 UTF-16 big-endian, 3 UTF-8; anything else gives empty text) and the text, trimmed of
// characters of code 32 and below at both ends. Zero characters inside the text remain.
std::string DecodeID3v2Text(const unsigned char* data, std::size_t size);

// "(17)", "(17)Rock", "Metal(9)" and "17)" name genre 17, 17 and 9 when the number has a name;
// any other text is returned unchanged.
std::string ResolveGenre(const std::string& raw);

} // namespace velmora

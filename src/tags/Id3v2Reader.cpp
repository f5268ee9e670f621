#include "tags/Id3v2Reader.h"

#include "tags/GenreNames.h"
#include "tags/TextCodec.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <string_view>

namespace velmora {
namespace {

// Frame ids per field (artist, title, album, year, genre, track) and major version 2, 3, 4.
constexpr const char* kFrameIds[3][6] = {
    {"TP1", "TT2", "TAL", "TYE", "TCO", "TRK"},
    {"TPE1", "TIT2", "TALB", "TYER", "TCON", "TRCK"},
    {"TPE1", "TIT2", "TALB", "TDRC", "TCON", "TRCK"},
};

// Four 7-bit groups, most significant first. The bytes are used whole: a set top bit is kept,
// as the header's own arithmetic does.
std::int64_t SyncsafeSize(const unsigned char* b) {
  return (std::int64_t{b[0]} << 21) | (std::int64_t{b[1]} << 14) | (std::int64_t{b[2]} << 7) | b[3];
}

std::uint32_t BigEndian32(const unsigned char* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

bool IsFrameIdCharacter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool ParseDecimal(std::string_view text, long long& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

} // namespace

std::string DecodeID3v2Text(const unsigned char* data, std::size_t size) {
  if (size == 0) return {};
  const unsigned char encoding = data[0];
  const unsigned char* text = data + 1;
  const std::size_t n = size - 1;
  switch (encoding) {
  case 0: return TrimControl(Windows1252ToUtf8(text, n));
  case 1: {
    if (n < 4) return {};
    const bool bigEndian = text[0] == 0xFE && text[1] == 0xFF;
    return TrimControl(Utf16ToUtf8(text + 2, n / 2 - 1, bigEndian));
  }
  case 2: return TrimControl(Utf16ToUtf8(text, n / 2, true));
  case 3: {
    const std::string_view utf8(reinterpret_cast<const char*>(text), n);
    return IsWellFormedUtf8(utf8) ? TrimControl(utf8) : std::string();
  }
  default: return {};
  }
}

std::string ResolveGenre(const std::string& raw) {
  const std::size_t open = raw.find('(');
  const std::size_t close = raw.find(')');
  if (close == std::string::npos) return raw;
  std::string_view number;
  if (open == std::string::npos) number = std::string_view(raw).substr(0, close);
  else if (open < close) number = std::string_view(raw).substr(open + 1, close - open - 1);
  else return raw;
  long long index = 0;
  if (ParseDecimal(number, index) && index >= 0 && index < static_cast<long long>(GenreNames.size()))
    return GenreName(index);
  return raw;
}

void Id3v2Reader::Clear() {
  frames_.clear();
  frameCount_ = 0;
  major_ = 3;
  revision_ = 0;
  unsynchronisation_ = extendedHeader_ = experimental_ = footer_ = false;
  tagSize_ = 0;
  tagPresent_ = false;
  errorText_.clear();
}

TagResult Id3v2Reader::ReadTag(TagStream& stream) {
  Clear();
  try {
    const TagResult header = ReadHeader(stream);
    if (header != TagResult::Ok || !tagPresent_) return header;
    return ReadFrames(stream, stream.Position());
  } catch (const std::exception& error) {
    errorText_ = error.what();
    return TagResult::Failed;
  }
}

TagResult Id3v2Reader::ReadHeader(TagStream& stream) {
  unsigned char header[10];
  stream.Seek(0);
  if (stream.Read(header, sizeof header) < sizeof header) return TagResult::ReadError;
  if (std::memcmp(header, "ID3", 3) != 0) return TagResult::NoTag;
  const std::uint8_t major = header[3];
  if (major < 2 || major > 4) return TagResult::InvalidHeader;

  tagSize_ = 10 + SyncsafeSize(header + 6);
  tagPresent_ = true;
  const unsigned char flags = header[5];
  unsynchronisation_ = (flags & 0x80) != 0;
  extendedHeader_ = major >= 3 && (flags & 0x40) != 0;
  experimental_ = major >= 3 && (flags & 0x20) != 0;
  footer_ = major == 4 && (flags & 0x10) != 0;
  if (footer_) tagSize_ += 10;
  major_ = major;
  revision_ = header[4];

  if (extendedHeader_) {
    const std::int64_t start = stream.Position();
    unsigned char extended[6];
    if (stream.Read(extended, sizeof extended) < sizeof extended) return TagResult::ReadError;
    // Version 4 counts the whole extended header, version 3 only what follows its size field.
    if (major == 4) stream.Seek(start + SyncsafeSize(extended));
    else stream.Seek(start + 4 + std::int64_t{BigEndian32(extended)});
  }
  return TagResult::Ok;
}

const char* Id3v2Reader::FrameId(Field field) const { return kFrameIds[major_ - 2][field]; }

TagResult Id3v2Reader::ReadFrames(TagStream& stream, std::int64_t start) {
  const std::size_t headerLength = major_ == 2 ? 6 : 10;
  const std::size_t idLength = major_ == 2 ? 3 : 4;
  const std::int64_t fileSize = stream.Size();
  stream.Seek(start);
  frames_.clear();

  while (stream.Position() < tagSize_ && stream.Position() < fileSize) {
    unsigned char header[10];
    if (stream.Read(header, headerLength) < headerLength) return TagResult::ReadError;
    // The first byte that cannot belong to a frame id starts the padding.
    if (!std::all_of(header, header + idLength, IsFrameIdCharacter)) return TagResult::Ok;

    std::int32_t dataSize;
    if (major_ == 2) dataSize = (header[3] << 16) | (header[4] << 8) | header[5];
    else if (major_ == 4) dataSize = static_cast<std::int32_t>(SyncsafeSize(header + 4));
    else dataSize = static_cast<std::int32_t>(BigEndian32(header + 4));
    if (dataSize > fileSize - stream.Position()) return TagResult::ReadError;
    ++frameCount_;

    const std::string id(reinterpret_cast<const char*>(header), idLength);
    bool used = false;
    for (int field = 0; field < kFieldCount; ++field) used = used || id == FrameId(static_cast<Field>(field));
    if (!used) {
      if (dataSize > 0) stream.Seek(stream.Position() + dataSize);
      continue;
    }

    Id3v2Frame frame;
    frame.id = id;
    frame.dataSize = dataSize;
    frame.header.assign(header, header + headerLength);
    if (dataSize > 0) {
      frame.data.resize(static_cast<std::size_t>(dataSize));
      if (stream.Read(frame.data.data(), frame.data.size()) < frame.data.size()) return TagResult::ReadError;
    }
    // The getters use the last frame of an id; an earlier one is of no further use.
    std::erase_if(frames_, [&](const Id3v2Frame& kept) { return kept.id == id; });
    frames_.push_back(std::move(frame));
  }
  return TagResult::Ok;
}

std::string Id3v2Reader::FieldText(Field field) const {
  const char* id = FrameId(field);
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
    if (it->id == id) return DecodeID3v2Text(it->data.data(), it->data.size());
  return {};
}

std::string Id3v2Reader::Title() const { return FieldText(kTitle); }
std::string Id3v2Reader::Artist() const { return FieldText(kArtist); }
std::string Id3v2Reader::Album() const { return FieldText(kAlbum); }
std::string Id3v2Reader::Year() const { return FieldText(kYear); }
std::string Id3v2Reader::Track() const { return FieldText(kTrack); }
std::string Id3v2Reader::Genre() const { return ResolveGenre(FieldText(kGenre)); }

} // namespace velmora

#pragma once
// Builders of tag and MPEG frame bytes for the reader tests.

#include "tags/TagStream.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velmora::test {

inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

inline std::string BigEndian(std::uint32_t n, int width) {
  std::string out;
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xFF);
  return out;
}

inline std::string Syncsafe(std::uint32_t n) {
  return Bytes({int((n >> 21) & 0x7F), int((n >> 14) & 0x7F), int((n >> 7) & 0x7F), int(n & 0x7F)});
}

// One frame of an ID3v2 tag of the given major version, with the size coded as that version does.
inline std::string Frame(int major, const std::string& id, const std::string& data) {
  const auto size = static_cast<std::uint32_t>(data.size());
  if (major == 2) return id + BigEndian(size, 3) + data;
  return id + (major == 4 ? Syncsafe(size) : BigEndian(size, 4)) + std::string(2, '\0') + data;
}

inline std::string TextFrame(int major, const std::string& id, int encoding, const std::string& text) {
  return Frame(major, id, static_cast<char>(encoding) + text);
}

// A whole tag: header, body (extended header and frames), `padding` zero bytes.
inline std::string Tag(int major, const std::string& body, std::size_t padding = 0, int flags = 0) {
  const std::string content = body + std::string(padding, '\0');
  return "ID3" + Bytes({major, 0, flags}) + Syncsafe(static_cast<std::uint32_t>(content.size())) + content;
}

// The 128 bytes of an ID3v1 tag; fields are cut or padded with zero bytes.
inline std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album,
                         const std::string& year, const std::string& comment, int genre) {
  auto field = [](std::string text, std::size_t width) {
    text.resize(width, '\0');
    return text;
  };
  return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) + field(comment, 30) +
         static_cast<char>(genre);
}

// An MPEG audio frame: the 4 header bytes, then zero bytes up to `length`.
inline std::string MpegFrame(int b1, int b2, int b3, std::size_t length) {
  std::string frame = Bytes({0xFF, b1, b2, b3});
  frame.resize(length, '\0');
  return frame;
}

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, stereo: 417 bytes.
inline std::string Mpeg1Frame() { return MpegFrame(0xFB, 0x90, 0x00, 417); }

inline std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// A stream of any size whose bytes a function gives, counting what the reader asked for: how a
// test sees that a huge frame is skipped, not read, without making a huge file.
class GeneratedStream : public TagStream {
public:
  GeneratedStream(std::int64_t size, std::function<unsigned char(std::int64_t)> byteAt)
      : size_(size), byteAt_(std::move(byteAt)) {}
  std::int64_t Size() const override { return size_; }
  std::size_t ReadAt(std::int64_t position, void* buffer, std::size_t count) override {
    if (failAt >= 0 && position + static_cast<std::int64_t>(count) > failAt)
      throw std::system_error(EIO, std::generic_category(), "Read error in \"test\"");
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t n = 0;
    for (; n < count && position + static_cast<std::int64_t>(n) < size_; ++n) out[n] = byteAt_(position + n);
    bytesRead += n;
    return n;
  }
  std::int64_t bytesRead = 0;
  std::int64_t failAt = -1; // reads reaching this offset fail like a bad disk

private:
  std::int64_t size_;
  std::function<unsigned char(std::int64_t)> byteAt_;
};

// A generated stream over fixed bytes followed by zero bytes up to `size`.
inline GeneratedStream PrefixStream(std::string prefix, std::int64_t size) {
  return GeneratedStream(size, [prefix = std::move(prefix)](std::int64_t at) {
    return at < static_cast<std::int64_t>(prefix.size()) ? static_cast<unsigned char>(prefix[at]) : 0;
  });
}

} // namespace velmora::test

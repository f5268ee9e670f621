#include "base/IniFile.h"

#include <cstdio>
#include <memory>

namespace velmora {
namespace {

// The parser's growing line buffer doubles from 200 bytes; 1 GiB keeps the doubling inside int.
constexpr int kMaxLine = 1 << 30;

class UnlimitedParseOptions {
public:
  UnlimitedParseOptions()
      : useStack_(ini_use_stack),
        allowRealloc_(ini_allow_realloc),
        maxLine_(ini_max_line),
        multiline_(ini_allow_multiline),
        inlineComments_(ini_allow_inline_comments) {
    ini_use_stack = false;
    ini_allow_realloc = true;
    ini_max_line = kMaxLine;
    ini_allow_multiline = false;
    ini_allow_inline_comments = false;
  }
  ~UnlimitedParseOptions() {
    ini_use_stack = useStack_;
    ini_allow_realloc = allowRealloc_;
    ini_max_line = maxLine_;
    ini_allow_multiline = multiline_;
    ini_allow_inline_comments = inlineComments_;
  }
  UnlimitedParseOptions(const UnlimitedParseOptions&) = delete;
  UnlimitedParseOptions& operator=(const UnlimitedParseOptions&) = delete;

private:
  bool useStack_, allowRealloc_;
  int maxLine_;
  bool multiline_, inlineComments_;
};

// Reads a line as fgets does, except that a zero byte ends the line's text and the rest of the line
// is skipped. With fgets the parser measures lines with strlen, so text after a zero byte in a long
// line came back as lines of their own.
char* ReadLineUpToZeroByte(char* buffer, int size, void* stream) {
  auto* file = static_cast<std::FILE*>(stream);
  int used = 0;
  int c = EOF;
  while (used < size - 1 && (c = getc_unlocked(file)) != EOF) {
    if (c == '\0') {
      while (c != '\n' && c != EOF) c = getc_unlocked(file);
      break;
    }
    buffer[used++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (used == 0 && c == EOF) return nullptr;
  buffer[used] = '\0';
  return buffer;
}

} // namespace

bool ParseIniFile(const std::filesystem::path& file, ini_handler handler, void* user) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream{std::fopen(file.c_str(), "r"), &std::fclose};
  if (!stream) return false;
  const UnlimitedParseOptions options;
  // The result names the first unreadable line; the parser has gone on past it, so it is ignored.
  (void)ini_parse_stream(&ReadLineUpToZeroByte, stream.get(), handler, user);
  return true;
}

} // namespace velmora

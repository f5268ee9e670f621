#include "cli/LiveLine.h"

#include "base/ByteUnits.h"
#include "cli/TerminalUi.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora::cli {
namespace {

// Set by SIGWINCH; the handler does nothing else, the next draw reads the new width.
volatile std::sig_atomic_t sizeChanged = 1;

void OnSizeChanged(int) { sizeChanged = 1; }

// The length in bytes and the terminal columns of the UTF-8 character at `at` (text escaped by
// TerminalText: well-formed and free of control characters). The columns come from the C
// library's table for a UTF-8 locale, whatever locale the program runs in.
std::pair<std::size_t, int> Character(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (length == 1) return {1, 1};
  char32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length && at + i < text.size(); ++i) code = (code << 6) | (text[at + i] & 0x3F);
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (!utf8) return {length, 1};
  const locale_t previous = ::uselocale(utf8);
  const int columns = ::wcwidth(static_cast<wchar_t>(code));
  ::uselocale(previous);
  return {length, columns < 0 ? 1 : columns};
}

int Columns(const std::string& text) {
  int columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto [length, width] = Character(text, i);
    columns += width;
    i += length;
  }
  return columns;
}

// `text` in at most `columns` columns: whole characters, with "…" in place of what is cut.
std::string Cut(const std::string& text, int columns) {
  if (Columns(text) <= columns) return text;
  std::string cut;
  int used = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto [length, width] = Character(text, i);
    if (used + width > columns - 1) break;
    cut.append(text, i, length);
    used += width;
    i += length;
  }
  return columns >= 1 ? cut + "…" : cut;
}

std::string TimeLeft(std::int64_t seconds) {
  char text[48];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld left", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

} // namespace

std::string LiveLineText(const TransferFigures& figures, int columns) {
  const std::string files = std::to_string(figures.filesDone) +
                            (figures.filesTotal > 0 ? "/" + std::to_string(figures.filesTotal) : std::string()) +
                            " files";
  std::string bytes;
  if (figures.bytesTotal > 0) {
    bytes = HumanBytes(std::min(figures.bytesDone, figures.bytesTotal)) + " / " + HumanBytes(figures.bytesTotal);
  } else if (figures.bytesDone > 0) {
    bytes = HumanBytes(figures.bytesDone);
  }
  const std::string speed = figures.bytesPerSecond ? HumanBytes(*figures.bytesPerSecond) + "/s" : std::string();
  const std::string left = figures.secondsLeft ? TimeLeft(*figures.secondsLeft) : std::string();
  const auto joined = [](std::initializer_list<const std::string*> parts) {
    std::string text;
    for (const std::string* part : parts)
      if (!part->empty()) text += (text.empty() ? "" : "  ") + *part;
    return text;
  };

  const int room = columns - 1;
  if (room <= 0) return {};
  // A narrow terminal loses the bytes first, then the speed: the count and the time left stay.
  std::string line = joined({&files, &bytes, &speed, &left});
  if (Columns(line) > room) line = joined({&files, &speed, &left});
  if (Columns(line) > room) line = joined({&files, &left});
  if (Columns(line) >= room) return Cut(line, room);
  const std::string name = TerminalText(figures.currentFile);
  const int nameRoom = room - Columns(line) - 2;
  if (!name.empty() && nameRoom >= 2) line += "  " + Cut(name, nameRoom);
  return line;
}

LiveLine::LiveLine() {
  struct sigaction action {};
  action.sa_handler = OnSizeChanged;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGWINCH, &action, &previous_);
  sizeChanged = 1;
}

LiveLine::~LiveLine() {
  Clear();
  ::sigaction(SIGWINCH, &previous_, nullptr);
}

int LiveLine::Columns() {
  if (sizeChanged) {
    sizeChanged = 0;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) columns_ = size.ws_col;
  }
  return columns_;
}

void LiveLine::Show(const TransferFigures& figures) {
  if (!Due()) return;
  lastDrawn_ = std::chrono::steady_clock::now();
  std::fprintf(stderr, "\r%s\033[K", LiveLineText(figures, Columns()).c_str());
  std::fflush(stderr);
  shown_ = true;
}

void LiveLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

} // namespace velmora::cli

#include "cli/TerminalUi.h"

#include "tags/TextCodec.h"

#include <cstdio>
#include <unistd.h>

namespace velmora::cli {

std::string StatusLine(const std::string& panelText) {
  return panelText.rfind("     ", 0) == 0 ? panelText.substr(5) : panelText;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` that is no control character, else 0.
std::size_t PrintableSequence(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
  for (std::size_t length = 2; length <= 4 && at + length <= text.size(); ++length) {
    if (!IsWellFormedUtf8(std::string_view(text).substr(at, length))) continue;
    // U+0080 to U+009F are the C1 controls (0x9B alone starts a terminal command).
    const bool c1 = lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
    return c1 ? 0 : length;
  }
  return 0;
}

} // namespace

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = PrintableSequence(text, i)) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[i++]);
    switch (byte) {
    case '\a': out += "\\a"; break;
    case '\b': out += "\\b"; break;
    case '\t': out += "\\t"; break;
    case '\n': out += "\\n"; break;
    case '\v': out += "\\v"; break;
    case '\f': out += "\\f"; break;
    case '\r': out += "\\r"; break;
    case 0x1B: out += "\\e"; break;
    default:
      out += '\\';
      out += static_cast<char>('0' + (byte >> 6));
      out += static_cast<char>('0' + ((byte >> 3) & 7));
      out += static_cast<char>('0' + (byte & 7));
    }
  }
  return out;
}

TerminalUi::TerminalUi() : terminal_(::isatty(STDERR_FILENO) == 1) {}

void TerminalUi::ClearBar() {
  if (barShown_) {
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
  }
}

void TerminalUi::SetStatusText(const std::string& text) {
  const std::string line = TerminalText(StatusLine(text));
  if (line == lastStatus_) return; // repeated ticks would only flood the log
  lastStatus_ = line;
  ClearBar();
  std::fprintf(stderr, "%s\n", line.c_str());
}

void TerminalUi::ShowMessage(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
}

void TerminalUi::ShowErrorMessage(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "Error: %s\n", TerminalText(text).c_str());
}

void TerminalUi::ShowErrorDisplay(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "Error: %s\n", TerminalText(text).c_str());
}

void TerminalUi::SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) {
  if (!terminal_ || bar != drawnBar_ || maximum <= 0) return;
  const int width = 40;
  const auto clamped = position < 0 ? 0 : (position > maximum ? maximum : position);
  const int filled = static_cast<int>(clamped * width / maximum);
  std::string rate;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - barSince_;
  if (bar == ProgressBar::StatusGlobal && elapsed.count() >= 1 && clamped > 0) {
    const double kilobytesPerSecond = static_cast<double>(clamped) / elapsed.count();
    const auto left = static_cast<long long>(static_cast<double>(maximum - clamped) / kilobytesPerSecond);
    char text[96];
    std::snprintf(text, sizeof text, "  %.0f kb/sec, %lld min %lld sec left", kilobytesPerSecond, left / 60,
                  left % 60);
    rate = text;
  }
  std::fprintf(stderr, "\r[%-*s] %3d%%%s\033[K", width, std::string(filled, '#').c_str(),
               static_cast<int>(clamped * 100 / maximum), rate.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void TerminalUi::OpenUrl(const std::string& url) {
  ClearBar();
  std::fprintf(stderr, "Open %s\n", TerminalText(url).c_str());
}

} // namespace velmora::cli

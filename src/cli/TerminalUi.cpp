#include "cli/TerminalUi.h"

#include <cstdio>
#include <unistd.h>

namespace velmora::cli {

std::string StatusLine(const std::string& panelText) {
  return panelText.rfind("     ", 0) == 0 ? panelText.substr(5) : panelText;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` that is no control character, else 0.
std::size_t PrintableSequence(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(at);
  if (lead >= 0x20 && lead < 0x7F) return 1;
  // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  // U+0080 to U+009F are the C1 controls (0x9B alone starts a terminal command).
  if (lead == 0xC2 && byte(at + 1) <= 0x9F) return 0;
  return length;
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
  std::fprintf(stderr, "\r[%-*s] %3d%%", width, std::string(filled, '#').c_str(),
               static_cast<int>(clamped * 100 / maximum));
  std::fflush(stderr);
  barShown_ = true;
}

void TerminalUi::OpenUrl(const std::string& url) {
  ClearBar();
  std::fprintf(stderr, "Open %s\n", TerminalText(url).c_str());
}

} // namespace velmora::cli

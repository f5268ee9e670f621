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

void TerminalUi::ShowLiveProgress(std::function<std::optional<TransferFigures>()> figures) {
  liveFigures_ = std::move(figures);
  if (terminal_ && !quiet_ && !live_) live_ = std::make_unique<LiveLine>();
}

void TerminalUi::EndLiveProgress() {
  liveFigures_ = nullptr;
  live_.reset();
}

void TerminalUi::RefreshLiveLine() {
  // The pumps come often: the figures are asked for only when the line may be drawn. Asking may
  // pump messages again.
  if (!live_ || !liveFigures_ || refreshing_ || !live_->Due()) return;
  struct Refreshing {
    bool& flag;
    explicit Refreshing(bool& f) : flag(f) { flag = true; }
    ~Refreshing() { flag = false; }
  } refreshing(refreshing_);
  if (const auto figures = liveFigures_()) live_->Show(*figures);
  else live_->Clear();
}

void TerminalUi::SetStatusText(const std::string& text) {
  if (quiet_) return;
  const std::string line = TerminalText(StatusLine(text));
  if (line == lastStatus_) return; // repeated ticks would only flood the log
  lastStatus_ = line;
  ClearLiveLine();
  std::fprintf(stderr, "%s\n", line.c_str());
}

void TerminalUi::ShowMessage(const std::string& text) {
  if (quiet_) {
    heldMessage_ = text;
    return;
  }
  ClearLiveLine();
  std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
}

void TerminalUi::ShowSummary(const std::string& text) {
  ClearLiveLine();
  std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
}

void TerminalUi::ShowErrorMessage(const std::string& text) {
  ClearLiveLine();
  std::fprintf(stderr, "Error: %s\n", TerminalText(text).c_str());
}

void TerminalUi::ShowErrorDisplay(const std::string& text) {
  ClearLiveLine();
  std::fprintf(stderr, "Error: %s\n", TerminalText(text).c_str());
}

void TerminalUi::OpenUrl(const std::string& url) {
  if (quiet_) return;
  ClearLiveLine();
  std::fprintf(stderr, "Open %s\n", TerminalText(url).c_str());
}

} // namespace velmora::cli

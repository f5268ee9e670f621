#include "cli/TerminalUi.h"

#include <cstdio>
#include <unistd.h>

namespace velmora::cli {

std::string StatusLine(const std::string& panelText) {
  return panelText.rfind("     ", 0) == 0 ? panelText.substr(5) : panelText;
}

TerminalUi::TerminalUi() : terminal_(::isatty(STDERR_FILENO) == 1) {}

void TerminalUi::ClearBar() {
  if (barShown_) {
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
  }
}

void TerminalUi::SetStatusText(const std::string& text) {
  const std::string line = StatusLine(text);
  if (line == lastStatus_) return; // repeated ticks would only flood the log
  lastStatus_ = line;
  ClearBar();
  std::fprintf(stderr, "%s\n", line.c_str());
}

void TerminalUi::ShowMessage(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TerminalUi::ShowErrorMessage(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "Error: %s\n", text.c_str());
}

void TerminalUi::ShowErrorDisplay(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "Error: %s\n", text.c_str());
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
  std::fprintf(stderr, "Open %s\n", url.c_str());
}

} // namespace velmora::cli

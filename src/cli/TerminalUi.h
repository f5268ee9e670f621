#pragma once
// The engine's Ui on a terminal: status lines and messages on stderr, data stays on stdout.

#include "base/Ui.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace velmora::cli {

class TerminalUi : public Ui {
public:
  TerminalUi();
  void SetStatusText(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowErrorMessage(const std::string& text) override;
  void ShowErrorDisplay(const std::string& text) override;
  void SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) override;
  void ProcessMessages() override {
    if (onProcessMessages) onProcessMessages();
  }
  void OpenUrl(const std::string& url) override;
  void ViewChanged(View view) override {
    if (onViewChanged) onViewChanged(view);
  }

  // What a command does where the window would handle events (e.g. notice Ctrl-C) ...
  std::function<void()> onProcessMessages;
  // ... and where the window would repaint a part of itself (e.g. print new log lines).
  std::function<void(View)> onViewChanged;

  // The bar that is drawn on the terminal, if any. The upload run's bar (kilobytes of the whole
  // run, all transfers together) also shows the average speed since now and the time left.
  void DrawBarFor(ProgressBar bar) {
    drawnBar_ = bar;
    barSince_ = std::chrono::steady_clock::now();
  }

private:
  void ClearBar();

  bool terminal_;
  bool barShown_ = false;
  ProgressBar drawnBar_ = ProgressBar::File;
  std::chrono::steady_clock::time_point barSince_ = std::chrono::steady_clock::now();
  std::string lastStatus_;
};

// Status text without the panel's five leading blanks.
std::string StatusLine(const std::string& panelText);

// Text as a terminal may safely show it, escaped as `ls -b` does: a control character (C0, DEL,
// C1) or a byte that is not UTF-8 is written as a backslash escape (\e, \n, \t, ... or three octal
// digits), so a crafted file name cannot move the cursor, recolour or clear the terminal, or fake
// a line of its own. Every other character, non-ASCII letters included, stays as it is.
std::string TerminalText(const std::string& text);

} // namespace velmora::cli

#pragma once
// The engine's Ui on a terminal: status lines and messages on stderr, data stays on stdout. On a
// terminal a live line below them shows how far a transfer run is.

#include "base/TransferFigures.h"
#include "base/Ui.h"
#include "cli/LiveLine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmora::cli {

class TerminalUi : public Ui {
public:
  TerminalUi();
  void SetStatusText(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowErrorMessage(const std::string& text) override;
  void ShowErrorDisplay(const std::string& text) override;
  // The live line reads the run's figures from the engine rather than following the bars.
  void SetProgress(ProgressBar, std::int64_t, std::int64_t) override {}
  void ProcessMessages() override {
    if (onProcessMessages) onProcessMessages();
    RefreshLiveLine();
  }
  void OpenUrl(const std::string& url) override;
  void ViewChanged(View view) override {
    if (onViewChanged) onViewChanged(view);
  }

  // What a command does where the window would handle events (e.g. notice Ctrl-C) ...
  std::function<void()> onProcessMessages;
  // ... and where the window would repaint a part of itself (e.g. print new log lines).
  std::function<void(View)> onViewChanged;

  // On a terminal, unless quiet: `figures` gives what the live line shows while it gives
  // anything; it is asked at the message pumps, and the line is redrawn at most 4 times a second.
  void ShowLiveProgress(std::function<std::optional<TransferFigures>()> figures);
  // Erases the live line and stops asking for figures.
  void EndLiveProgress();
  // Erases the live line (if drawn) before something else writes to the terminal.
  void ClearLiveLine() {
    if (live_) live_->Clear();
  }

  // Quiet: status lines and messages are not shown, nor the live line; errors and ShowSummary are.
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  bool quiet() const { return quiet_; }
  // The line that sums up a command's work: shown even when quiet.
  void ShowSummary(const std::string& text);
  // The last message quiet kept back: a command that ends before it started shows it as its error.
  const std::string& heldMessage() const { return heldMessage_; }

private:
  void RefreshLiveLine();

  bool terminal_;
  bool quiet_ = false;
  std::unique_ptr<LiveLine> live_;
  std::function<std::optional<TransferFigures>()> liveFigures_;
  bool refreshing_ = false;
  std::string lastStatus_;
  std::string heldMessage_;
};

// The live line for the life of a scope (a run).
class LiveProgress {
public:
  LiveProgress(TerminalUi& ui, std::function<std::optional<TransferFigures>()> figures) : ui_(ui) {
    ui_.ShowLiveProgress(std::move(figures));
  }
  ~LiveProgress() { ui_.EndLiveProgress(); }
  LiveProgress(const LiveProgress&) = delete;
  LiveProgress& operator=(const LiveProgress&) = delete;

private:
  TerminalUi& ui_;
};

// Status text without the panel's five leading blanks.
std::string StatusLine(const std::string& panelText);

// Text as a terminal may safely show it, escaped as `ls -b` does: a control character (C0, DEL,
// C1) or a byte that is not UTF-8 is written as a backslash escape (\e, \n, \t, ... or three octal
// digits), so a crafted file name cannot move the cursor, recolour or clear the terminal, or fake
// a line of its own. Every other character, non-ASCII letters included, stays as it is.
std::string TerminalText(const std::string& text);

} // namespace velmora::cli

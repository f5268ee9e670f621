#pragma once
// The live line: one line at the foot of a terminal showing how far a run of transfers is,
// redrawn in place while status lines scroll above it.

#include "base/TransferFigures.h"

#include <chrono>
#include <csignal>
#include <string>

namespace velmora::cli {

// The line for a terminal `columns` wide, e.g.
// "3/6 files  1.2 MiB / 4.5 MiB  200.0 KiB/s  0:27 left  song.mp3": the figures known so far, then
// the current file's name (escaped as TerminalText does), cut on a character boundary with "…" so
// the line takes at most `columns` - 1 columns (a line filling the last column wraps on some
// terminals). Wide characters count two columns.
std::string LiveLineText(const TransferFigures& figures, int columns);

// Draws the line on stderr, which must be a terminal, at most 4 times a second.
class LiveLine {
public:
  // Notes terminal size changes (SIGWINCH) until destroyed; the previous handler comes back then.
  LiveLine();
  ~LiveLine();
  LiveLine(const LiveLine&) = delete;
  LiveLine& operator=(const LiveLine&) = delete;

  // Whether the line may be drawn again: its last drawing is 250 ms ago (counted also when it was
  // erased since, so status lines coming fast do not make it flicker).
  bool Due() const { return std::chrono::steady_clock::now() - lastDrawn_ >= std::chrono::milliseconds(250); }
  // Redraws the line with `figures` when due.
  void Show(const TransferFigures& figures);
  // Erases the line, if drawn, so that another line can be printed in its place.
  void Clear();

private:
  int Columns();

  bool shown_ = false;
  int columns_ = 80;
  std::chrono::steady_clock::time_point lastDrawn_{};
  struct sigaction previous_ {};
};

} // namespace velmora::cli

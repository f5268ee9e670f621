#pragma once
// What the engine asks of whoever shows it: the Qt window, the command line, or a test's recorder.
// The engine owns every piece of state; a front end only paints what it is told about.

#include <cstdint>
#include <string>

namespace velmora {

// The progress bars of the program, by the role they play.
enum class ProgressBar {
  File,          // bytes of the current request: main window file bar and status window file bar
  QueueGlobal,   // records of the upload run on the Status tab
  StatusGlobal,  // kilobytes of the whole run on the upload status window
  ITunesAnalyze, // tracks of the iTunes analysis
  DownloadFile,  // bytes of the file being restored
  DownloadTotal, // passes of the restore
};

// Parts of the window whose content lives in the engine; the front end re-reads them when told.
enum class View {
  Caption,          // main window caption (user name after login)
  DeepAnalysis,     // the "Deep analysis" badge
  RestorePlaylists, // restore tab playlist list and the drop tab's playlist box
  DroppedFiles,     // the drop tab's file list
  ITunesPlaylists,  // iTunes playlist list and counters
  WinampPlaylists,  // Winamp playlist list, location box and counters
  UploadQueue,      // Status tab queue grid, counters and button states
  UploadStatus,     // upload status window texts
  UploadWindows,    // which of main window / status window / "Upload done!" bar are shown
  RestoreLog,       // restore tab log memo, labels and counters
  Settings,         // Winamp location and restore path boxes
  RunEnded,         // an upload run ended: its notice for a user whose window is hidden
};

class Ui {
public:
  virtual ~Ui() = default;

  // The full text of the status panel, five leading blanks included.
  virtual void SetStatusText(const std::string& text) = 0;
  // A plain modal message box.
  virtual void ShowMessage(const std::string& text) = 0;
  // A modal message box with the error icon and one OK button.
  virtual void ShowErrorMessage(const std::string& text) = 0;
  // The application's central error display: an operation ended by an error nobody handled.
  virtual void ShowErrorDisplay(const std::string& text) = 0;
  virtual void SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) = 0;
  // Lets the front end handle pending events (clicks, timer ticks) in the middle of long work.
  virtual void ProcessMessages() = 0;
  virtual void OpenUrl(const std::string& url) = 0;
  virtual void ViewChanged(View view) = 0;
};

} // namespace velmora

#pragma once
// The small "Uploading" window shown while a run is active: what it displays, and the
// once-a-second arithmetic that turns the run's byte counters into speed and time left.

#include "base/TransferFigures.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

inline constexpr const char* kInvitationPrompt =
    "Enter the email address and your friend will be invitied to join Velmora and access your library";
inline constexpr const char* kInvitationDone = "DONE! You can enter a further address now.";

// What the status window shows; the front end re-reads it on View::UploadStatus.
struct UploadStatusWindow {
  // artist + ": " + name of the item being sent.
  std::string nameLabel = "...";
  // The bottom panel; empty until the first tick with a measurable speed.
  std::string statusText;
  // The file the player should have open, and whether "Play the current track" is ticked.
  std::string currentTrack;
  bool playCurrentTrack = false;
  // "Share this track with a friend" has opened the invitation area (it never closes again).
  bool invitationVisible = false;
  std::string invitationText = kInvitationPrompt;
  std::string emailInvite;

  // Ticks of the status timer since the run started, and items the loop has begun.
  std::int64_t ElapsedSeconds = 0;
  int ItemsStarted = 0;
  // The figures of the last tick with a measurable speed; nothing since the run started until then.
  std::optional<StatusTick> lastTick;
};

// How an upload run ended, as a short notice for a user who does not have the window in view
// (View::RunEnded; the window shows it from the tray when it is hidden).
struct RunEndNotice {
  std::string title; // "Upload done!", or "Upload stopped" when an error ended the run
  std::string text;  // the run's counts, or the error that ended it
  bool error = false;
};

// Files of one run: sent with their content, and known to the service so only the tags went.
struct RunFileCounts {
  int uploaded = 0;
  int alreadyThere = 0;
};

// "Upload done!" with the counts, e.g. "3 files uploaded, 1 already in your locker."
RunEndNotice FinishedRunNotice(const RunFileCounts& counts);
// "Upload stopped" with the error's text.
RunEndNotice FailedRunNotice(const std::string& error);

// Speed and time left as the status panel words them, or nothing when fewer than 1024 bytes moved
// per elapsed second on average (the panel then keeps its text). `elapsedSeconds` counts the tick
// being handled. All divisions truncate toward zero; a negative `bytesLeft` (form overhead and
// answers count as moved bytes) gives zero or negative minutes and seconds.
std::string StatusTickText(const StatusTick& tick, int itemsStarted, int queueCountAtStart);
std::optional<std::string> StatusTickText(std::int64_t shownUploadedBytes, std::int64_t bytesLeft,
                                          std::int64_t elapsedSeconds, int itemsStarted, int queueCountAtStart);

} // namespace velmora

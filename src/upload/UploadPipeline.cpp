#include "upload/UploadPipeline.h"
#include "base/Text.h"

#include "base/ShowStatus.h"
#include "base/WorkFolder.h"
#include "model/MediaLibraryFile.h"
#include "service/CallApi.h"
#include "service/WebPages.h"
#include "upload/UploadPlan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <unordered_set>

namespace velmora {
namespace {

// The first `count` characters of UTF-8 text, never cutting a character in two.
std::string FirstCharacters(const std::string& text, std::size_t count) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80 && characters++ == count) return text.substr(0, i);
  }
  return text;
}

// Widths of the queue's text columns, in characters.
constexpr std::size_t kNameColumnWidth = 255;     // name, artist, album
constexpr std::size_t kPlaylistColumnWidth = 100; // autoadd2plist

std::string FileNamePart(const std::string& location) {
  const std::size_t slash = location.find_last_of('/');
  return slash == std::string::npos ? location : location.substr(slash + 1);
}

} // namespace

void UploadPipeline::Signal(View view) { ui().ViewChanged(view); }

void UploadPipeline::EndRun(RunEndNotice notice) {
  runEndNotice_ = std::move(notice);
  Signal(View::RunEnded);
}

void UploadPipeline::SetGlobalProgress(std::int64_t position, std::int64_t maximum) {
  controls_.globalPosition = position;
  controls_.globalMaximum = maximum;
  ui().SetProgress(ProgressBar::QueueGlobal, position, maximum);
  if (service_.counters().ItemsOnGlobalBar) RefreshUploadStatus();
}

bool UploadPipeline::MayStartRun() {
  if (!loopActive_) return true;
  ui().ShowMessage("An upload is in progress. Wait until the current file is sent, then try again.");
  return false;
}

bool UploadPipeline::BuildUploadQueue(const MediaItems& items, SourceNumber source, const HashIdFilter& filter,
                                      const std::string& playlistName) {
  if (!MayStartRun()) return false;
  if (dryRun_) {
    FillUploadQueue(items, source, filter, playlistName);
    return true;
  }
  // The snapshot only records what the run was built from; a failed copy does not stop the build.
  bool copied = false;
  if (!CurrentMediaLibraryFile.empty()) {
    try {
      PublishExchangeFile(CurrentMediaLibraryFile, "UploadQueue.xml");
      copied = true;
    } catch (const std::exception&) {
    }
  }
  if (!copied) {
    std::error_code ignored;
    std::filesystem::remove(WorkFolder() + "UploadQueue.xml", ignored);
  }
  FillUploadQueue(items, source, filter, playlistName);
  ui().ProcessMessages();
  if (!MayStartRun()) return false;
  StartUploadRun();
  return true;
}

int UploadPipeline::FillUploadQueue(const MediaItems& items, SourceNumber source, const HashIdFilter& filter,
                                    const std::string& playlistName) {
  SetGlobalProgress(controls_.globalPosition, 0);
  service_.counters().TotalBytes = 0;
  std::unordered_set<std::string> queuedIds;
  int added = 0;

  for (const MediaItem& item : items) {
    // Items outside the chosen playlists are not part of the run; the others each get an outcome.
    if (!filter.Takes(item.HashValue)) continue;
    const auto skip = [&](FileOutcomeKind kind, std::string why) {
      outcomes_.Add({item.Location, item.HashValue, {}, kind, std::move(why)});
    };
    if (item.HashCheckResponse <= 200) {
      if (item.HashCheckResponse == 200) skip(FileOutcomeKind::AlreadyInLibrary, {});
      // Without an answer of the check nothing is known of the file: it failed with the check.
      else if (item.HashCheckResponse == 0 && !checkFailure_.empty()) skip(FileOutcomeKind::Failed, checkFailure_);
      else if (item.HashCheckResponse == 0) skip(FileOutcomeKind::Skipped, reason::kNoCheckAnswer);
      else skip(FileOutcomeKind::Skipped, "the service answered code " + std::to_string(item.HashCheckResponse));
      continue;
    }
    std::string lowerId = AsciiLower(item.HashValue);
    if (queuedIds.count(lowerId)) {
      skip(FileOutcomeKind::Skipped, reason::kSameContent);
      continue;
    }
    if (!IsSupportedAudioExt(item.Location)) {
      skip(FileOutcomeKind::Skipped, reason::kUnsupportedType);
      continue;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(item.Location, error)) {
      skip(FileOutcomeKind::Skipped, reason::kVanished);
      continue;
    }
    const std::int64_t size = FileSizeOf(item.Location);
    if (size < 1 || size >= kMaxUploadFileSize) {
      skip(FileOutcomeKind::Skipped, size < 1 ? reason::kEmpty : reason::kTooLarge);
      continue;
    }

    queuedIds.insert(std::move(lowerId));
    service_.counters().TotalBytes += size;
    UploadQueueRecord record;
    record.xml = MediaItemXml(item, ui());
    record.location = item.Location;
    record.hashid = item.HashValue;
    // Texts are cut to their column widths (the path is kept whole); the cut playlist name is
    // the one sent with the record.
    record.name = FirstCharacters(item.Name.empty() ? FirstCharacters(FileNamePart(item.Location), 100) : item.Name,
                                  kNameColumnWidth);
    record.artist = FirstCharacters(item.Artist, kNameColumnWidth);
    record.album = FirstCharacters(item.Album, kNameColumnWidth);
    record.size = size;
    if (source == kSourceDroppedFiles) record.autoadd2plist = FirstCharacters(playlistName, kPlaylistColumnWidth);
    record.hashcheckresponse = std::to_string(item.HashCheckResponse);
    if (dryRun_) outcomes_.Add(PlannedOutcome(record));
    else queue_.Append(std::move(record));
    ++added;
    controls_.globalMaximum = added;
  }
  SetGlobalProgress(controls_.globalPosition, added);
  Signal(View::UploadQueue);
  return added;
}

void UploadPipeline::StartUploadRun() {
  SetGlobalProgress(0, controls_.globalMaximum);
  windows_.statusTabRequested = true;
  controls_.stopEnabled = true;
  controls_.clearEnabled = true;
  controls_.removeEnabled = true;

  queueCountAtStart_ = queue_.QueueCount();
  service_.counters().ItemsOnGlobalBar =
      std::none_of(queue_.records().begin(), queue_.records().end(),
                   [](const UploadQueueRecord& record) { return record.hashcheckresponse == "404"; });
  service_.counters().UploadedBytes = 0;
  service_.counters().ShownUploadedBytes = 0;
  service_.counters().BytesLeft = 0;
  controls_.DurationSeconds = 0;
  // A run that sends nothing must not show the last run's file and seconds as its own.
  controls_.durationLabel = "0";
  controls_.lastUploadedFile.clear();
  statusWindow_.ElapsedSeconds = 0;
  statusWindow_.ItemsStarted = 0;
  statusWindow_.lastTick.reset();
  // The Status tab shows this text too: the last run's speed is not this one's.
  statusWindow_.statusText.clear();
  runFileCounts_ = {};
  service_.retrier().Abandon(false);

  windows_.durationTimerEnabled = true;
  windows_.startTimerEnabled = true;
  windows_.mainWindowVisible = false;
  windows_.statusTimerEnabled = true;
  windows_.statusWindowVisible = true;
  outcome_ = RunOutcome::Running;
  Signal(View::UploadQueue);
  Signal(View::UploadStatus);
  Signal(View::UploadWindows);
}

void UploadPipeline::FinishUploadRun() {
  windows_.durationTimerEnabled = false;
  controls_.stopEnabled = false;
  controls_.clearEnabled = false;
  controls_.removeEnabled = false;
  windows_.statusWindowVisible = false;
  windows_.mainWindowVisible = true;
  windows_.statusTimerEnabled = false;
  SetGlobalProgress(0, controls_.globalMaximum);
  Signal(View::UploadQueue);
  Signal(View::UploadWindows);
}

void UploadPipeline::OnStartTimer(bool anotherActivityRuns) {
  if (!windows_.startTimerEnabled) return;
  if (anotherActivityRuns) {
    Signal(View::UploadWindows);
    return;
  }
  windows_.startTimerEnabled = false;
  Signal(View::UploadWindows);
  TransmitPlaylists();
  UploadNext();
}

void UploadPipeline::OnDurationTimer() {
  if (!windows_.durationTimerEnabled) return;
  ++controls_.DurationSeconds;
  controls_.durationLabel = std::to_string(controls_.DurationSeconds);
  Signal(View::UploadQueue);
}

void UploadPipeline::OnStatusTimer() {
  if (!windows_.statusTimerEnabled) return;
  ++statusWindow_.ElapsedSeconds;
  const RunCounters& counters = service_.counters();
  if (const auto tick = StatusTickFigures(counters.ShownUploadedBytes, counters.BytesLeft, statusWindow_.ElapsedSeconds)) {
    statusWindow_.lastTick = tick;
    statusWindow_.statusText = StatusTickText(*tick, statusWindow_.ItemsStarted, queueCountAtStart_);
  }
  Signal(View::UploadStatus);
  ui().ProcessMessages();
}

void UploadPipeline::StopUpload() {
  uploadStopped_ = true;
  // A retry being waited for is not sent.
  service_.retrier().Abandon();
  windows_.durationTimerEnabled = false;
  controls_.DurationSeconds = 0;
  controls_.stopEnabled = false;
  controls_.resumeEnabled = true;
  if (outcome_ == RunOutcome::Running && !loopActive_) outcome_ = RunOutcome::Stopped;
  Signal(View::UploadQueue);
  Signal(View::UploadWindows);
  ShowStatus(ui(), "Upload has been aborted");
}

void UploadPipeline::ResumeUpload() {
  controls_.resumeEnabled = false;
  controls_.stopEnabled = true;
  uploadStopped_ = false;
  service_.retrier().Abandon(false);
  windows_.durationTimerEnabled = true;
  Signal(View::UploadQueue);
  Signal(View::UploadWindows);
  UploadNext();
}

void UploadPipeline::RecordSkipped(const std::vector<SkippedFile>& files) {
  for (const SkippedFile& file : files) outcomes_.Add({file.path, {}, {}, FileOutcomeKind::Skipped, file.reason});
}

OutcomeLog UploadPipeline::Report() const {
  OutcomeLog report = outcomes_;
  report.SetDryRun(dryRun_);
  if (dryRun_) return report;
  for (const UploadQueueRecord& record : queue_.records()) {
    if (!outcomes_.Has(record.id))
      report.Add({record.location, record.hashid, {}, FileOutcomeKind::NotSent, reason::kStillQueued});
  }
  return report;
}

void UploadPipeline::ClearUploadQueue() {
  queue_.Clear();
  controls_.itemsToUpload = "0";
  // Nothing is left to resume.
  controls_.resumeEnabled = false;
  Signal(View::UploadQueue);
}

void UploadPipeline::StopAndClearUploadQueue() {
  // A record in transfer gets its own outcome when the transfer ends.
  for (const UploadQueueRecord& record : queue_.records())
    outcomes_.Set(record.id, {record.location, record.hashid, {}, FileOutcomeKind::NotSent, reason::kRemovedFromQueue});
  StopUpload();
  ClearUploadQueue();
}

bool UploadPipeline::RemoveQueueItem(std::uint64_t recordId) {
  if (const UploadQueueRecord* record = queue_.Find(recordId)) {
    outcomes_.Set(recordId,
                  {record->location, record->hashid, {}, FileOutcomeKind::NotSent, reason::kRemovedFromQueue});
  }
  const bool removed = queue_.Remove(recordId);
  if (removed) Signal(View::UploadQueue);
  return removed;
}

void UploadPipeline::CloseUploadDoneBar() {
  windows_.uploadDoneBarVisible = false;
  Signal(View::UploadWindows);
}

void UploadPipeline::OpenServiceSite() { ui().OpenUrl(ServiceSiteUrl(service_.baseUrl())); }

void UploadPipeline::CloseStatusWindow() {
  windows_.statusWindowVisible = false;
  windows_.mainWindowVisible = true;
  Signal(View::UploadWindows);
}

void UploadPipeline::ShowAnalysisProgress(const std::string& text) {
  controls_.analysisText = text;
  if (!text.empty() && !stopEnabledBeforeAnalysis_) {
    stopEnabledBeforeAnalysis_ = controls_.stopEnabled;
    controls_.stopEnabled = false;
    // Nothing is counted until the queue is built.
    controls_.itemsToUpload.clear();
    // The bar of the last request is no part of this analysis.
    ui().SetProgress(ProgressBar::File, 0, 1);
  } else if (text.empty() && stopEnabledBeforeAnalysis_) {
    controls_.stopEnabled = *std::exchange(stopEnabledBeforeAnalysis_, std::nullopt);
    controls_.itemsToUpload = std::to_string(queue_.QueueCount());
  }
  Signal(View::UploadQueue);
}

void UploadPipeline::ShowStatusWindow() {
  if (!RunActive()) return;
  windows_.statusWindowVisible = true;
  windows_.mainWindowVisible = false;
  Signal(View::UploadWindows);
}

void UploadPipeline::ShowMainWindow() {
  windows_.mainWindowVisible = true;
  Signal(View::UploadWindows);
}

void UploadPipeline::ShowInvitation() {
  statusWindow_.invitationVisible = true;
  Signal(View::UploadStatus);
}

void UploadPipeline::SetPlayCurrentTrack(bool play) {
  statusWindow_.playCurrentTrack = play;
  Signal(View::UploadStatus);
}

void UploadPipeline::SendInvitation(const std::string& email) {
  statusWindow_.emailInvite = email;
  FormData form;
  form.AddText("email", email);
  try {
    const std::string method = "misc/sendinvitation";
    service_.retrier().Run(method, RepeatSafetyOf(method), [&] {
      HttpReply response;
      service_.Post(method, form, response, false);
    });
  } catch (const std::exception& failure) {
    ui().ShowErrorDisplay(failure.what());
    return;
  }
  statusWindow_.invitationText = kInvitationDone;
  Signal(View::UploadStatus);
}

void UploadPipeline::RefreshUploadStatus() {
  const RunCounters& counters = service_.counters();
  if (counters.ItemsOnGlobalBar) {
    ui().SetProgress(ProgressBar::StatusGlobal, controls_.globalPosition, queueCountAtStart_);
    return;
  }
  ui().SetProgress(ProgressBar::StatusGlobal, counters.ShownUploadedBytes / 1024, counters.TotalBytes / 1024);
}

TransferFigures UploadPipeline::Figures() const {
  TransferFigures figures;
  figures.filesDone = static_cast<int>(controls_.globalPosition);
  figures.filesTotal = queueCountAtStart_;
  const RunCounters& counters = service_.counters();
  // A run of metadata only moves too few bytes to count; the window counts its items instead.
  if (!counters.ItemsOnGlobalBar) {
    figures.bytesDone = counters.ShownUploadedBytes;
    figures.bytesTotal = counters.TotalBytes;
  }
  if (const auto& tick = statusWindow_.lastTick) {
    figures.bytesPerSecond = std::int64_t{tick->kilobytesPerSecond} * 1024;
    figures.secondsLeft = std::max<std::int64_t>(tick->secondsLeft, 0);
  }
  figures.currentFile = FileNamePart(statusWindow_.currentTrack);
  return figures;
}

void UploadPipeline::TransmitPlaylists() {
  std::error_code error;
  if (CurrentPlaylistFile.empty() || !std::filesystem::is_regular_file(CurrentPlaylistFile, error)) return;
  FormData form;
  form.AddFile("filedata", CurrentPlaylistFile, "text/xml");
  service_.Call("set/prefill", std::move(form), true, "");
}

} // namespace velmora

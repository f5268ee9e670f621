#include "service/TransferProgress.h"

namespace velmora {

void RequestProgress::Update(std::int64_t sendTotal, std::int64_t sent, std::int64_t receiveTotal,
                             std::int64_t received) {
  bool movedAny = false;
  // Counts that go back mean a new request after a redirect: its bytes are new bytes.
  if (sent < send_.moved || received < receive_.moved) {
    send_ = {};
    receive_ = {};
  }
  if (!send_.begun && sendTotal > 0) Begin(send_, sendTotal);
  if (sent > send_.moved) {
    if (!send_.begun) Begin(send_, sendTotal);
    Moved(send_, sent);
    movedAny = true;
  }
  if (!receive_.begun && (receiveTotal > 0 || received > 0)) Begin(receive_, receiveTotal);
  if (received > receive_.moved) {
    Moved(receive_, received);
    movedAny = true;
  }
  // The client also reports while it waits for a slow server; the window must stay alive then too.
  if (!movedAny) ui_.ProcessMessages();
}

void RequestProgress::Begin(Direction& direction, std::int64_t total) {
  direction.begun = true;
  direction.maximum = total;
  ui_.SetProgress(ProgressBar::File, 0, total);
}

void RequestProgress::Moved(Direction& direction, std::int64_t count) {
  ui_.ProcessMessages();
  ui_.SetProgress(ProgressBar::File, count, direction.maximum);
  counters_.UploadedBytes += count - direction.moved;
  direction.moved = count;
  counters_.ShownUploadedBytes = counters_.UploadedBytes;
  if (!counters_.ItemsOnGlobalBar) {
    ui_.SetProgress(ProgressBar::StatusGlobal, counters_.ShownUploadedBytes / 1024, counters_.TotalBytes / 1024);
  }
  counters_.BytesLeft = counters_.TotalBytes - counters_.ShownUploadedBytes;
}

void DownloadProgress::Update(std::int64_t total, std::int64_t received) {
  if (!begun_ && (total > 0 || received > 0)) {
    begun_ = true;
    maximum_ = total;
    ui_.SetProgress(ProgressBar::DownloadFile, 0, maximum_);
  }
  if (received > received_) {
    received_ = received;
    ui_.SetProgress(ProgressBar::DownloadFile, received_, maximum_);
  }
  ui_.ProcessMessages();
}

void DownloadProgress::End() { ui_.SetProgress(ProgressBar::DownloadFile, 0, maximum_); }

} // namespace velmora

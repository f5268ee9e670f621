#pragma once
// The upload queue: the files of the last build that still have to go to the service, consumed
// from the front by the upload loop and shown as the Status tab's grid.

#include <cstdint>
#include <deque>
#include <string>

namespace velmora {

// Files of this size or more are never queued (20 MiB).
inline constexpr std::int64_t kMaxUploadFileSize = 20971520;

struct UploadQueueRecord {
  // Stable for the record's life, so that the loop and the grid name a record, not a row number
  // that shifts under them.
  std::uint64_t id = 0;
  std::string hashid;
  // name, artist and album hold at most 255 characters, autoadd2plist at most 100; longer texts
  // are cut when the record is stored.
  std::string artist;
  std::string album;
  // The full path, never cut: a cut path could not be opened by the loop.
  std::string location;
  // The item metadata document sent as the file's metadata.
  std::string xml;
  std::string name;
  std::int64_t size = 0;
  std::string hashcheckresponse;
  // The playlist every file of a dropped-files run is added to; empty for none.
  std::string autoadd2plist;
};

class UploadQueue {
public:
  int QueueCount() const { return static_cast<int>(records_.size()); }
  bool empty() const { return records_.empty(); }
  // The record the loop works on next; nullptr when the queue is empty.
  const UploadQueueRecord* First() const { return records_.empty() ? nullptr : &records_.front(); }
  // Appends a record and returns the id it was given.
  std::uint64_t Append(UploadQueueRecord record);
  // Removes the record with this id; false when it is no longer there.
  bool Remove(std::uint64_t id);
  const UploadQueueRecord* Find(std::uint64_t id) const;
  void Clear() { records_.clear(); }
  const std::deque<UploadQueueRecord>& records() const { return records_; }

private:
  std::deque<UploadQueueRecord> records_;
  std::uint64_t nextId_ = 1;
};

} // namespace velmora

#include "upload/UploadQueue.h"

#include <algorithm>

namespace velmora {

std::uint64_t UploadQueue::Append(UploadQueueRecord record) {
  record.id = nextId_++;
  records_.push_back(std::move(record));
  return records_.back().id;
}

bool UploadQueue::Remove(std::uint64_t id) {
  // The loop removes the record it just sent, which is nearly always the first.
  const auto it =
      std::find_if(records_.begin(), records_.end(), [id](const UploadQueueRecord& r) { return r.id == id; });
  if (it == records_.end()) return false;
  records_.erase(it);
  return true;
}

const UploadQueueRecord* UploadQueue::Find(std::uint64_t id) const {
  const auto it =
      std::find_if(records_.begin(), records_.end(), [id](const UploadQueueRecord& r) { return r.id == id; });
  return it == records_.end() ? nullptr : &*it;
}

} // namespace velmora

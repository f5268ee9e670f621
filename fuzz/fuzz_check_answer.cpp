// Fuzzes the duplicate check's answer walker: any answer gives (hash id, code) pairs that mark
// media items exactly as marking them one pair after the other does.

#include "FuzzInput.h"
#include "upload/DuplicateCheck.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  const auto pairs = ReadCheckAnswer(answer);
  // Items for every answered hash id (some twice) and one nobody answered.
  MediaItems items;
  for (const auto& [hashId, code] : pairs) {
    MediaItem item;
    item.HashValue = hashId;
    items.push_back(item);
    if (code % 2 == 0) items.push_back(item);
  }
  MediaItem unanswered;
  unanswered.HashValue = "not answered";
  unanswered.HashCheckResponse = -7;
  items.push_back(unanswered);
  MediaItems oneByOne = items;
  MarkCheckResponses(items, pairs);
  for (const auto& [hashId, code] : pairs) MarkCheckResponse(oneByOne, code, hashId);
  fuzz::Check(items.size() == oneByOne.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    fuzz::Check(items[i].HashCheckResponse == oneByOne[i].HashCheckResponse);
  }
  return 0;
}

#pragma once
// Asking the service which collected files it already holds: every hash id goes out in one hash
// list file, and each answered code lands on the media items with that hash id.

#include "model/MediaItem.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// Writes the exchange file "mediaitems_hash_" + source + ".xml" (see WriteExchangeFile): "items"
// with one "item"/"hashvalue" per media item, in order, unfiltered. Returns the path of the
// program's own copy. Throws std::runtime_error naming the file when it cannot be written.
std::string WriteHashListFile(const MediaItems& items, SourceNumber source);

// Sets the code on every item whose HashValue equals the hash id exactly.
void MarkCheckResponse(MediaItems& items, std::int32_t code, const std::string& hashId);

// The (hash id, code) pairs of an answer's "//result/items/item" nodes, in document order. Items
// without two child elements with text, or whose code is not a 32-bit decimal number, are left
// out: they tell nothing about any file.
std::vector<std::pair<std::string, std::int32_t>> ReadCheckAnswer(const std::string& answer);

// MarkCheckResponse for every pair in order (a later code for the same hash id wins), through one
// index of the items instead of a walk of all items per pair.
void MarkCheckResponses(MediaItems& items, const std::vector<std::pair<std::string, std::int32_t>>& answers);

} // namespace velmora

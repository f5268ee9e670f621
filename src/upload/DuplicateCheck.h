#pragma once
// Asking the service which collected files it already holds: every hash id goes out in one hash
// list file, and each answered code lands on the media items with that hash id.

#include "base/Ui.h"
#include "model/MediaItem.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// Writes the exchange file "mediaitems_hash_" + source + ".xml" (see WriteExchangeFile): "items"
// with one "item"/"hashvalue" per media item, in order, unfiltered. Returns the path of the
// program's own copy, letting the window answer meanwhile. Throws std::runtime_error naming the
// file when it cannot be written.
std::string WriteHashListFile(const MediaItems& items, SourceNumber source, Ui& ui);

// Sets the code on every item whose HashValue equals the hash id exactly.
void MarkCheckResponse(MediaItems& items, std::int32_t code, const std::string& hashId);

// The (hash id, code) pairs of an answer's "//result/items/item" nodes, in document order. Items
// without two child elements with text, or whose code is not a 32-bit decimal number, are left
// out: they tell nothing about any file. `step`, when given, is called once per answer item: where
// the caller lets the window answer during a long answer.
std::vector<std::pair<std::string, std::int32_t>> ReadCheckAnswer(const std::string& answer,
                                                                  const std::function<void()>& step = {});

// MarkCheckResponse for every pair in order (a later code for the same hash id wins), through one
// index of the items instead of a walk of all items per pair. `step`, when given, is called once
// per item indexed and once per pair.
void MarkCheckResponses(MediaItems& items, const std::vector<std::pair<std::string, std::int32_t>>& answers,
                        const std::function<void()>& step = {});

} // namespace velmora

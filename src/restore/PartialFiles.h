#pragma once
// The hidden partial files a download is written into before it takes its target's name, and the
// clean-up of those that killed programs left behind.

#include "store/Sha1.h"

#include <cstddef>
#include <filesystem>
#include <functional>

namespace velmora {

// Runs `get` into a new hidden partial file beside `target` (created and locked here), feeding
// `digest` the body as it arrives, then renames it to `target`. On any failure the partial file is
// removed and the failure rethrown. Safe on a lane: it touches nothing but the file system.
using BodyObserver = std::function<void(const char* data, std::size_t size)>;
void DownloadThroughPartialFile(const std::filesystem::path& target, Sha1Stream& digest,
                                const std::function<void(const std::filesystem::path&, const BodyObserver&)>& get);

// Removes what downloads of programs that were killed left in the target folder and the
// playlist folders in it: partial files that no running program holds.
void RemoveLeftoverPartialFiles(const std::filesystem::path& target);

} // namespace velmora

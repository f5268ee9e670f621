#pragma once
// Hash ids of audio files, cached in the metadata database by absolute path together with the
// file's size and modification time, so a file is read again only when it changed.

#include "base/Ui.h"
#include "store/HashWorkers.h"
#include "store/Sha1.h"

#include <SQLiteCpp/Database.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class Fingerprinter;

// Records that the file under `key` (a LookupKey) with these facts has this hash id: its rows are
// replaced in one transaction, as after hashing it. For files whose digest was taken another way
// (a restore hashes each download as it arrives).
void StoreFileHash(SQLite::Database& meta, const std::string& key, const std::string& hashId, const FileFacts& facts);

// While it lives, the fingerprinter answers the listed files from one batch of cache look-ups and
// from digests that worker threads compute ahead (see Fingerprinter::HashAhead).
class HashAheadScope {
public:
  HashAheadScope(HashAheadScope&&) noexcept;
  HashAheadScope& operator=(HashAheadScope&&) = delete;
  ~HashAheadScope();

  // What the one `stat` of the list's file `index` found (it follows symbolic links).
  bool Exists(std::size_t index) const;
  bool IsRegularFile(std::size_t index) const;

private:
  friend class Fingerprinter;
  struct Plan;
  HashAheadScope(Fingerprinter& owner, std::unique_ptr<Plan> previous, const Plan* plan);

  Fingerprinter* owner_;
  std::unique_ptr<Plan> previous_; // an enclosing list, back in force when this one ends
  const Plan* plan_;
};

class Fingerprinter {
public:
  Fingerprinter(SQLite::Database& meta, Ui& ui);
  ~Fingerprinter();

  // The hash id of the file's present content: from the cache when the row for its path still
  // names the file's size and modification time, else by reading it (the row is then replaced).
  // "invalidhashvalue" when the file is missing, unreadable, or changed while it was read; no row
  // is written then. A worker reads the file while this thread pumps messages.
  std::string FileFingerprint(const std::string& path);

  // One analysis's files, about to be fingerprinted in this order: each is looked at once (`stat`),
  // the cache is asked for all of them in one read transaction, and the files it does not answer
  // are hashed by the fingerprinter's workers (one per core, started with the first list and kept
  // for every later one) ahead of the FileFingerprint calls, which take the
  // digests in list order on this thread, show the same status lines, write the rows and pump
  // messages while they wait. Calls may leave files of the list out; a path that is not next in
  // the list (or is listed twice) is answered as without a list. When the scope ends the workers
  // leave the files it did not take.
  [[nodiscard]] HashAheadScope HashAhead(const std::vector<std::string>& paths);

  // Whether the "Deep analysis" badge is showing (a file is being read for hashing).
  bool DeepAnalysisVisible() const { return deepAnalysis_; }

  // The key under which a path is cached: the absolute, lexically normal path (relative paths
  // resolve against the current folder). Letter case is kept: on this file system two paths
  // that differ in case are two files.
  static std::string LookupKey(const std::string& path);

  // Runs after every block read while a file is hashed (tests change the file there), on the
  // worker thread that reads it (on this thread for a call made from inside the pump).
  void SetAfterEachBlock(std::function<void()> hook) { afterEachBlock_ = std::move(hook); }

private:
  friend class HashAheadScope;
  using Plan = HashAheadScope::Plan;

  void SetDeepAnalysis(bool visible);
  std::string FromPlan(Plan& plan, std::size_t entry);
  FileDigest TakePumping(HashWorkers::List& list, std::size_t job);
  template <typename Hash>
  std::string HashAndStore(const std::string& key, Hash&& hash);
  void LookUpAll(Plan& plan);
  using Clock = std::chrono::steady_clock;
  // Lets the window answer when the last pump is kPumpInterval ago.
  void PumpNowAndThen(Clock::time_point& pumped);

  SQLite::Database& meta_;
  Ui& ui_;
  bool deepAnalysis_ = false;
  bool waiting_ = false; // pumping messages while a worker hashes: calls from there go without the list
  std::function<void()> afterEachBlock_;
  std::unique_ptr<HashWorkers> workers_; // before plan_, whose lists it serves until they end
  std::unique_ptr<Plan> plan_;
};

} // namespace velmora

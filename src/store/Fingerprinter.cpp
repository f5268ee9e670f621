#include "store/Fingerprinter.h"
#include "base/Text.h"

#include "base/ShowStatus.h"
#include "store/HashWorkers.h"
#include "store/LocalDatabases.h"
#include "store/Sha1.h"
#include "store/Statements.h"

#include <SQLiteCpp/Statement.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>

namespace velmora {

struct HashAheadScope::Plan {
  enum class Found { Missing, Other, Regular };
  struct Entry {
    std::string key;
    FileFacts facts;
    std::optional<std::string> cached; // the cache's answer, when its row names the file as it was
    std::size_t job = 0;               // else the file's place among those the workers hash
  };
  std::vector<Found> found;   // per listed path
  std::vector<Entry> entries; // files that exist, each key once
  std::unordered_map<std::string, std::size_t> entryOf;
  std::size_t next = 0; // entries before it are taken or passed over
  std::unique_ptr<HashWorkers::List> hashing;
};

namespace {

// How often the window's messages are pumped while the engine waits for a worker's digest.
constexpr std::chrono::milliseconds kPumpInterval{50};

// The hash id of the row `lookup` steps to, when that row names the file as it is now.
std::optional<std::string> MatchingHashId(SQLite::Statement& lookup, const FileFacts& now) {
  if (!lookup.executeStep()) return std::nullopt;
  const SQLite::Column size = lookup.getColumn("filesize");
  const SQLite::Column modified = lookup.getColumn("filemtime");
  // Rows of an earlier version lack the facts; like rows of a changed file they are misses.
  if (size.isNull() || modified.isNull()) return std::nullopt;
  if (!(FileFacts{size.getInt64(), modified.getInt64()} == now)) return std::nullopt;
  return lookup.getColumn("hashid").getString();
}

// The cached hash id of the first row for `key`, when that row names the file as it is now.
std::optional<std::string> CachedHashId(SQLite::Database& meta, const std::string& key, const FileFacts& now) {
  return RunStatement(meta, sql::kSelectKnownHash, [&](SQLite::Statement& lookup) {
    lookup.bind(":location", key);
    return MatchingHashId(lookup, now);
  });
}

} // namespace

void StoreFileHash(SQLite::Database& meta, const std::string& key, const std::string& hashId, const FileFacts& facts) {
  SQLite::Transaction transaction = BeginTransaction(meta);
  RunStatement(meta, sql::kDeleteKnownHash, [&](SQLite::Statement& remove) {
    remove.bind(":location", key);
    remove.exec();
  });
  RunStatement(meta, sql::kInsertKnownHash, [&](SQLite::Statement& insert) {
    insert.bind(":hashid", TrimmedBlanksAndControls(hashId));
    insert.bind(":location", key);
    insert.bind(":filesize", facts.size);
    insert.bind(":filemtime", facts.modifiedNs);
    insert.exec();
  });
  CommitTransaction(transaction);
}

HashAheadScope::HashAheadScope(Fingerprinter& owner, std::unique_ptr<Plan> previous, const Plan* plan)
    : owner_(&owner), previous_(std::move(previous)), plan_(plan) {}

HashAheadScope::HashAheadScope(HashAheadScope&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), previous_(std::move(other.previous_)), plan_(other.plan_) {}

HashAheadScope::~HashAheadScope() {
  if (owner_) owner_->plan_ = std::move(previous_); // the workers leave this list's files
}

bool HashAheadScope::Exists(std::size_t index) const { return plan_->found.at(index) != Plan::Found::Missing; }

bool HashAheadScope::IsRegularFile(std::size_t index) const { return plan_->found.at(index) == Plan::Found::Regular; }

Fingerprinter::Fingerprinter(SQLite::Database& meta, Ui& ui)
    : meta_(meta), ui_(ui), workers_(std::make_unique<HashWorkers>()) {}

Fingerprinter::~Fingerprinter() = default;

std::string Fingerprinter::LookupKey(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

void Fingerprinter::SetDeepAnalysis(bool visible) {
  deepAnalysis_ = visible;
  ui_.ViewChanged(View::DeepAnalysis);
}

template <typename Hash>
std::string Fingerprinter::HashAndStore(const std::string& key, Hash&& hash) {
  SetDeepAnalysis(true);
  try {
    ShowStatus(ui_, "Deep analysis of " + key);
    ui_.ProcessMessages();
    const FileDigest digest = hash();
    // Unreadable now, or still being written: a later call tries again.
    if (digest.outcome != FileDigest::Outcome::Hashed) {
      SetDeepAnalysis(false);
      return kInvalidHashValue;
    }
    StoreFileHash(meta_, key, digest.hashId, digest.facts);
    SetDeepAnalysis(false);
    return digest.hashId;
  } catch (...) {
    SetDeepAnalysis(false);
    throw;
  }
}

std::string Fingerprinter::FileFingerprint(const std::string& path) {
  const std::string key = LookupKey(path);
  if (plan_ && !waiting_) {
    const auto listed = plan_->entryOf.find(key);
    if (listed != plan_->entryOf.end() && listed->second >= plan_->next) return FromPlan(*plan_, listed->second);
  }

  struct stat info {};
  if (::stat(key.c_str(), &info) != 0) return kInvalidHashValue;
  try {
    if (auto cached = CachedHashId(meta_, key, FileFacts::Of(info))) return std::move(*cached);
  } catch (const std::exception& failure) {
    ui_.ShowMessage("error with " + key);
    ui_.ShowErrorDisplay(failure.what());
    return kInvalidHashValue;
  }
  return HashAndStore(key, [&] {
    // A call from inside the pump is answered at once, on this thread: a wait inside a wait
    // would hold the outer analysis up behind it.
    if (waiting_) return Sha1OfFileChecked(key, afterEachBlock_);
    // One file at a time (the iTunes source) still goes to the workers, so messages are pumped
    // while a long file is read.
    const std::unique_ptr<HashWorkers::List> one = workers_->Start({key}, 1, afterEachBlock_);
    return TakePumping(*one, 0);
  });
}

FileDigest Fingerprinter::TakePumping(HashWorkers::List& list, std::size_t job) {
  // Messages pumped while waiting may call in again (a click, a timer): those calls go without
  // the list, whose order belongs to the analysis that made it.
  struct Waiting {
    bool& flag;
    const bool before;
    explicit Waiting(bool& f) : flag(f), before(std::exchange(f, true)) {}
    ~Waiting() { flag = before; }
  } waiting(waiting_);
  return list.Take(
      job, [this] { ui_.ProcessMessages(); }, kPumpInterval);
}

std::string Fingerprinter::FromPlan(Plan& plan, std::size_t entry) {
  plan.next = entry + 1;
  const Plan::Entry& file = plan.entries[entry];
  if (file.cached) return *file.cached;
  return HashAndStore(file.key, [&] { return TakePumping(*plan.hashing, file.job); });
}

void Fingerprinter::LookUpAll(Plan& plan) {
  // One read transaction and one prepared statement per share of the list: the database is
  // locked once per share, not once per file, and the window answers between shares (messages
  // are never pumped inside a transaction: a call they make may write to the cache).
  constexpr std::size_t kShare = 500;
  Clock::time_point pumped = Clock::now();
  for (std::size_t first = 0; first < plan.entries.size(); first += kShare) {
    const std::size_t end = std::min(plan.entries.size(), first + kShare);
    SQLite::Transaction read = BeginTransaction(meta_);
    RunStatement(meta_, sql::kSelectKnownHash, [&](SQLite::Statement& lookup) {
      for (std::size_t i = first; i < end; ++i) {
        Plan::Entry& entry = plan.entries[i];
        lookup.bind(":location", entry.key);
        entry.cached = MatchingHashId(lookup, entry.facts);
        lookup.reset();
      }
    });
    CommitTransaction(read);
    PumpNowAndThen(pumped);
  }
}

void Fingerprinter::PumpNowAndThen(Clock::time_point& pumped) {
  const Clock::time_point now = Clock::now();
  if (now - pumped < kPumpInterval) return;
  pumped = now;
  ui_.ProcessMessages();
}

HashAheadScope Fingerprinter::HashAhead(const std::vector<std::string>& paths) {
  auto plan = std::make_unique<Plan>();
  plan->found.reserve(paths.size());
  Clock::time_point pumped = Clock::now();
  for (const std::string& path : paths) {
    // A list of tens of thousands of files takes a while even when all are cached.
    if (plan->found.size() % 256 == 255) PumpNowAndThen(pumped);
    std::string key = LookupKey(path);
    struct stat info {};
    if (::stat(key.c_str(), &info) != 0) {
      plan->found.push_back(Plan::Found::Missing);
      continue;
    }
    plan->found.push_back(S_ISREG(info.st_mode) ? Plan::Found::Regular : Plan::Found::Other);
    if (plan->entryOf.count(key)) continue; // a second call finds the first one's row
    plan->entryOf.emplace(key, plan->entries.size());
    plan->entries.push_back({std::move(key), FileFacts::Of(info), std::nullopt, 0});
  }

  try {
    LookUpAll(*plan);
  } catch (const std::exception&) {
    // Each call then meets the failure itself and reports it as without a list.
    plan->entries.clear();
    plan->entryOf.clear();
  }

  std::vector<std::string> toHash;
  for (Plan::Entry& entry : plan->entries) {
    if (entry.cached) continue;
    entry.job = toHash.size();
    toHash.push_back(entry.key);
  }
  // Two files per worker ahead of the engine keep every worker busy while it writes rows.
  if (!toHash.empty())
    plan->hashing = workers_->Start(std::move(toHash), 2 * std::size_t{workers_->threads()}, afterEachBlock_);
  const Plan* listed = plan.get();
  std::unique_ptr<Plan> previous = std::exchange(plan_, std::move(plan));
  return HashAheadScope(*this, std::move(previous), listed);
}

} // namespace velmora

#include "Monitor.h"

#include <algorithm>

namespace velmora::locker {
namespace {

constexpr std::pair<FaultKind, const char*> kKindNames[] = {
    {FaultKind::Fail, "fail"},   {FaultKind::Http, "http"}, {FaultKind::NotXml, "notxml"},
    {FaultKind::Stall, "stall"}, {FaultKind::Cut, "cut"},   {FaultKind::CutUpload, "cut-upload"},
};

// Garbage method names must not grow the table without bound.
constexpr std::size_t kMaxCounters = 512;

} // namespace

const char* FaultKindName(FaultKind kind) {
  for (const auto& [k, name] : kKindNames)
    if (k == kind) return name;
  return "?";
}

std::optional<FaultKind> FaultKindFromName(const std::string& name) {
  for (const auto& [kind, text] : kKindNames)
    if (name == text) return kind;
  return std::nullopt;
}

int FaultBoard::Add(Fault fault) {
  std::lock_guard lock(mutex_);
  fault.id = nextId_++;
  fault.fired = 0;
  faults_.push_back(std::move(fault));
  return faults_.back().id;
}

std::optional<Fault> FaultBoard::Take(const std::string& target, bool isRestMethod, bool receivingPhase) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if ((it->kind == FaultKind::CutUpload) != receivingPhase) continue;
    if (!(it->target == target || (it->target == "*" && isRestMethod))) continue;
    it->fired++;
    Fault taken = *it;
    if (it->remaining > 0 && --it->remaining == 0) faults_.erase(it);
    return taken;
  }
  return std::nullopt;
}

std::vector<Fault> FaultBoard::List() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

void FaultBoard::Reset() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

Counter& Stats::At(const std::string& target) {
  auto it = counters_.find(target);
  if (it != counters_.end()) return it->second;
  if (counters_.size() >= kMaxCounters) return counters_["(other)"];
  return counters_[target];
}

void Stats::Request(const std::string& target) {
  std::lock_guard lock(mutex_);
  At(target).requests++;
}

void Stats::Failure(const std::string& target) {
  std::lock_guard lock(mutex_);
  At(target).failures++;
}

void Stats::Fault(const std::string& target) {
  std::lock_guard lock(mutex_);
  At(target).faults++;
}

std::map<std::string, Counter> Stats::Snapshot() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

void Stats::Reset() {
  std::lock_guard lock(mutex_);
  counters_.clear();
}

void RequestLog::Add(LoggedRequest request) {
  std::lock_guard lock(mutex_);
  request.seq = nextSeq_++;
  requests_.push_back(std::move(request));
  while (requests_.size() > kCapacity) requests_.pop_front();
}

std::vector<LoggedRequest> RequestLog::Recent(std::size_t limit) const {
  std::lock_guard lock(mutex_);
  const std::size_t count = std::min(limit, requests_.size());
  return {requests_.end() - static_cast<std::ptrdiff_t>(count), requests_.end()};
}

void RequestLog::Reset() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

} // namespace velmora::locker

#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmora::locker {

enum class FaultKind {
  Fail,      // answer a failure envelope with a chosen code and message; the method does not run
  Http,      // answer a chosen HTTP status (500 unless told); the method does not run
  NotXml,    // answer HTTP 200 with a body that is not XML; the method does not run
  Stall,     // wait, then answer normally
  Cut,       // run normally, then close the connection after N bytes of the answer body
  CutUpload, // close the connection after N bytes of form content have arrived; nothing is kept
};

const char* FaultKindName(FaultKind kind);
std::optional<FaultKind> FaultKindFromName(const std::string& name);

struct Fault {
  int id = 0;
  std::string target; // a REST method ("items/add"), "upload", "download", or "*"
  FaultKind kind = FaultKind::Fail;
  int code = 0;            // Fail
  std::string message;     // Fail
  int status = 500;        // Http
  std::string body;        // Http, NotXml
  std::string retryAfter;  // Http: a Retry-After header with this text (normally seconds); none when empty
  int delayMs = 0;         // every kind waits this long before its answer
  std::uint64_t bytes = 0; // Cut, CutUpload
  int remaining = 1;       // requests it still applies to; -1 until reset
  int fired = 0;
};

// Faults that tests arm through the control interface. Each request takes at most one fault of
// the receiving phase (CutUpload) and one of the answering phase (all other kinds), the oldest
// armed one first.
class FaultBoard {
public:
  int Add(Fault fault);
  // `target` is the REST method or "upload"/"download"; "*" matches REST methods only.
  std::optional<Fault> Take(const std::string& target, bool isRestMethod, bool receivingPhase);
  std::vector<Fault> List() const;
  void Reset();

private:
  mutable std::mutex mutex_;
  std::vector<Fault> faults_;
  int nextId_ = 1;
};

struct Counter {
  std::uint64_t requests = 0;
  std::uint64_t failures = 0; // failure envelopes and HTTP error statuses sent
  std::uint64_t faults = 0;   // answers shaped by an armed fault
};

// Request counts per REST method and per "upload", "download", "web" and "control".
class Stats {
public:
  void Request(const std::string& target);
  void Failure(const std::string& target);
  void Fault(const std::string& target);
  std::map<std::string, Counter> Snapshot() const;
  void Reset();

private:
  Counter& At(const std::string& target);
  mutable std::mutex mutex_;
  std::map<std::string, Counter> counters_;
};

struct LoggedField {
  std::string name, filename, contentType;
  bool isFile = false;
  std::uint64_t size = 0;
  std::string value; // text fields only, at most 1024 bytes
};

struct LoggedRequest {
  std::uint64_t seq = 0;
  std::string target;
  std::string path;
  std::string userAgent;
  std::string contentType;
  std::vector<LoggedField> fields;
  int httpStatus = 0;
  int code = 0;        // envelope error code (0 on success)
  std::string outcome; // "ok", "failed", "fault:<kind>", "cut", "malformed"
};

// The last requests to the REST methods and upload addresses, with their fields in wire order.
class RequestLog {
public:
  static constexpr std::size_t kCapacity = 500;
  void Add(LoggedRequest request);
  std::vector<LoggedRequest> Recent(std::size_t limit) const;
  void Reset();

private:
  mutable std::mutex mutex_;
  std::deque<LoggedRequest> requests_;
  std::uint64_t nextSeq_ = 1;
};

} // namespace velmora::locker

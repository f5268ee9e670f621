#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Envelope.h"
#include "FormReader.h"
#include "Library.h"
#include "Monitor.h"
#include "ObjectStore.h"
#include "Options.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace velmora::locker {

// The application key every client request must carry.
inline constexpr const char* kAppKey = "3F7A19B2-6C4E-81D0-9B2E5F07A6C4D318";

// A Velmora-compatible service: the REST methods, upload and download addresses, the control
// interface for tests and a small web site, on one cpp-httplib server.
class Locker {
public:
  explicit Locker(LockerOptions options);
  ~Locker();
  Locker(const Locker&) = delete;
  Locker& operator=(const Locker&) = delete;

  // Opens the listening socket (port 0: any free port) and returns the port. Throws
  // std::runtime_error when the address cannot be bound.
  int Bind();
  // Answers requests until Stop(). Bind() first.
  void Serve();
  // Bind() and Serve() on a thread of its own; returns the port.
  int Start();
  // Ends Serve(), wakes stalled requests and waits for the thread Start() made.
  void Stop();

  int port() const { return port_; }
  const std::string& host() const { return options_.host; }
  // "http://HOST:PORT"
  std::string BaseUrl() const;
  bool controlEnabled() const { return controlEnabled_; }
  const std::filesystem::path& dataDir() const { return dataDir_; }

  void AddUser(const std::string& name, const std::string& password);
  // A fresh one-use upload address for the user, as "items/add" would name it.
  std::string NewUploadAddress(const std::string& user, const std::string& playlist, const std::string& announcedHash,
                               const std::string& base);

  Library& library() { return *library_; }
  ObjectStore& objects() { return *objects_; }
  FaultBoard& faults() { return faults_; }
  Stats& stats() { return stats_; }
  RequestLog& requests() { return requests_; }

private:
  using Request = httplib::Request;
  using Response = httplib::Response;
  using ContentReader = httplib::ContentReader;

  struct UploadTicket {
    std::string user;
    std::string playlist;
    std::string announcedHash;
    std::chrono::steady_clock::time_point expires;
    bool busy = false;
  };
  struct DownloadTicket {
    std::string hashId;
    std::string fileName;
    std::chrono::steady_clock::time_point expires;
  };

  void Routes();
  // The base for addresses handed to a client: the Host it used, when that is a plain host name.
  std::string PublicBase(const Request& request) const;
  // Waits `ms` milliseconds or until Stop().
  void Sleep(int ms);

  // REST methods (RestApi.cpp)
  void HandleRest(const Request& request, Response& response, const ContentReader* reader);
  Envelope RunMethod(const std::string& method, const Form& form, const Request& request);
  Envelope CheckAccess(const Form& form, const User& user);
  Envelope SetsGet(const User& user);
  Envelope SetItems(const Form& form, const User& user);
  Envelope ItemsGet(const Form& form, const User& user);
  Envelope Deliver(const Form& form, const User& user, const Request& request);
  Envelope CheckHashValues(const Form& form, const User& user);
  Envelope Prefill(const Form& form, const User& user);
  Envelope TransmitFile(const Form& form, const User& user);
  Envelope ItemsAdd(const Form& form, const User& user, const Request& request);
  Envelope SendInvitation(const Form& form, const User& user);
  // Sends the envelope, cut after `cutAfter` body bytes when a fault asks for it.
  void Answer(const Request& request, Response& response, const Envelope& envelope,
              std::optional<std::uint64_t> cutAfter, int httpStatus = 200);
  // Applies an answering-phase fault; true when it produced the answer itself.
  bool ApplyFault(const Fault& fault, const Request& request, Response& response, LoggedRequest& entry,
                  std::optional<std::uint64_t>& cutAfter);

  // Upload and download addresses (Transfers.cpp)
  void HandleUpload(const Request& request, Response& response, const ContentReader* reader);
  void HandleDownload(const Request& request, Response& response);

  // Control interface (Control.cpp)
  void ControlRoutes();

  // Web site (WebPages.cpp)
  void WebRoutes();
  std::optional<std::string> SessionUser(const Request& request) const;

  LockerOptions options_;
  std::filesystem::path dataDir_;
  bool ownsDataDir_ = false;
  bool controlEnabled_ = false;
  std::unique_ptr<ObjectStore> objects_;
  std::unique_ptr<Library> library_;
  FaultBoard faults_;
  Stats stats_;
  RequestLog requests_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;

  std::mutex ticketsMutex_;
  std::map<std::string, UploadTicket> uploads_;
  std::map<std::string, DownloadTicket> downloads_;
  mutable std::mutex sessionsMutex_;
  std::map<std::string, std::string> sessions_; // session id -> user name

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  std::atomic<bool> stopping_{false};
};

} // namespace velmora::locker

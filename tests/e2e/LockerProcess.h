#pragma once
// velmora-locker as a child process on a free loopback port, for end-to-end tests.

#include <pugixml.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::test {

class LockerProcess {
public:
  // Starts VELMORA_LOCKER_PATH with --host 127.0.0.1 --port 0 (unless `arguments` name a port)
  // and `arguments`, and waits for its "listening on" line. Throws std::runtime_error when it does
  // not come up.
  explicit LockerProcess(const std::vector<std::string>& arguments = {});
  ~LockerProcess();
  LockerProcess(const LockerProcess&) = delete;
  LockerProcess& operator=(const LockerProcess&) = delete;

  // Ends it at once, as a crash would (SIGKILL): connections die without an answer.
  void Kill();

  // False when this build has no velmora-locker; tests skip then.
  static bool Available();

  int port() const { return port_; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string baseUrl() const { return "http://" + hostPort(); }

  // POSTs to the control interface, e.g. Control("/_control/playlists", {{"user", "alice"}}),
  // and returns the answer body. Throws std::runtime_error unless the answer is 2xx.
  std::string Control(const std::string& path, const std::map<std::string, std::string>& parameters = {},
                      bool post = true) const;

  // GETs a control document, e.g. Document("/_control/playlists", {{"user", "alice"}}).
  pugi::xml_document Document(const std::string& path, const std::map<std::string, std::string>& parameters = {}) const;
  // The service holds the file's content as another user's upload: its duplicate check then
  // answers that only metadata need go.
  void StoreContent(const std::filesystem::path& file) const;
  // Requests per target ("items/add", "items/get/deliver", "upload", "download", ...) since the
  // start or the last "/_control/stats/reset".
  std::map<std::string, int> RequestCounts() const;
  // The number of the last request logged, for RequestsSince.
  unsigned long long LastRequest() const;
  // Every request answered after `after`, sorted, one line each: what was asked, its HTTP status
  // and each field sent, a file field by its type and size (exchange files have names of their
  // own), keys as "KEY". Requests cut by a fault are left out: how far they got, and how often a
  // kept connection is tried again, is timing.
  std::vector<std::string> RequestsSince(unsigned long long after) const;

private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A port on which nothing listens (bound once, then released).
int ClosedLoopbackPort();

} // namespace velmora::test

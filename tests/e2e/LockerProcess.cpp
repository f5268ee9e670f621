#include "LockerProcess.h"

#include "TempHome.h"

#include <curl/curl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {
namespace {

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

} // namespace

bool LockerProcess::Available() { return std::string(VELMORA_LOCKER_PATH).size() > 0; }

LockerProcess::LockerProcess(const std::vector<std::string>& arguments) {
  if (!Available()) throw std::runtime_error("this build has no velmora-locker");
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args = {VELMORA_LOCKER_PATH, "--host", "127.0.0.1"};
  if (std::find(arguments.begin(), arguments.end(), "--port") == arguments.end()) {
    args.push_back("--port");
    args.push_back("0");
  }
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // A test that crashes must not leave its service running (and holding the test's output open).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c;
  while (line.find('\n') == std::string::npos) {
    pollfd ready{out[0], POLLIN, 0};
    if (::poll(&ready, 1, 20000) <= 0 || ::read(out[0], &c, 1) != 1) break;
    line += c;
  }
  ::close(out[0]);
  const std::size_t colon = line.rfind(':');
  if (line.find("listening on") == std::string::npos || colon == std::string::npos) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("velmora-locker did not start: " + line);
  }
  port_ = std::stoi(line.substr(colon + 1));
}

void LockerProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

LockerProcess::~LockerProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) return;
    ::usleep(50000);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
}

std::string LockerProcess::Control(const std::string& path, const std::map<std::string, std::string>& parameters,
                                   bool post) const {
  CURL* curl = curl_easy_init();
  std::string query;
  for (const auto& [name, value] : parameters) {
    char* escaped = curl_easy_escape(curl, value.c_str(), static_cast<int>(value.size()));
    query += (query.empty() ? "?" : "&") + name + "=" + escaped;
    curl_free(escaped);
  }
  const std::string url = baseUrl() + path + query;
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  if (post) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK || status < 200 || status >= 300) {
    throw std::runtime_error("control request " + url + " failed: " + body);
  }
  return body;
}

pugi::xml_document LockerProcess::Document(const std::string& path,
                                           const std::map<std::string, std::string>& parameters) const {
  pugi::xml_document document;
  const std::string body = Control(path, parameters, false);
  if (!document.load_string(body.c_str())) throw std::runtime_error("control answer is not XML: " + body);
  return document;
}

std::map<std::string, int> LockerProcess::RequestCounts() const {
  std::map<std::string, int> counts;
  const pugi::xml_document stats = Document("/_control/stats");
  for (const auto& counter : stats.select_nodes("/stats/counter")) {
    counts[counter.node().attribute("target").value()] = counter.node().attribute("requests").as_int();
  }
  return counts;
}

unsigned long long LockerProcess::LastRequest() const {
  const pugi::xml_document log = Document("/_control/requests", {{"limit", "1"}});
  return log.select_node("/requests/request/@seq").attribute().as_ullong();
}

std::vector<std::string> LockerProcess::RequestsSince(unsigned long long after) const {
  std::vector<std::string> requests;
  const pugi::xml_document log = Document("/_control/requests", {{"limit", "500"}});
  for (const pugi::xpath_node& node : log.select_nodes("/requests/request")) {
    const pugi::xml_node request = node.node();
    if (request.attribute("seq").as_ullong() <= after || request.attribute("status").as_int() == 0) continue;
    std::string line = std::string(request.attribute("target").value()) + " " + request.attribute("status").value();
    for (const pugi::xml_node field : request.children("field")) {
      line += std::string(" ") + field.attribute("name").value() + "=";
      line += field.attribute("file")
                  ? std::string("file:") + field.attribute("contenttype").value() + ":" + field.attribute("size").value()
                  : field.text().get();
    }
    requests.push_back(std::regex_replace(line, std::regex("[0-9a-f]{32}"), "KEY"));
  }
  std::sort(requests.begin(), requests.end());
  return requests;
}

int ClosedLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(s);
  return ntohs(address.sin_port);
}

void LockerProcess::StoreContent(const std::filesystem::path& file) const {
  RunCommand("curl -s -f --data-binary @" + ShellQuote(file.string()) +
             " -H 'Content-Type: application/octet-stream' " + baseUrl() + "/_control/objects");
}

} // namespace velmora::test

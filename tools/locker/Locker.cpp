#include "Locker.h"

#include <httplib.h>

#include <cstdio>
#include <stdexcept>

#include "Digest.h"
#include "Net.h"

namespace velmora::locker {
namespace {

constexpr std::size_t kSmallBodyLimit = 1 << 20;
constexpr std::size_t kSeedObjectLimit = 256 << 20;
constexpr auto kTicketLifetime = std::chrono::hours(1);
constexpr std::size_t kMaxTickets = 100000;

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Paths whose handlers read the body themselves, in bounded pieces.
bool IsStreamingPath(const std::string& path) {
  std::size_t slashes = 0;
  while (slashes < path.size() && path[slashes] == '/') ++slashes;
  return (slashes > 0 && path.compare(slashes, 9, "api/rest/") == 0) || StartsWith(path, "/upload/") ||
         path == "/_control/sink";
}

template <class Tickets>
void Prune(Tickets& tickets) {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = tickets.begin(); it != tickets.end();) {
    if (it->second.expires < now) it = tickets.erase(it);
    else ++it;
  }
}

} // namespace

Locker::Locker(LockerOptions options) : options_(std::move(options)) {
  if (options_.dataDir.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-locker-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary data folder");
    dataDir_ = pattern;
    ownsDataDir_ = true;
  } else {
    dataDir_ = options_.dataDir;
    std::filesystem::create_directories(dataDir_);
  }
  objects_ = std::make_unique<ObjectStore>(dataDir_);
  library_ = std::make_unique<Library>(dataDir_ / "locker.db");
  for (const auto& account : options_.users) AddUser(account.name, account.password);
  controlEnabled_ = options_.control == ControlAccess::On ||
                    (options_.control == ControlAccess::Auto && IsLoopbackHost(options_.host));

  server_ = std::make_unique<httplib::Server>();
  const int threads = std::max(4, options_.threads);
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  // Clients send large files and wait as long as a stalled answer takes; only a silent peer is
  // dropped, after a minute.
  server_->set_read_timeout(60, 0);
  server_->set_write_timeout(60, 0);
  // A client keeps its connection for a whole run (several transfers at once, one connection
  // each), as it would with a real service; the library's default closes it after 5 requests.
  server_->set_keep_alive_max_count(100000);
  // An answer goes out as headers and then a body; without this the body waits for the client's
  // delayed acknowledgement of the headers (up to 40 ms) on every request of a kept connection.
  server_->set_tcp_nodelay(true);
  // The library's default also sets SO_REUSEPORT, which lets a second server bind a port in use
  // and take part of its connections; a busy port must fail instead.
  server_->set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->set_payload_max_length(static_cast<std::size_t>(options_.maxUploadBytes) + (1 << 20));
  Routes();
}

Locker::~Locker() {
  Stop();
  server_.reset();
  library_.reset();
  objects_.reset();
  if (ownsDataDir_) {
    std::error_code error;
    std::filesystem::remove_all(dataDir_, error);
  }
}

int Locker::Bind() {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
    if (port_ <= 0) throw std::runtime_error("cannot listen on " + options_.host + " (any port)");
  } else {
    if (!server_->bind_to_port(options_.host, options_.port))
      throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(options_.port));
    port_ = options_.port;
  }
  return port_;
}

void Locker::Serve() { server_->listen_after_bind(); }

int Locker::Start() {
  const int port = Bind();
  thread_ = std::thread([this] { Serve(); });
  // Requests queue in the listening socket's backlog until the loop runs; waiting here keeps a
  // Stop() right after Start() from racing the loop's start.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && !stopping_) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("the server did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return port;
}

void Locker::Stop() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string Locker::BaseUrl() const {
  const std::string host = options_.host.find(':') != std::string::npos && options_.host.front() != '['
                               ? "[" + options_.host + "]"
                               : options_.host;
  return "http://" + host + ":" + std::to_string(port_);
}

std::string Locker::PublicBase(const Request& request) const {
  const std::string host = request.get_header_value("Host");
  if (IsPlainHost(host)) return "http://" + host;
  if (options_.host == "0.0.0.0" || options_.host == "::") {
    const std::string local =
        request.local_addr.find(':') != std::string::npos ? "[" + request.local_addr + "]" : request.local_addr;
    return "http://" + local + ":" + std::to_string(port_);
  }
  return BaseUrl();
}

void Locker::Sleep(int ms) {
  if (ms <= 0) return;
  std::unique_lock lock(stopMutex_);
  stopSignal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void Locker::AddUser(const std::string& name, const std::string& password) {
  library_->PutUser(name, Md5UpperHex(password));
}

std::string Locker::NewUploadAddress(const std::string& user, const std::string& playlist,
                                     const std::string& announcedHash, const std::string& base) {
  const std::string token = RandomHex(16);
  std::lock_guard lock(ticketsMutex_);
  Prune(uploads_);
  if (uploads_.size() >= kMaxTickets) throw std::runtime_error("too many open upload addresses");
  uploads_[token] = UploadTicket{user, playlist, announcedHash, std::chrono::steady_clock::now() + kTicketLifetime};
  return base + "/upload/" + token;
}

void Locker::Routes() {
  server_->set_pre_routing_handler([this](const Request& request, Response& response) {
    if (StartsWith(request.path, "/_control") && !controlEnabled_) {
      response.status = 404;
      response.set_content("The control interface is off.\n", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (IsStreamingPath(request.path)) return httplib::Server::HandlerResponse::Unhandled;
    // Everything else is read whole into memory by the library, so only small bodies pass.
    const std::size_t limit = request.path == "/_control/objects" ? kSeedObjectLimit : kSmallBodyLimit;
    if (request.has_header("Transfer-Encoding")) {
      response.status = 411;
      response.set_content("A Content-Length is required here.\n", "text/plain");
      response.set_header("Connection", "close");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (request.get_header_value<std::uint64_t>("Content-Length") > limit) {
      response.status = 413;
      response.set_content("The request body is too large.\n", "text/plain");
      response.set_header("Connection", "close");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server_->set_exception_handler([](const Request&, Response& response, std::exception_ptr error) {
    std::string what = "internal error";
    try {
      if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    response.status = 500;
    response.set_content(Envelope::Failure(code::kInternal, what).Text(), "text/xml; charset=utf-8");
  });

  server_->set_error_handler([](const Request&, Response& response) {
    if (!response.body.empty() || response.status < 400) return;
    const char* reason = response.status == 404 ? "Not Found" : response.status == 400 ? "Bad Request" : "Error";
    response.set_content(std::to_string(response.status) + " " + reason + "\n", "text/plain");
  });

  if (options_.logRequests) {
    server_->set_logger([](const Request& request, const Response& response) {
      std::fprintf(stderr, "%s %s %d\n", request.method.c_str(), request.path.c_str(), response.status);
    });
  }

  const std::string rest = "/+api/rest/(.*)";
  server_->Post(rest, [this](const Request& request, Response& response, const ContentReader& reader) {
    HandleRest(request, response, &reader);
  });
  server_->Post(rest, [this](const Request& request, Response& response) { HandleRest(request, response, nullptr); });
  server_->Get(rest, [this](const Request& request, Response& response) {
    stats_.Request(request.matches[1]);
    stats_.Failure(request.matches[1]);
    response.status = 405;
    response.set_header("Allow", "POST");
    response.set_content(Envelope::Failure(code::kNotPost, "Requests must be POSTed").Text(),
                         "text/xml; charset=utf-8");
  });

  server_->Post("/upload/([0-9a-zA-Z]+)",
                [this](const Request& request, Response& response, const ContentReader& reader) {
                  HandleUpload(request, response, &reader);
                });
  server_->Post("/upload/([0-9a-zA-Z]+)",
                [this](const Request& request, Response& response) { HandleUpload(request, response, nullptr); });
  server_->Get("/download/([0-9a-zA-Z]+)",
               [this](const Request& request, Response& response) { HandleDownload(request, response); });

  ControlRoutes();
  WebRoutes();
}

} // namespace velmora::locker

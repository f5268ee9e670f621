// velmora-link: a TCP proxy that behaves like a slow link, for benchmarks and tests. Every byte
// waits half a round trip in each direction, shares that direction's rate with every other
// connection, and a new connection waits one more round trip before its first byte moves.
#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <thread>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Link.h"
#include "Relay.h"

using namespace velmora::link;

namespace {

std::atomic<long> accepted{0};

// Each byte goes out as soon as the link lets it: no coalescing delay on top of the emulated one.
void NoDelay(int socket) {
  const int on = 1;
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ConnectTo(const addrinfo& target) {
  const int socket = ::socket(target.ai_family, target.ai_socktype | SOCK_CLOEXEC, target.ai_protocol);
  if (socket < 0) return -1;
  if (::connect(socket, target.ai_addr, target.ai_addrlen) != 0) {
    ::close(socket);
    return -1;
  }
  NoDelay(socket);
  return socket;
}

// The count is written to a temporary name and renamed, so a reader never sees half a number.
void WriteCount(const std::string& path, long count) {
  if (path.empty()) return;
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << count << "\n";
  }
  std::rename(temporary.c_str(), path.c_str());
}

void Serve(int listener, const addrinfo& target, Links& links, const std::string& countFile) {
  for (;;) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    const auto now = Clock::now();
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) continue;
      return;
    }
    WriteCount(countFile, ++accepted);
    NoDelay(client);
    const int server = ConnectTo(target);
    if (server < 0) {
      ::close(client);
      continue;
    }
    StartRelay(client, server, links, now);
  }
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "A TCP proxy that behaves like a slow link: a round trip, a rate each way shared by all "
      "connections, and a round trip more for every new connection."};
  std::string host = "127.0.0.1", to, countFile, up = "off", down = "off";
  int port = 0;
  double rttMs = 0;
  app.add_option("--to", to, "Where connections go, HOST:PORT")->required();
  app.add_option("--host", host, "Address to listen on")->capture_default_str();
  app.add_option("--port", port, "Port to listen on; 0 picks a free one")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--rtt", rttMs, "Round-trip time in milliseconds, half of it each way")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 60000.0));
  app.add_option("--up", up, "Rate towards the target: bytes/s (K, M, G suffixes) or bits/s (kbit, mbit, gbit); off")
      ->capture_default_str();
  app.add_option("--down", down, "Rate towards the client, as --up")->capture_default_str();
  app.add_option("--count-file", countFile, "File that always holds the number of connections accepted");
  CLI11_PARSE(app, argc, argv);

  const auto upRate = ParseRate(up), downRate = ParseRate(down);
  if (!upRate || !downRate) {
    std::cerr << "velmora-link: a rate is bytes per second like 2500000, 64K or 1.5M, bits per second like "
                 "20mbit, or off\n";
    return 2;
  }
  const auto colon = to.rfind(':');
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (colon == std::string::npos ||
      ::getaddrinfo(to.substr(0, colon).c_str(), to.substr(colon + 1).c_str(), &hints, &found) != 0) {
    std::cerr << "velmora-link: --to wants HOST:PORT, not \"" << to << "\"\n";
    return 2;
  }

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    std::cerr << "velmora-link: --host wants an IPv4 address, not \"" << host << "\"\n";
    return 2;
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 128) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::cerr << "velmora-link: cannot listen on " << host << ":" << port << ": " << std::strerror(errno) << "\n";
    return 1;
  }

  // Signals are taken by the main thread alone, waiting for them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  const auto rtt = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(rttMs));
  Links links{Link(*upRate, rtt / 2), Link(*downRate, rtt / 2), rtt};
  WriteCount(countFile, 0);
  std::thread([&] { Serve(listener, *found, links, countFile); }).detach();
  std::cout << "velmora-link listening on " << host << ":" << ntohs(address.sin_port) << std::endl;

  int signal = 0;
  sigwait(&signals, &signal);
  // Relays may be mid-transfer: end without waiting for them.
  std::cout << "velmora-link accepted " << accepted.load() << " connections" << std::endl;
  std::_Exit(0);
}

// velmora-link in front of an echo server of the test's own: the round trip is paid once per
// exchange and once more per new connection, each direction's rate is shared by every connection,
// and the connections accepted are counted.

#include "ChildProcess.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Sends back every byte it receives, on every connection, until the connection ends.
class EchoServer {
public:
  EchoServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] {
      for (int client; (client = ::accept(listener_, nullptr, nullptr)) >= 0;) {
        std::lock_guard lock(mutex_);
        echoes_.emplace_back([client] {
          char buffer[16384];
          for (ssize_t got; (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
            if (::send(client, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got) break;
          }
          ::close(client);
        });
      }
    });
  }
  ~EchoServer() {
    ::shutdown(listener_, SHUT_RDWR); // wakes the acceptor
    acceptor_.join();
    for (auto& echo : echoes_) echo.join();
    ::close(listener_);
  }
  int port() const { return port_; }

private:
  int listener_ = -1, port_ = 0;
  std::mutex mutex_;
  std::thread acceptor_;
  std::vector<std::thread> echoes_;
};

class Connection {
public:
  explicit Connection(int port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const auto address = Loopback(port);
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot connect");
    }
    const int on = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~Connection() { ::close(socket_); }

  // Sends `bytes` bytes and waits for all of them to come back; the seconds it took.
  double Echo(std::size_t bytes) {
    const auto start = Clock::now();
    std::thread sender([&] {
      const std::string data(bytes, 'x');
      for (std::size_t sent = 0; sent < bytes;) {
        const ssize_t wrote = ::send(socket_, data.data() + sent, bytes - sent, MSG_NOSIGNAL);
        if (wrote <= 0) return;
        sent += static_cast<std::size_t>(wrote);
      }
    });
    std::size_t received = 0;
    char buffer[16384];
    for (ssize_t got; received < bytes && (got = ::recv(socket_, buffer, sizeof buffer, 0)) > 0;) {
      received += static_cast<std::size_t>(got);
    }
    sender.join();
    EXPECT_EQ(received, bytes);
    return Seconds(Clock::now() - start).count();
  }

private:
  int socket_;
};

class LinkEmulatorTest : public test::TempHomeTest {
protected:
  // Starts velmora-link in front of the echo server; returns its port.
  int StartLink(std::vector<std::string> options) {
    std::vector<std::string> line{VELMORA_LINK_PATH, "--to", "127.0.0.1:" + std::to_string(echo_.port()),
                                  "--count-file", countFile().string()};
    line.insert(line.end(), options.begin(), options.end());
    link_ = std::make_unique<test::Child>(line);
    if (!link_->WaitFor("\n", 1)) throw std::runtime_error("velmora-link did not start: " + link_->output());
    return std::stoi(link_->output().substr(link_->output().rfind(':') + 1));
  }
  std::filesystem::path countFile() const { return files() / "count"; }
  std::string Count() const {
    std::ifstream in(countFile());
    std::string count;
    in >> count;
    return count;
  }

  EchoServer echo_;
  std::unique_ptr<test::Child> link_;
};

TEST_F(LinkEmulatorTest, PaysTheRoundTripPerExchangeAndOneMorePerNewConnection) {
  const int port = StartLink({"--rtt", "200"});
  Connection connection(port);
  const double first = connection.Echo(1);
  const double second = connection.Echo(1);
  EXPECT_GE(first, 0.39); // handshake + request + answer
  EXPECT_LT(first, 0.9);
  EXPECT_GE(second, 0.19);
  EXPECT_LT(second, 0.6);
}

TEST_F(LinkEmulatorTest, SharesEachDirectionsRateAmongConnectionsAndCountsThem) {
  // Each direction in turn is the slow one: two connections at once move 100 KiB each through
  // 100 KiB/s, about 2 s; a rate per connection would take 1 s.
  for (const auto& direction : {"--up", "--down"}) {
    const int port = StartLink({direction, "100K"});
    const auto echo = [port] { return Connection(port).Echo(100 * 1024); };
    auto one = std::async(std::launch::async, echo), other = std::async(std::launch::async, echo);
    const double slower = std::max(one.get(), other.get());
    EXPECT_GE(slower, 1.9) << direction;
    EXPECT_LT(slower, 3.0) << direction;
    EXPECT_EQ(Count(), "2");
    link_->Signal(SIGTERM);
    EXPECT_EQ(link_->Wait(), 0);
    EXPECT_NE(link_->output().find("velmora-link accepted 2 connections"), std::string::npos) << link_->output();
  }
}

} // namespace
} // namespace velmora

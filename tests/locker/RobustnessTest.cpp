// Malformed, oversized, garbage and concurrent requests get an answer or a closed connection,
// never a crash, a stored fragment or a service that stops answering.
#include "LockerFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace velmora::locker::test {
namespace {

using RobustnessTest = LockerTest;

// Sends raw bytes on a fresh connection and returns whatever comes back before it closes.
std::string RawExchange(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return "(no connection)";
  }
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return answer;
}

TEST_F(RobustnessTest, BrokenMultipartIsRefusedAndTheServiceGoesOn) {
  const auto broken =
      Client().Post("//api/rest/sets/get", "--xyz\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nvalue",
                    "multipart/form-data; boundary=xyz");
  const Answer answer = Parse(broken);
  EXPECT_EQ(answer.status, 400);
  EXPECT_EQ(answer.code, 1100);
  EXPECT_EQ(Parse(Client().Post("//api/rest/sets/get", "a=b", "text/plain")).code, 1100);
  EXPECT_TRUE(Call("user/checkaccess", {}).success);
}

TEST_F(RobustnessTest, GarbageOnTheWireNeverStopsTheService) {
  const std::string garbage[] = {
      Bytes(20000, 1),
      "\r\n\r\n",
      "POST //api/rest/items/add HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\nabc",
      "POST /api/rest/sets/get HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\r\nContent-Length: "
      "5\r\n\r\nhello",
      "POST /upload/abc HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Type: multipart/form-data; boundary=b\r\n\r\n"
      "zz\r\nnot hex\r\n",
      "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\n" + std::string(20000, 'h') + ": x\r\n\r\n",
  };
  for (const auto& bytes : garbage) RawExchange(locker_->port(), bytes);
  EXPECT_TRUE(Call("user/checkaccess", {}).success);
  EXPECT_TRUE(locker_->objects().List().empty());
}

TEST_F(RobustnessTest, MutatedFormsNeverBreakTheService) {
  const std::string boundary = "----velmoraBoundary";
  std::string valid;
  for (const auto& [name, value] : {std::pair{"filedata", HashList({Sha1("a"), Sha1("b")})},
                                    {"username", "alice"},
                                    {"hashpassword", Md5Hex("secret")},
                                    {"format", "xml"},
                                    {"appkey", kAppKey}}) {
    valid += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
             (std::string(name) == "filedata" ? "; filename=\"/h.xml\"\r\nContent-Type: text/xml" : "") + "\r\n\r\n" +
             value + "\r\n";
  }
  valid += "--" + boundary + "--\r\n";
  const std::string type = "multipart/form-data; boundary=" + boundary;
  ASSERT_TRUE(Parse(Client().Post("//api/rest/items/checkhashvalues", valid, type.c_str())).success);

  unsigned state = 12345;
  const auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };
  for (int round = 0; round < 300; ++round) {
    std::string body = valid;
    switch (round % 3) {
    case 0: // flip a few bytes, framing included
      for (int i = 0; i < 4; ++i) body[next() % body.size()] = static_cast<char>(next());
      break;
    case 1: // cut short
      body.resize(next() % body.size());
      break;
    default: // splice a piece of itself somewhere else
      body.insert(next() % body.size(), body.substr(next() % body.size(), 40));
    }
    const Answer answer = Parse(Client().Post("//api/rest/items/checkhashvalues", body, type.c_str()));
    EXPECT_FALSE(answer.transportError) << "round " << round;
  }
  EXPECT_TRUE(Call("user/checkaccess", {}).success);
}

TEST_F(RobustnessTest, OversizedFieldsAreRefusedWithoutBeingKept) {
  const Answer huge = Call("user/checkaccess", {{"_instancename", std::string(3 << 20, 'x')}});
  EXPECT_EQ(huge.code, 1101);

  std::vector<Part> many;
  for (int i = 0; i < 300; ++i) many.push_back({"f" + std::to_string(i), "v"});
  EXPECT_EQ(Call("user/checkaccess", many).code, 1100);

  const auto bigForm = Client().Post("/signin", std::string(2 << 20, 'a'), "application/x-www-form-urlencoded");
  EXPECT_TRUE(!bigForm || bigForm->status == 413);
  EXPECT_TRUE(Call("user/checkaccess", {}).success);
}

TEST_F(RobustnessTest, UploadsAboveTheLimitStoreNothing) {
  LockerOptions options;
  options.maxUploadBytes = 100000;
  Start(options);
  const Answer added = Call("items/add", {{"checkhashresponse", "404"}});
  const Answer refused = PostTo(added.Text("location"), {{"filedata", Bytes(300000, 2), "/big.mp3", "audio/unknown"}});
  // The service stops reading at the limit, so the client may see the refusal or a closed connection.
  EXPECT_TRUE(refused.transportError || refused.status == 413) << refused.status;
  EXPECT_TRUE(locker_->objects().List().empty());
  EXPECT_TRUE(std::filesystem::is_empty(locker_->dataDir() / "incoming"));
  EXPECT_TRUE(PostTo(added.Text("location"), {{"filedata", Bytes(90000, 2), "/ok.mp3", "audio/unknown"}}).success);
}

TEST_F(RobustnessTest, ConcurrentUploadsAreAllStoredWhole) {
  constexpr int kThreads = 6, kEach = 4;
  std::vector<std::thread> threads;
  std::atomic<int> stored{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        if (Upload(Bytes(60000 + t * 1000 + i, t * 100 + i), "T" + std::to_string(t) + "-" + std::to_string(i)).success)
          ++stored;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(stored, kThreads * kEach);
  const auto objects = locker_->objects().List();
  ASSERT_EQ(objects.size(), static_cast<std::size_t>(kThreads * kEach));
  for (const auto& object : objects)
    EXPECT_EQ(Sha1(velmora::test::ReadFile(locker_->objects().PathOf(object.hashId))), object.hashId);
  EXPECT_EQ(locker_->library().Items("alice").size(), static_cast<std::size_t>(kThreads * kEach));
}

} // namespace
} // namespace velmora::locker::test

// CallApi puts exactly the service's multipart request on the wire (caller fields, then the standard
// fields) and fails on every transport or HTTP error.

#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "base/BuildInfo.h"
#include "service/ApiError.h"
#include "service/CallApi.h"
#include "service/CurlHandles.h"
#include "service/LinkWatch.h"
#include "service/TransferLanes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace velmora {
namespace {

using test::CapturedRequest;
using test::HttpAnswer;
using test::RawHttpServer;

constexpr const char* kEmptyMd5 = "D41D8CD98F00B204E9800998ECF8427E";

std::string TextPart(const std::string& boundary, const std::string& name, const std::string& value) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string Boundary(const CapturedRequest& request) {
  const std::string type = request.header("Content-Type");
  const std::size_t at = type.find("boundary=");
  return at == std::string::npos ? std::string() : type.substr(at + 9);
}

class CallApiTest : public test::TempHomeTest {
protected:
  Engine MakeEngine(const std::string& firstArgument) {
    return Engine(ui, {firstArgument, configHome() / "settings.ini"});
  }
  test::RecordingUi ui;
};

TEST(ServerAddress, DefaultBaseEndsWithSlashSoThePathStartsWithTwo) {
  const std::string base = std::string("http://") + build::kWebHost + "/";
  EXPECT_EQ(ServerBaseUrl(""), base);
  EXPECT_EQ(ServerBaseUrl("C:\\music\\song.mp3"), base);
  EXPECT_EQ(ServerBaseUrl("stage host"), base);
  EXPECT_EQ(RequestUrl(ServerBaseUrl(""), "sets/get"), base + "/api/rest/sets/get");
}

TEST(ServerAddress, StageArgumentDropsItsSeparatorAndKeepsTheHostAsItStands) {
  EXPECT_EQ(ServerBaseUrl("/stage example.test:81"), "http://example.test:81");
  EXPECT_EQ(ServerBaseUrl(" \t/stage=example.test/sub/ \r\n"), "http://example.test/sub/");
  EXPECT_EQ(ServerBaseUrl("/stage"), "http://");
  EXPECT_EQ(RequestUrl("http://h", "user/checkaccess"), "http://h/api/rest/user/checkaccess");
  EXPECT_EQ(RequestUrl("http://h", "https://upload.test/x?y"), "https://upload.test/x?y");
}

// Read back from the socket itself: a connection under a 64K limit gets 16K buffers (the kernel
// reports twice what was set), keep-alive with its idle time and probe count, the user time-out.
TEST(LinkWatchTest, EveryConnectionGetsItsProbesAndUnderALimitSmallBuffers) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  const auto option = [](curl_socket_t socket, int level, int name) {
    int value = 0;
    socklen_t size = sizeof value;
    ::getsockopt(socket, level, name, &value, &size);
    return value;
  };
  for (const std::int64_t limit : {std::int64_t{64} << 10, std::int64_t{0}}) {
    CURL* handle = curl_easy_init();
    WatchLink(handle);
    curl::LimitRate(handle, limit);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_CONNECT_ONLY, 1L);
    ASSERT_EQ(curl_easy_perform(handle), CURLE_OK);
    curl_socket_t socket = CURL_SOCKET_BAD;
    curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &socket);
    EXPECT_EQ(option(socket, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(socket, IPPROTO_TCP, TCP_KEEPIDLE), link::kKeepIdleSeconds);
    EXPECT_EQ(option(socket, IPPROTO_TCP, TCP_KEEPCNT), link::kKeepProbes);
    EXPECT_EQ(option(socket, IPPROTO_TCP, TCP_USER_TIMEOUT), static_cast<int>(link::kUserTimeoutMilliseconds));
    if (limit > 0) {
      EXPECT_EQ(option(socket, SOL_SOCKET, SO_RCVBUF), 2 * 16 * 1024);
      EXPECT_EQ(option(socket, SOL_SOCKET, SO_SNDBUF), 2 * 16 * 1024);
    } else {
      EXPECT_GT(option(socket, SOL_SOCKET, SO_RCVBUF), 2 * 16 * 1024) << "the system's own size without a limit";
    }
    curl_easy_cleanup(handle);
  }
  ::close(listener);
}

// Once a stop is asked for, a transfer goes on while its byte count changes (a redirect's restart
// too) and is given up after 10 s without a byte.
TEST(LinkWatchTest, AStoppedTransferGoesOnWhileBytesMoveAndIsGivenUpAfterTenQuietSeconds) {
  using namespace std::chrono_literals;
  bool stop = false;
  const StopRequest request = [&] { return stop; };
  StallAfterStop stall(request);
  const StallAfterStop::Clock::time_point t0{};
  EXPECT_FALSE(stall.ShouldAbandon(100, t0));
  EXPECT_FALSE(stall.ShouldAbandon(100, t0 + 60s)) << "no stop asked for";
  stop = true;
  EXPECT_FALSE(stall.ShouldAbandon(100, t0 + 60s));
  EXPECT_FALSE(stall.ShouldAbandon(200, t0 + 69s));
  EXPECT_FALSE(stall.ShouldAbandon(0, t0 + 78s));
  EXPECT_FALSE(stall.ShouldAbandon(0, t0 + 87s));
  EXPECT_TRUE(stall.ShouldAbandon(0, t0 + 88s));
}

// A lane's byte count adds each request's bytes both ways; counts that go back are a redirect's
// new request, whose bytes are all new.
TEST(LaneProgressTest, CountsBothWaysAndARedirectsRequestAfresh) {
  std::atomic<std::int64_t> total{0};
  LaneProgress progress(total, nullptr);
  progress.Update(100, 60, 0, 0);
  progress.Update(100, 100, 20, 10);
  EXPECT_EQ(total.load(), 110);
  progress.Update(100, 30, 0, 0);
  EXPECT_EQ(total.load(), 140);
}

TEST(Digest, PasswordDigestIsUpperCaseMd5) {
  EXPECT_EQ(MD5Hex(""), kEmptyMd5);
  EXPECT_EQ(MD5Hex("secret"), "5EBE2294ECD0E0F08EAB7690D2A6EE69");
  EXPECT_EQ(AppKey().size(), 35u);
}

TEST_F(CallApiTest, SendsCallerFieldsThenStandardFieldsAsPlainParts) {
  RawHttpServer server([](const CapturedRequest&) { return HttpAnswer(200, "<ok/>"); });
  // A base ending in a slash, like the default one, gives the two-slash path.
  Engine engine = MakeEngine("/stage " + server.hostPort() + "/");
  engine.SetCredentials("Alice Ä", engine.password());
  engine.SetCredentials(engine.userName(), "");
  const auto list = files() / "hash list.xml";
  test::WriteFile(list, "<hashes>\r\n<h>1</h></hashes>");

  FormData form;
  form.AddText("_instancename", "box").AddFile("filedata", list.string(), "text/xml").AddText("empty", "");
  HttpReply response;
  engine.service().Post("items/checkhashvalues", std::move(form), response, true);
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.Body, "<ok/>");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const CapturedRequest& request = requests[0];
  EXPECT_EQ(request.requestLine, "POST //api/rest/items/checkhashvalues HTTP/1.1");
  EXPECT_EQ(request.header("User-Agent"), "Velmora Uploader Win32 " + std::string(build::kProgramVersion));
  EXPECT_EQ(request.header("Host"), server.hostPort());
  EXPECT_FALSE(request.hasHeader("Expect"));
  EXPECT_FALSE(request.hasHeader("Cookie"));
  EXPECT_EQ(request.header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
  EXPECT_EQ(request.header("Content-Length"), std::to_string(request.body.size()));

  const std::string b = Boundary(request);
  ASSERT_FALSE(b.empty());
  const std::string expected = TextPart(b, "_instancename", "box") + "--" + b +
                               "\r\nContent-Disposition: form-data; name=\"filedata\"; filename=\"" + list.string() +
                               "\"\r\nContent-Type: text/xml\r\n\r\n<hashes>\r\n<h>1</h></hashes>\r\n" +
                               TextPart(b, "empty", "") + TextPart(b, "username", "Alice Ä") +
                               TextPart(b, "hashpassword", kEmptyMd5) + TextPart(b, "format", "xml") +
                               TextPart(b, "appkey", "3F7A19B2-6C4E-81D0-9B2E5F07A6C4D318") +
                               TextPart(b, "_programversion", build::kProgramVersion) + "--" + b + "--\r\n";
  EXPECT_EQ(request.body, expected);
}

TEST_F(CallApiTest, StageHostGetsOneSlashAndAddressMethodsGetOnlyTheStandardFields) {
  RawHttpServer server([](const CapturedRequest&) { return HttpAnswer(200, "x"); });
  Engine engine = MakeEngine("  /stage " + server.hostPort() + "  ");
  engine.SetCredentials("bob", engine.password());
  engine.SetCredentials(engine.userName(), "secret");
  HttpReply response;
  engine.service().Post("user/checkaccess", FormData().AddText("_instancename", "h"), response, false);
  engine.service().Post("http://" + server.hostPort() + "/upload/once?k=1", FormData(), response, false);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/api/rest/user/checkaccess");
  EXPECT_EQ(requests[1].target, "/upload/once?k=1");
  const auto parts = test::MultipartParts(requests[1]);
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0].name, "username");
  EXPECT_EQ(parts[1].content, "5EBE2294ECD0E0F08EAB7690D2A6EE69");
  EXPECT_EQ(parts[4].name, "_programversion");
}

TEST_F(CallApiTest, FollowsRedirectsWithCookiesThatDieWithTheCall) {
  RawHttpServer server([](const CapturedRequest& request) {
    if (request.target.find("/start") != std::string::npos) {
      return HttpAnswer(302, "", "Location: /final\r\nSet-Cookie: session=abc; Path=/\r\n");
    }
    return HttpAnswer(200, "final:" + request.header("Cookie"));
  });
  Engine engine = MakeEngine("/stage " + server.hostPort());
  HttpReply response;
  engine.service().Post("start", FormData(), response, false);
  EXPECT_EQ(response.Body, "final:session=abc");
  engine.service().Post("other", FormData(), response, false);
  EXPECT_EQ(response.Body, "final:");
}

TEST_F(CallApiTest, EveryHttpErrorAndTransportFailureThrowsAndLeavesTheResponseAlone) {
  int hops = 0;
  RawHttpServer server([&hops](const CapturedRequest& request) {
    if (request.target.find("loop") != std::string::npos) {
      ++hops;
      return HttpAnswer(302, "", "Location: /api/rest/loop\r\n");
    }
    if (request.target.find("missing") != std::string::npos) return HttpAnswer(404, "<not found/>");
    return HttpAnswer(500, "<broken/>");
  });
  Engine engine = MakeEngine("/stage " + server.hostPort());
  HttpReply response;
  response.Body = "untouched";
  try {
    engine.service().Post("fails", FormData(), response, false);
    FAIL() << "HTTP 500 did not throw";
  } catch (const ApiError& error) {
    EXPECT_EQ(error.httpStatus(), 500);
  }
  EXPECT_THROW(engine.service().Post("missing", FormData(), response, false), ApiError);
  EXPECT_THROW(engine.service().Post("loop", FormData(), response, false), ApiError);
  EXPECT_EQ(hops, 16); // the first request and 15 redirects
  EXPECT_EQ(response.Body, "untouched");

  int closedPort;
  {
    RawHttpServer gone([](const CapturedRequest&) { return std::string(); });
    closedPort = gone.port();
  }
  Engine offline = MakeEngine("/stage 127.0.0.1:" + std::to_string(closedPort));
  EXPECT_THROW(offline.service().Post("user/checkaccess", FormData(), response, true), ApiError);
}

// A lane keeps its connection from request to request, not the options of the last one: after a
// download, an HTTP error still names its status and Retry-After.
TEST_F(CallApiTest, ALanesPostAfterADownloadStillReadsAnErrorsStatusAndRetryAfter) {
  RawHttpServer server([](const CapturedRequest& request) {
    if (request.requestLine.rfind("GET ", 0) == 0) return HttpAnswer(200, "audio");
    return HttpAnswer(503, "busy", "Retry-After: 7\r\n");
  });
  TransferLanes lanes(1, {"http://" + server.hostPort(), "u", "p"}, nullptr);
  const auto ticket = lanes.Submit({[&](TransferLane& lane) {
    lane.Get("http://" + server.hostPort() + "/file", files() / "song.mp3", {});
    HttpReply reply;
    lane.Post("items/get/deliver", FormData(), reply);
  }}).front();
  while (!ticket->done()) lanes.WaitForAny(std::chrono::milliseconds(100));
  EXPECT_EQ(test::ReadFile(files() / "song.mp3"), "audio");
  ASSERT_TRUE(ticket->failure());
  try {
    std::rethrow_exception(ticket->failure());
  } catch (const ApiError& error) {
    EXPECT_EQ(error.httpStatus(), 503) << error.what();
    EXPECT_EQ(error.retryAfter(), "7");
  }
}

TEST_F(CallApiTest, SpeaksHttpAndHttpsOnlyForAddressesAndRedirects) {
  const std::string local = (files() / "http-answer.xml").string();
  test::WriteFile(local, "<result/>");
  int closedPort;
  {
    RawHttpServer gone([](const CapturedRequest&) { return std::string(); });
    closedPort = gone.port();
  }
  RawHttpServer server([&](const CapturedRequest& request) {
    if (request.target.find("to-ftp") != std::string::npos) {
      return HttpAnswer(302, "", "Location: ftp://127.0.0.1:" + std::to_string(closedPort) + "/x\r\n");
    }
    return HttpAnswer(302, "", "Location: file://" + local + "\r\n");
  });
  Engine engine = MakeEngine("/stage " + server.hostPort());
  for (const std::string& method : {std::string("to-ftp"), std::string("to-file"), "file://" + local}) {
    HttpReply response;
    try {
      engine.service().Post(method, FormData(), response, false);
      ADD_FAILURE() << method << " was followed";
    } catch (const ApiError& error) {
      EXPECT_THAT(error.what(), ::testing::HasSubstr("Unsupported protocol")) << method;
    }
    EXPECT_EQ(response.Body, "") << method;
  }
}

TEST_F(CallApiTest, UnreadableFileFailsBeforeAnythingIsSent) {
  RawHttpServer server([](const CapturedRequest&) { return HttpAnswer(200, "x"); });
  Engine engine = MakeEngine("/stage " + server.hostPort());
  HttpReply response;
  FormData form;
  form.AddFile("filedata", (files() / "nothing.mp3").string(), "audio/unknown");
  EXPECT_THROW(engine.service().Post("items/add", std::move(form), response, true), ApiError);
  FormData folder;
  folder.AddFile("filedata", files().string(), "audio/unknown");
  EXPECT_THROW(engine.service().Post("items/add", std::move(folder), response, true), ApiError);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(CallApiTest, ProgressMovesFileBarsAndCountsEveryByteBothWays) {
  const std::string answer(5000, 'a');
  RawHttpServer server([&answer](const CapturedRequest&) { return HttpAnswer(200, answer); });
  Engine engine = MakeEngine("/stage " + server.hostPort());
  const auto audio = files() / "song.mp3";
  test::WriteFile(audio, std::string(300000, 'x'));
  engine.service().counters().TotalBytes = 400 * 1024;

  FormData form;
  form.AddFile("filedata", audio.string(), "audio/unknown");
  HttpReply response;
  engine.service().Post("items/add", std::move(form), response, true);

  const std::size_t sent = server.requests().at(0).body.size();
  EXPECT_EQ(engine.service().counters().UploadedBytes, static_cast<std::int64_t>(sent + answer.size()));
  EXPECT_EQ(engine.service().counters().ShownUploadedBytes, engine.service().counters().UploadedBytes);
  EXPECT_EQ(engine.service().counters().BytesLeft,
            engine.service().counters().TotalBytes - engine.service().counters().UploadedBytes);
  // The file bar ends on the answer, the last transfer of the exchange.
  EXPECT_EQ(ui.bars[ProgressBar::File].position, 5000);
  EXPECT_EQ(ui.bars[ProgressBar::File].maximum, 5000);
  EXPECT_EQ(ui.bars[ProgressBar::StatusGlobal].maximum, 400);
  EXPECT_EQ(ui.bars[ProgressBar::StatusGlobal].position, engine.service().counters().UploadedBytes / 1024);
  EXPECT_GT(ui.pumps, 0);

  // After a redirect the request is sent again; those bytes count as well.
  test::RawHttpServer redirecting([](const CapturedRequest& request) {
    if (request.target.find("moved") != std::string::npos) {
      return HttpAnswer(307, "", "Location: /api/rest/final\r\n");
    }
    return HttpAnswer(200, "done");
  });
  Engine moved = MakeEngine("/stage " + redirecting.hostPort());
  FormData twice;
  twice.AddFile("filedata", audio.string(), "audio/unknown");
  moved.service().Post("moved", std::move(twice), response, true);
  const auto sentTwice = redirecting.requests();
  ASSERT_EQ(sentTwice.size(), 2u);
  EXPECT_EQ(moved.counters().UploadedBytes,
            static_cast<std::int64_t>(sentTwice[0].body.size() + sentTwice[1].body.size() + 4));

  test::RecordingUi quiet;
  Engine silent(quiet, {"/stage " + server.hostPort(), configHome() / "settings.ini"});
  silent.service().Post("misc/sendinvitation", FormData().AddText("email", "a@b.test"), response, false);
  EXPECT_EQ(quiet.progressEvents, 0);
  EXPECT_EQ(quiet.pumps, 0);
  EXPECT_EQ(silent.counters().UploadedBytes, 0);
}

// curl calls its progress function irregularly while it waits (a second apart), so a request pumps
// on a timer of its own while the service works on its answer; a request made from that pump
// (here on the kept connection's busy handle) takes a client of its own and is answered.
TEST_F(CallApiTest, PumpsTheWindowOnATimerWhileTheServiceWorksOnItsAnswer) {
  RawHttpServer server([](const CapturedRequest& request) {
    if (request.target.find("slow") != std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return HttpAnswer(200, request.target);
  });
  Engine engine = MakeEngine("/stage " + server.hostPort());
  engine.service().SetTransfers(2);
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> pumps{Clock::now()};
  HttpReply nested;
  ui.onProcessMessages = [&] {
    pumps.push_back(Clock::now());
    if (nested.StatusCode == 0) {
      nested.StatusCode = -1;
      engine.service().Post("nested", FormData(), nested, true);
    }
  };
  HttpReply response;
  engine.service().Post("slow", FormData(), response, true);
  pumps.push_back(Clock::now());
  EXPECT_EQ(response.Body, "/api/rest/slow");
  EXPECT_EQ(nested.Body, "/api/rest/nested");
  for (std::size_t i = 1; i < pumps.size(); ++i) {
    // One pump per 50 ms, late on a loaded machine; curl alone leaves about a second without any.
    EXPECT_LE(pumps[i] - pumps[i - 1], std::chrono::milliseconds(500)) << "before pump " << i << " of " << pumps.size();
  }
}

} // namespace
} // namespace velmora

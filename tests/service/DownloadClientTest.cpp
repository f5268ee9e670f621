// The download client GETs into the given file with its own headers, keeps cookies for the run and never leaves a
// failed file behind.

#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "service/ApiError.h"
#include "service/DownloadClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::CapturedRequest;
using test::HttpAnswer;

class DownloadClientTest : public test::TempHomeTest {
protected:
  test::RecordingUi ui;
};

TEST_F(DownloadClientTest, StreamsTheBodyWithItsOwnHeadersAndKeepsCookies) {
  const std::string audio(200000, '\x7f');
  test::RawHttpServer server([&audio](const CapturedRequest& request) {
    if (request.target == "/first") return HttpAnswer(302, "", "Location: /file\r\nSet-Cookie: s=1; Path=/\r\n");
    return HttpAnswer(200, request.target == "/file" ? audio : request.header("Cookie"));
  });
  DownloadClient client(ui);
  const auto target = files() / "song.mp3";
  client.Get("http://" + server.hostPort() + "/first", target);
  EXPECT_EQ(test::ReadFile(target), audio);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].requestLine, "GET /file HTTP/1.1");
  EXPECT_EQ(requests[1].header("User-Agent"), DownloadClient::kUserAgent);
  EXPECT_EQ(requests[1].header("Accept"), "text/html, */*");
  EXPECT_FALSE(requests[1].hasHeader("Content-Type"));
  EXPECT_TRUE(requests[1].body.empty());
  EXPECT_EQ(ui.bars[ProgressBar::DownloadFile].maximum, 200000);
  EXPECT_EQ(ui.bars[ProgressBar::DownloadFile].position, 0); // back to zero when done
  EXPECT_GT(ui.pumps, 0);

  // The cookie set during the first download comes back on the next one.
  const auto second = files() / "cookie.txt";
  client.Get("http://" + server.hostPort() + "/echo", second);
  EXPECT_EQ(test::ReadFile(second), "s=1");
}

TEST_F(DownloadClientTest, FailedDownloadsThrowAndRemoveThePartialFile) {
  test::RawHttpServer server([](const CapturedRequest& request) {
    if (request.target == "/gone") return HttpAnswer(404, "<html>error page</html>");
    return test::CutAnswer(std::string(1000, 'a'), 50000);
  });
  DownloadClient client(ui);
  const auto target = files() / "x.mp3";
  EXPECT_THROW(client.Get("http://" + server.hostPort() + "/gone", target), ApiError);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_THROW(client.Get("http://" + server.hostPort() + "/cut", target), ApiError);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(ui.bars[ProgressBar::DownloadFile].position, 0);

  EXPECT_THROW(client.Get("http://" + server.hostPort() + "/ok", files() / "no" / "such" / "dir.mp3"),
               std::runtime_error);
  EXPECT_EQ(server.requests().size(), 2u);

  // A write that fails (a full device) throws, removes the file and keeps no descriptor open.
  const auto full = files() / "full.mp3";
  std::filesystem::create_symlink("/dev/full", full);
  const auto openFiles = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = openFiles();
  EXPECT_THROW(client.Get("http://" + server.hostPort() + "/cut", full), std::runtime_error);
  EXPECT_EQ(openFiles(), before);
  EXPECT_FALSE(std::filesystem::is_symlink(full));
}

TEST_F(DownloadClientTest, SpeaksHttpAndHttpsOnlyForAddressesAndRedirects) {
  const auto local = files() / "secret.txt";
  test::WriteFile(local, "local bytes");
  int closedPort;
  {
    test::RawHttpServer gone([](const CapturedRequest&) { return std::string(); });
    closedPort = gone.port();
  }
  test::RawHttpServer server([closedPort](const CapturedRequest&) {
    return HttpAnswer(302, "", "Location: ftp://127.0.0.1:" + std::to_string(closedPort) + "/x\r\n");
  });
  DownloadClient client(ui);
  const auto target = files() / "x.mp3";
  for (const std::string& url : {"http://" + server.hostPort() + "/to-ftp", "file://" + local.string()}) {
    try {
      client.Get(url, target);
      ADD_FAILURE() << url << " was fetched";
    } catch (const ApiError& error) {
      EXPECT_THAT(error.what(), ::testing::HasSubstr("Unsupported protocol")) << url;
    }
    EXPECT_FALSE(std::filesystem::exists(target)) << url;
  }
}

} // namespace
} // namespace velmora

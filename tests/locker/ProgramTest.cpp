// The velmora-locker program announces its address when ready, keeps its data in --data across
// restarts, refuses bad options, and exits cleanly on SIGTERM and SIGINT.
#include "LockerFixture.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

namespace velmora::locker::test {
namespace {

class Program {
public:
  explicit Program(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      std::vector<char*> argv;
      static std::string path = VELMORA_LOCKER_PATH;
      argv.push_back(path.data());
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }
  // The first line on stdout, or empty when none came within the time.
  std::string FirstLine(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      pollfd waiting{out_, POLLIN, 0};
      if (::poll(&waiting, 1, 100) <= 0) continue;
      char c;
      if (::read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return {};
  }
  // The exit status, or -1 when the program did not end within the time.
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  void Signal(int signal) { ::kill(pid_, signal); }

private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
};

int PortOf(const std::string& line) {
  std::smatch match;
  static const std::regex pattern("^velmora-locker listening on http://127\\.0\\.0\\.1:([0-9]+)$");
  return std::regex_match(line, match, pattern) ? std::stoi(match[1]) : 0;
}

Answer CheckAccess(int port, const std::string& user, const std::string& password) {
  httplib::Client client("127.0.0.1", port);
  httplib::MultipartFormDataItems items = {
      {"_instancename", "test", "", ""}, {"username", user, "", ""},  {"hashpassword", Md5Hex(password), "", ""},
      {"format", "xml", "", ""},         {"appkey", kAppKey, "", ""}, {"_programversion", "1.0.0.1", "", ""}};
  return Parse(client.Post("//api/rest/user/checkaccess", items));
}

TEST(ProgramTest, AnnouncesItsPortServesAndStopsOnSigterm) {
  velmora::test::TempDir data;
  {
    Program locker({"--port", "0", "--data", (data / "d").string(), "--user", "alice:se:cret", "--min-version", "1.0"});
    const int port = PortOf(locker.FirstLine());
    ASSERT_GT(port, 0);
    EXPECT_TRUE(CheckAccess(port, "alice", "se:cret").success);
    EXPECT_EQ(httplib::Client("127.0.0.1", port).Get("/_control/stats")->status, 200);
    httplib::Client client("127.0.0.1", port);
    ASSERT_EQ(client.Post("/_control/users", httplib::Params{{"name", "bob"}, {"password", "pw"}})->status, 200);
    locker.Signal(SIGTERM);
    EXPECT_EQ(locker.Wait(), 0);
  }
  // Users added at run time live in the data folder.
  Program again({"--port", "0", "--data", (data / "d").string()});
  const int port = PortOf(again.FirstLine());
  ASSERT_GT(port, 0);
  EXPECT_TRUE(CheckAccess(port, "bob", "pw").success);
  again.Signal(SIGINT);
  EXPECT_EQ(again.Wait(), 0);
}

TEST(ProgramTest, BadOptionsAndABusyPortEndWithAnError) {
  EXPECT_EQ(Program({"--user", "nocolon"}).Wait(), 2);
  EXPECT_EQ(Program({"--min-version", "one"}).Wait(), 2);
  EXPECT_NE(Program({"--port", "99999"}).Wait(), 0);

  Program first({"--port", "0"});
  const int port = PortOf(first.FirstLine());
  ASSERT_GT(port, 0);
  EXPECT_EQ(Program({"--port", std::to_string(port)}).Wait(), 1);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

TEST(ProgramTest, TheControlInterfaceCanBeSwitchedOff) {
  Program locker({"--port", "0", "--control", "off"});
  const int port = PortOf(locker.FirstLine());
  ASSERT_GT(port, 0);
  EXPECT_EQ(httplib::Client("127.0.0.1", port).Get("/_control/stats")->status, 404);
  locker.Signal(SIGTERM);
  EXPECT_EQ(locker.Wait(), 0);
}

} // namespace
} // namespace velmora::locker::test

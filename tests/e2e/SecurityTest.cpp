// Hostile names and a curious neighbour get nothing: restore names built to climb out of the
// target never write outside it, the settings file is 0600 and the work folder 0700, and the
// password appears in no file but the settings file, in no process argument and in no output.

#include "LockerProcess.h"
#include "TempHome.h"
#include "restore/Restore.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

extern char** environ;

namespace velmora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Pieces that climb, hide or confuse; names are built from pairs of them.
const std::vector<std::string>& ClimbingPieces() {
  static const std::vector<std::string> pieces{
      "",
      ".",
      "..",
      "...",
      "../",
      "..\\",
      "/..",
      "\\..",
      "../../..",
      "..\\..\\..",
      "/",
      "\\",
      "//",
      "/etc/passwd",
      "/tmp/velmora-escape",
      "C:\\Windows",
      "c:",
      "~",
      "~/",
      " .. ",
      ". .",
      "..\t",
      "%2e%2e%2f",
      "..%2F",
      "a/../../b",
      "\xE2\x88\x95..",           // U+2215 DIVISION SLASH
      "\xEF\xBC\x8E\xEF\xBC\x8E", // two fullwidth full stops
      "\xE2\x80\xAE..",
      std::string(300, 'x'),
      std::string(150, '.'),                                 // right-to-left override
      "\xC3\xA9\xC3\xA9\xC3\xA9" + std::string(240, '\xA9'), // a cut in the middle of UTF-8
      "*?<>|\":",
      "con",
      "nul.mp3",
      ".hidden",
      "x/",
      "/x"};
  return pieces;
}

// True when `path` is lexically below `root`, none of the extra components "." or "..", and the
// same holds for the part of it the kernel would see (up to a zero byte).
bool StaysBelow(const std::filesystem::path& root, const std::filesystem::path& path) {
  const std::string text = path.string();
  const std::filesystem::path kernelSees = text.substr(0, text.find('\0'));
  for (const auto& candidate : {path, kernelSees}) {
    auto r = root.begin();
    auto p = candidate.begin();
    for (; r != root.end(); ++r, ++p) {
      if (p == candidate.end() || *p != *r) return false;
    }
    if (p == candidate.end()) return false;
    for (; p != candidate.end(); ++p) {
      if (*p == "." || *p == ".." || p->empty()) return false;
    }
  }
  return true;
}

TEST(RestoreNames, CraftedPlaylistAndDisplayNamesNeverNameAPathOutsideTheTarget) {
  const auto& pieces = ClimbingPieces();
  std::vector<std::string> names;
  for (const auto& a : pieces) {
    for (const auto& b : pieces) names.push_back(a + b);
  }
  names.push_back(std::string("a\0/../..", 8));
  const std::filesystem::path target = "/srv/music/restore";
  std::size_t cases = 0, escapes = 0;
  for (const std::string& playlist : names) {
    const auto folder = RestoreFolder(target.string(), playlist);
    escapes += !StaysBelow(target, folder) || folder.parent_path() != target;
    ++cases;
    for (const std::string& display : pieces) {
      const auto file = RestoreTargetFile(target.string(), playlist, display);
      escapes += !StaysBelow(target, file) || file.parent_path() != folder || file.filename().string().size() > 255;
      ++cases;
    }
  }
  EXPECT_EQ(cases, names.size() * (1 + pieces.size()));
  EXPECT_EQ(escapes, 0u) << "of " << cases << " crafted cases";
  RecordProperty("crafted_name_cases", static_cast<int>(cases));
}

class SecurityTest : public test::TempHomeTest {
protected:
  static constexpr const char* kPassword = "Zq7-kX2p;Lm9=secret";

  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    lockerData_ = home() / "locker-data";
    // The account is made through the control interface: on the locker's command line the
    // password would be in a process argument, which is what one test looks for.
    locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--data", lockerData_.string()});
    locker_->Control("/_control/users", {{"name", "alice"}, {"password", kPassword}});
  }

  std::filesystem::path home() const { return files().parent_path(); }

  // Runs the program without a shell, so no command line but the program's own holds anything.
  // Standard output and error are kept; `whileRunning` is called every 20 ms until it ends.
  test::CommandResult Run(const std::vector<std::string>& arguments, const std::string& password,
                          const std::function<void(pid_t)>& whileRunning = {}) {
    std::vector<std::string> args{VELMORA_CLI_PATH, "--stage", locker_->hostPort(), "--user", "alice"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
      if (std::string(*variable).rfind("VELMORA_PASSWORD=", 0) != 0) environment.push_back(*variable);
    }
    if (!password.empty()) environment.push_back("VELMORA_PASSWORD=" + password);
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const auto out = home() / "out.txt", err = home() / "err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    test::CommandResult result;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return result;
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid, &status, whileRunning ? WNOHANG : 0);
      if (done == pid) break;
      whileRunning(pid);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = test::ReadFile(out);
    result.err = test::ReadFile(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    outputs_ += result.out + result.err;
    return result;
  }

  // Uploads `count` files of their own bytes with crafted metadata through a fresh upload address.
  std::vector<std::string> SeedItems(const std::vector<std::array<std::string, 3>>& items) {
    std::vector<std::string> hashes;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const auto& [name, artist, album] = items[i];
      const std::string bytes = "seed " + std::to_string(i) + std::string(2000 + i, static_cast<char>('a' + i % 26));
      const auto file = home() / ("seed" + std::to_string(i) + ".mp3");
      test::WriteFile(file, bytes);
      pugi::xml_document meta;
      auto data = meta.append_child("data");
      data.append_child("Name").text().set(name.c_str());
      data.append_child("Artist").text().set(artist.c_str());
      data.append_child("Album").text().set(album.c_str());
      const auto metaFile = home() / ("seed" + std::to_string(i) + ".xml");
      meta.save_file(metaFile.c_str());
      pugi::xml_document address;
      address.load_string(locker_->Control("/_control/upload-address", {{"user", "alice"}}).c_str());
      const std::string location = address.child("location").text().get();
      const auto sent = test::RunCommand("curl -s -f -o /dev/null -F filedata=@" + test::ShellQuote(file.string()) +
                                         " -F metainfo=\\<" + test::ShellQuote(metaFile.string()) + " " + location);
      EXPECT_EQ(sent.exitCode, 0) << sent.err;
      hashes.push_back(Sha1Hex(bytes));
    }
    return hashes;
  }

  // Every path below `folder`, folders included.
  static std::set<std::string> Everything(const std::filesystem::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) found.insert(entry.path().string());
    return found;
  }

  // Every file below `folder` whose bytes hold `needle`.
  static std::vector<std::string> FilesHolding(const std::filesystem::path& folder, const std::string& needle) {
    std::vector<std::string> holding;
    if (!std::filesystem::exists(folder)) return holding;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file() && test::ReadFile(entry.path()).find(needle) != std::string::npos) {
        holding.push_back(entry.path().string());
      }
    }
    return holding;
  }

  std::filesystem::path lockerData_;
  std::unique_ptr<test::LockerProcess> locker_;
  std::string outputs_; // stdout and stderr of every command run
};

// The arguments of a running process; what could be read of them when it ends meanwhile (its
// files then fail with "No such process", which says nothing about the password).
std::string ProcessArguments(const std::string& pid) {
  const int fd = ::open(("/proc/" + pid + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string arguments;
  char buffer[4096];
  ssize_t length = 0;
  while ((length = ::read(fd, buffer, sizeof buffer)) > 0) arguments.append(buffer, static_cast<std::size_t>(length));
  ::close(fd);
  return arguments;
}

TEST_F(SecurityTest, CraftedNamesOnTheServiceStayInsideTheRestoreTarget) {
  const auto& pieces = ClimbingPieces();
  std::vector<std::array<std::string, 3>> items;
  for (std::size_t i = 0; i < 12; ++i) {
    // Names of XML 1.0: no zero byte, no control characters but tabs.
    items.push_back({pieces[(3 * i + 2) % pieces.size()] + pieces[(5 * i + 1) % pieces.size()],
                     pieces[(7 * i + 3) % pieces.size()], pieces[(11 * i + 5) % pieces.size()]});
  }
  const auto hashes = SeedItems(items);
  std::string all;
  for (const auto& hash : hashes) all += (all.empty() ? "" : ",") + hash;
  std::set<std::string> playlistNames;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string name = pieces[i] + pieces[(i * 13 + 7) % pieces.size()] + "p" + std::to_string(i);
    const std::string named = i % 3 == 0 ? pieces[i] + std::to_string(i) : name;
    playlistNames.insert(named);
    locker_->Control("/_control/playlists", {{"user", "alice"}, {"name", named}, {"hashes", all}});
  }

  const auto sandbox = home() / "sandbox";
  const auto target = sandbox / "deep" / "target";
  std::filesystem::create_directories(target);
  const auto before = Everything(home());
  const auto result = Run({"restore", "--target", target.string()}, kPassword);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const auto wholeLibrary = Run({"restore", "--all", "--target", target.string()}, kPassword);
  EXPECT_EQ(wholeLibrary.exitCode, 0) << wholeLibrary.err;

  std::size_t created = 0, escapes = 0;
  for (const std::string& path : Everything(home())) {
    if (before.count(path) || path.rfind(lockerData_.string(), 0) == 0 || path.rfind(cacheHome().string(), 0) == 0 ||
        path.rfind(configHome().string(), 0) == 0) {
      continue;
    }
    ++created;
    if (!StaysBelow(target, path)) {
      ++escapes;
      ADD_FAILURE() << "written outside the target: " << path;
    }
  }
  EXPECT_EQ(escapes, 0u);
  EXPECT_FALSE(std::filesystem::exists("/tmp/velmora-escape"));
  EXPECT_FALSE(std::filesystem::exists("/etc/passwd.mp3"));
  // Every playlist got a folder, and every item a file (each item is fetched once per restore,
  // into the first playlist that lists it): nothing was skipped to stay safe.
  std::set<std::string> folders;
  std::size_t restoredFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(target)) {
    if (!entry.is_directory()) continue;
    folders.insert(entry.path().filename().string());
    for (const auto& file : std::filesystem::directory_iterator(entry.path())) restoredFiles += file.is_regular_file();
  }
  std::set<std::string> expectedFolders{"All items"};
  for (const auto& name : playlistNames)
    expectedFolders.insert(RestoreFolder(target.string(), name).filename().string());
  EXPECT_EQ(folders, expectedFolders);
  EXPECT_EQ(restoredFiles, 2 * items.size()) << result.out << result.err;
  RecordProperty("crafted_playlists", static_cast<int>(playlistNames.size()));
  RecordProperty("crafted_items", static_cast<int>(items.size()));
  RecordProperty("paths_created", static_cast<int>(created));
}

TEST_F(SecurityTest, SettingsAndWorkFolderAreTheUsersOnly) {
  const auto login = Run({"login"}, kPassword);
  ASSERT_EQ(login.exitCode, 0) << login.err;
  const auto settings = configHome() / "velmora-online" / "settings.ini";
  struct stat info {};
  ASSERT_EQ(::stat(settings.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(settings.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(workFolder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  // After an upload has filled it, still nobody else can enter the work folder or any folder in it.
  const auto music = home() / "music";
  test::WriteFile(music / "a.mp3", std::string(5000, 'a'));
  ASSERT_EQ(Run({"upload", music.string()}, kPassword).exitCode, 0);
  ASSERT_EQ(::stat(workFolder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(workFolder())) {
    if (!entry.is_directory()) continue;
    ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << entry.path() << " is open to others";
  }
  ASSERT_EQ(::stat(settings.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u) << "after a run that stored the settings again";
}

TEST_F(SecurityTest, PasswordIsInNoFileButTheSettingsNoArgumentAndNoOutput) {
  const std::string password = kPassword;
  const auto music = home() / "music";
  test::WriteFile(music / "one.mp3", std::string(40000, '1'));
  test::WriteFile(music / "two.mp3", std::string(40000, '2'));
  const auto target = home() / "restored";
  std::filesystem::create_directories(target);

  ASSERT_EQ(Run({"login"}, password).exitCode, 0);
  EXPECT_EQ(Run({"playlists"}, "").exitCode, 0); // the stored password
  // While an upload waits on a stalled answer, no process on the machine carries the password
  // in its arguments.
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "stall"}, {"ms", "1500"}});
  int looks = 0, sawProgram = 0;
  std::vector<std::string> exposed;
  const auto upload = Run({"upload", "--playlist", "Mine", music.string()}, password, [&](pid_t pid) {
    ++looks;
    if (std::filesystem::exists("/proc/" + std::to_string(pid) + "/cmdline")) ++sawProgram;
    DIR* proc = ::opendir("/proc");
    if (!proc) return;
    while (const dirent* entry = ::readdir(proc)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
      if (ProcessArguments(entry->d_name).find(password) != std::string::npos) exposed.push_back(entry->d_name);
    }
    ::closedir(proc);
  });
  EXPECT_EQ(upload.exitCode, 0) << upload.err;
  EXPECT_GT(sawProgram, 20) << "the program was looked at while it ran (" << looks << " looks)";
  EXPECT_TRUE(exposed.empty()) << "password in the arguments of process " << exposed.front();

  EXPECT_EQ(Run({"restore", "--all", "--target", target.string()}, "").exitCode, 0);

  // Files: the settings file holds it (escaped where INI needs it), no other file does: not the
  // work folder with its databases and exchange files, not the restored or uploaded files.
  const auto settings = configHome() / "velmora-online" / "settings.ini";
  EXPECT_THAT(test::ReadFile(settings), HasSubstr("Zq7-kX2p"));
  for (const std::string& needle : {password, std::string("Zq7-kX2p")}) {
    EXPECT_THAT(FilesHolding(cacheHome(), needle), ::testing::IsEmpty());
    EXPECT_THAT(FilesHolding(target, needle), ::testing::IsEmpty());
    EXPECT_THAT(FilesHolding(music, needle), ::testing::IsEmpty());
    EXPECT_THAT(FilesHolding(configHome(), needle), ::testing::IsSubsetOf({settings.string()}));
    // The service keeps every field of every request in its log: the program sent only the digest.
    const std::string log = locker_->Control("/_control/requests", {{"limit", "500"}}, false);
    EXPECT_THAT(log, HasSubstr("hashpassword"));
    EXPECT_THAT(log, Not(HasSubstr(needle)));
  }

  // A refused login says so without repeating what was typed (and clears the stored password).
  const auto refused = Run({"playlists"}, "wrong-" + password);
  EXPECT_EQ(refused.exitCode, 1);

  // The command line offers no way to give a password as an argument.
  for (const std::string command :
       {"", "login", "logout", "playlists", "upload", "itunes", "winamp", "restore", "hash", "inspect"}) {
    std::vector<std::string> help;
    if (!command.empty()) help.push_back(command);
    help.push_back("--help");
    const auto shown = Run(help, "");
    EXPECT_EQ(shown.exitCode, 0) << command;
    EXPECT_THAT(shown.out + shown.err, Not(HasSubstr("--pass"))) << command;
  }
  // No output of any command so far held it (the refused one's wrong password neither).
  EXPECT_THAT(outputs_, Not(HasSubstr(password)));
  // A password put on the command line anyway is bad usage (that output may repeat it).
  EXPECT_EQ(Run({"--password", password, "playlists"}, "").exitCode, 2);
}

} // namespace
} // namespace velmora

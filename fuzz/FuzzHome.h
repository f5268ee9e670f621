#pragma once
// What the fuzz targets of the engine share: a private home (work folder, settings, Wine prefix)
// in a temporary folder made once per process and removed at exit, the input written as a file
// there, a Ui that shows nothing, and an engine started in that home.

#include "FuzzInput.h"
#include "app/Engine.h"
#include "base/Ui.h"
#include "base/WorkFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace velmora::fuzz {

class SilentUi : public Ui {
public:
  void SetStatusText(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowErrorMessage(const std::string&) override {}
  void ShowErrorDisplay(const std::string&) override {}
  void SetProgress(ProgressBar, std::int64_t, std::int64_t) override {}
  void ProcessMessages() override {}
  void OpenUrl(const std::string&) override {}
  void ViewChanged(View) override {}
};

// The process's home: XDG_CACHE_HOME, XDG_CONFIG_HOME, WINEPREFIX and HOME point into it.
inline const std::filesystem::path& Home() {
  static const std::filesystem::path home = [] {
    // Memory-backed when the machine has it: every input is written as a file, and on a disk
    // each rewrite costs milliseconds.
    std::error_code error;
    const char* base = std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/velmora-fuzz-home-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    const std::filesystem::path path = pattern;
    std::filesystem::create_directories(path / "files");
    ::setenv("XDG_CACHE_HOME", (path / "cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (path / "config").c_str(), 1);
    ::setenv("WINEPREFIX", (path / "wine").c_str(), 1);
    ::setenv("HOME", path.c_str(), 1);
    static const std::string removeAtExit = path.string();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
    return path;
  }();
  return home;
}

// The folder the inputs are written to.
inline std::filesystem::path Files() { return Home() / "files"; }

// Writes the bytes as Files()/name and returns the path.
inline std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = (Files() / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::abort();
  return path;
}

// Answers land as "tmp_" files in the run folder; without a clean-up now and then a long run
// would fill the folder with hundreds of thousands of them.
inline void CleanWorkFolderNowAndThen() {
  static unsigned runs = 0;
  if (++runs % 512 == 0) CleanWorkFolder();
}

// One engine for the process, started in the private home, as the window starts it.
inline Engine& StartedEngine() {
  static SilentUi ui;
  static std::unique_ptr<Engine> engine = [] {
    Home();
    auto created = std::make_unique<Engine>(ui, EngineOptions{"", Home() / "config" / "settings.ini"});
    created->Startup();
    return created;
  }();
  return *engine;
}

// True when `path` is lexically `root` followed by at least one more component, none of them
// "." or "..": the path cannot name anything outside `root`.
inline bool StaysBelow(const std::filesystem::path& root, const std::filesystem::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *p != *r) return false;
  }
  if (p == path.end()) return false;
  for (; p != path.end(); ++p) {
    if (*p == "." || *p == ".." || p->empty()) return false;
  }
  return true;
}

} // namespace velmora::fuzz

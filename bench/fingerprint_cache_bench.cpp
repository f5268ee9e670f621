// Cache look-ups of FileFingerprint at growing cache sizes: every path is answered from the
// cache, so the cost is the file's stat plus one indexed SELECT.

#include "BenchSupport.h"
#include "app/Engine.h"
#include "store/Sha1.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using velmora::bench::NullUi;

std::filesystem::path BenchRoot() { return std::filesystem::temp_directory_path() / "velmora-bench-fingerprints"; }

// Makes `rows` empty files and a cache that knows all of them as they are (size and time).
std::vector<std::string> PrepareCache(velmora::Engine& engine, int rows) {
  const auto folder = BenchRoot() / ("files" + std::to_string(rows));
  std::filesystem::create_directories(folder);
  std::vector<std::string> paths;
  auto& db = *engine.databases().meta;
  db.exec("DELETE FROM knownfilehashvalues");
  db.exec("begin transaction");
  SQLite::Statement insert(db, "INSERT INTO knownfilehashvalues (hashid,location,filesize,filemtime) VALUES (?,?,?,?)");
  for (int i = 0; i < rows; ++i) {
    const auto path =
        (folder / ("Artist " + std::to_string(i % 97) + " - Track " + std::to_string(i) + ".mp3")).string();
    if (!std::filesystem::exists(path)) std::ofstream{path};
    insert.bind(1, "0123456789abcdef0123456789abcdef" + std::to_string(10000000 + i));
    insert.bind(2, path);
    struct stat info {};
    ::stat(path.c_str(), &info);
    const velmora::FileFacts facts = velmora::FileFacts::Of(info);
    insert.bind(3, facts.size);
    insert.bind(4, facts.modifiedNs);
    insert.exec();
    insert.reset();
    paths.push_back(path);
  }
  db.exec("commit transaction");
  return paths;
}

void BM_CachedLookups(benchmark::State& state) {
  ::setenv("XDG_CACHE_HOME", (BenchRoot() / "cache").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (BenchRoot() / "config").c_str(), 1);
  NullUi ui;
  velmora::Engine engine(ui);
  engine.Startup();
  const auto paths = PrepareCache(engine, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    for (const auto& path : paths) benchmark::DoNotOptimize(engine.FileFingerprint(path));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(paths.size()));
  state.counters["lookups_per_s"] =
      benchmark::Counter(static_cast<double>(paths.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CachedLookups)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();

// Building the upload queue from 5,000 and 50,000 collected items, as the dropped-files source
// builds it (everything eligible) and as the iTunes and Winamp sources build it (only the hash ids
// of the chosen playlists). Every item names a real file, because the build checks each on disk.

#include "BenchSupport.h"
#include "EngineInternals.h"
#include "model/MediaLibraryFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace {

using namespace velmora;
namespace fs = std::filesystem;

fs::path FilesFolder(int count) {
#ifdef VELMORA_BENCH_CACHE
  const fs::path root = VELMORA_BENCH_CACHE;
#else
  const fs::path root = fs::temp_directory_path() / "velmora-bench-cache";
#endif
  return root / ("queue-files-" + std::to_string(count));
}

// `count` one-kilobyte files, made once and kept for later runs.
std::vector<std::string> MakeFiles(int count) {
  const fs::path folder = FilesFolder(count);
  const fs::path done = folder / ".complete";
  std::vector<std::string> paths;
  const bool complete = fs::exists(done);
  fs::create_directories(folder);
  const std::string bytes(1024, 'a');
  for (int i = 0; i < count; ++i) {
    const fs::path path = folder / ("Artist " + std::to_string(i % 211) + " - Track " + std::to_string(i) + ".mp3");
    if (!complete) std::ofstream(path, std::ios::binary) << bytes;
    paths.push_back(path.string());
  }
  if (!complete) std::ofstream{done};
  return paths;
}

MediaItems MakeItems(const std::vector<std::string>& paths) {
  MediaItems items;
  items.reserve(paths.size());
  char hash[49]; // 40 hex digits for these counts, room for the widest size_t
  for (std::size_t i = 0; i < paths.size(); ++i) {
    MediaItem item;
    item.Location = paths[i];
    item.Artist = "Artist " + std::to_string(i % 211);
    item.Album = "Album " + std::to_string(i % 977);
    item.Name = "Track " + std::to_string(i);
    item.Genre = "Rock";
    item.TrackNo = std::to_string(i % 20 + 1);
    item.Year = "1999";
    item.Bitrate = 128;
    item.Length = 215;
    item.Size = 1024;
    item.SampleRate = 44100;
    std::snprintf(hash, sizeof hash, "%08zx%032zx", i, i * 2654435761u);
    item.HashValue = hash;
    item.HashCheckResponse = i % 10 == 0 ? 204 : 404;
    items.push_back(std::move(item));
  }
  return items;
}

struct Prepared {
  std::unique_ptr<Engine> engine;
  HashIdFilter filter;
};

bench::NullUi ui;
std::map<int, Prepared> prepared;
std::map<std::string, double> secondsPerBuild;

Prepared& Prepare(int count) {
  Prepared& p = prepared[count];
  if (p.engine) return p;
  p.engine = std::make_unique<Engine>(ui);
  p.engine->Startup();
  EngineInternals::collection(*p.engine).items = MakeItems(MakeFiles(count));
  p.engine->upload().CurrentMediaLibraryFile =
      WriteMediaLibraryFile(EngineInternals::collection(*p.engine).items, kSourceDroppedFiles, ui);
  // Playlists of 100 items, as the Winamp tab keeps them.
  std::vector<std::string> row;
  for (std::size_t i = 0; i < EngineInternals::collection(*p.engine).items.size(); ++i) {
    row.push_back(EngineInternals::collection(*p.engine).items[i].HashValue);
    if (i % 100 == 99) p.filter.Add(row), row.clear();
  }
  if (!row.empty()) p.filter.Add(row);
  return p;
}

void Build(benchmark::State& state, bool filtered) {
  const int count = static_cast<int>(state.range(0));
  Prepared& p = Prepare(count);
  int queued = 0;
  for (auto _ : state) {
    state.PauseTiming();
    p.engine->upload().ClearUploadQueue();
    state.ResumeTiming();
    p.engine->upload().BuildUploadQueue(EngineInternals::collection(*p.engine).items,
                                        filtered ? kSourceWinamp : kSourceDroppedFiles,
                                        filtered ? p.filter : HashIdFilter{}, "");
    queued = p.engine->upload().queue().QueueCount();
  }
  if (queued != count) state.SkipWithError("not every item was queued");
  state.counters["queued"] = queued;
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_BuildQueueDropped(benchmark::State& state) { Build(state, false); }
void BM_BuildQueueChosenPlaylists(benchmark::State& state) { Build(state, true); }

class Collector : public benchmark::ConsoleReporter {
public:
  Collector() : ConsoleReporter(OO_Tabular) {} // no colours: the output goes to log files
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      secondsPerBuild[run.benchmark_name()] = seconds;
    }
  }
};

} // namespace

BENCHMARK(BM_BuildQueueDropped)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_BuildQueueChosenPlaylists)
    ->Arg(5000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const fs::path home = bench::MakeHome("velmora-bench-queue");
  Collector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int count : {5000, 50000}) {
    double worst = 0;
    for (const auto& [name, seconds] : secondsPerBuild) {
      if (name.find("/" + std::to_string(count) + "/") != std::string::npos) worst = std::max(worst, seconds);
    }
    if (worst > 0) {
      std::printf("queue of %d items: %.3f s (slower of the two builds)\n", count, worst);
      bench::Result("queue_" + std::to_string(count), worst, "s");
    }
  }
  prepared.clear();
  std::error_code ignored;
  fs::remove_all(home, ignored);
  benchmark::Shutdown();
  return 0;
}

// Analysing a dropped tree of 10,000 MP3 files again with a warm fingerprint cache (the folder
// search, the tag readers and one cache look-up per file), beside the first analysis that hashes
// every file. The bytes read per file show that the warm pass reads tags only, never whole files.

#include "BenchSupport.h"
#include "EngineInternals.h"
#include "sources/DroppedFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using namespace velmora;
namespace fs = std::filesystem;
constexpr int kFiles = 10000;

std::string BigEndian(std::uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}
std::string Syncsafe(std::uint32_t n) {
  return {static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F), static_cast<char>((n >> 7) & 0x7F),
          static_cast<char>(n & 0x7F)};
}
std::string TextFrame(const std::string& id, const std::string& text) {
  return id + BigEndian(static_cast<std::uint32_t>(text.size() + 1)) + std::string(2, '\0') + '\0' + text;
}

// An ID3v2.3 tag, 40 MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each) of their own
// bytes, and an ID3v1 tag: what the readers look at in a real file, about 17 KB.
std::string Track(int i) {
  std::string frames =
      TextFrame("TIT2", "Track " + std::to_string(i)) + TextFrame("TPE1", "Artist " + std::to_string(i % 97)) +
      TextFrame("TALB", "Album " + std::to_string(i % 500)) + TextFrame("TRCK", std::to_string(i % 15 + 1)) +
      TextFrame("TYER", "2001") + TextFrame("TCON", "(17)");
  std::string bytes =
      "ID3" + std::string("\x03\x00\x00", 3) + Syncsafe(static_cast<std::uint32_t>(frames.size())) + frames;
  for (int f = 0; f < 40; ++f) {
    std::string frame(417, '\0');
    frame.replace(0, 4, "\xFF\xFB\x90\x00", 4);
    for (std::size_t b = 4; b < frame.size(); ++b) frame[b] = static_cast<char>((b * 31 + f * 7 + i) & 0xFF);
    bytes += frame;
  }
  std::string v1 = "TAG" + std::string(125, '\0');
  return bytes + v1;
}

fs::path Tree() {
#ifdef VELMORA_BENCH_CACHE
  const fs::path root = VELMORA_BENCH_CACHE;
#else
  const fs::path root = fs::temp_directory_path() / "velmora-bench-cache";
#endif
  const fs::path tree = root / "reanalysis-tree";
  if (fs::exists(tree / ".complete")) return tree;
  for (int i = 0; i < kFiles; ++i) {
    const fs::path folder = tree / ("Artist " + std::to_string(i % 97)) / ("Album " + std::to_string(i % 500));
    fs::create_directories(folder);
    std::ofstream(folder / ("Track " + std::to_string(i) + ".mp3"), std::ios::binary) << Track(i);
  }
  std::ofstream{tree / ".complete"};
  return tree;
}

// Bytes this process has read through system calls so far.
std::int64_t BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

bench::NullUi ui;
std::unique_ptr<Engine> engine;
fs::path tree;
double coldMsPerFile = 0, warmMsPerFile = 0, coldBytesPerFile = 0, warmBytesPerFile = 0;

void Analyse() {
  engine->ClearDroppedFiles();
  engine->DropFiles({tree.string()});
  engine->AnalyzeDroppedFiles();
}

void BM_FirstAnalysis(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    engine->databases().meta->exec("DELETE FROM knownfilehashvalues");
    const std::int64_t before = BytesRead();
    state.ResumeTiming();
    Analyse();
    state.PauseTiming();
    coldBytesPerFile = static_cast<double>(BytesRead() - before) / kFiles;
    state.ResumeTiming();
  }
  if (EngineInternals::collection(*engine).items.size() != kFiles) state.SkipWithError("not every file was analysed");
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_WarmReanalysis(benchmark::State& state) {
  Analyse(); // the cache knows every file from here on
  const std::int64_t before = BytesRead();
  for (auto _ : state) Analyse();
  warmBytesPerFile = static_cast<double>(BytesRead() - before) / kFiles / static_cast<double>(state.iterations());
  if (EngineInternals::collection(*engine).items.size() != kFiles) state.SkipWithError("not every file was analysed");
  state.SetItemsProcessed(state.iterations() * kFiles);
}

class Collector : public benchmark::ConsoleReporter {
public:
  Collector() : ConsoleReporter(OO_Tabular) {} // no colours: the output goes to log files
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double ms = 1000.0 * run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) / kFiles;
      if (run.benchmark_name().find("First") != std::string::npos) coldMsPerFile = ms;
      if (run.benchmark_name().find("Warm") != std::string::npos) warmMsPerFile = ms;
    }
  }
};

} // namespace

BENCHMARK(BM_FirstAnalysis)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_WarmReanalysis)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const fs::path home = bench::MakeHome("velmora-bench-reanalysis");
  tree = Tree();
  engine = std::make_unique<Engine>(ui);
  engine->Startup();
  Collector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf(
      "\nfirst analysis (hashing):   %.3f ms/file, %.0f bytes read per file\n"
      "again with a warm cache:    %.3f ms/file, %.0f bytes read per file (target < 1 ms/file)\n",
      coldMsPerFile, coldBytesPerFile, warmMsPerFile, warmBytesPerFile);
  if (warmMsPerFile > 0) {
    bench::Result("reanalysis_warm_ms", warmMsPerFile, "ms/file");
    bench::Result("reanalysis_cold_ms", coldMsPerFile, "ms/file");
    bench::Result("reanalysis_warm_bytes", warmBytesPerFile, "B/file");
    bench::Result("reanalysis_cold_bytes", coldBytesPerFile, "B/file");
  }
  engine.reset();
  std::error_code ignored;
  fs::remove_all(home, ignored);
  benchmark::Shutdown();
  return 0;
}

// One 19 MiB file fetched from velmora-locker on loopback: the restore's DownloadClient against
// `curl -o` from the same download address, in one run, plus the peak memory growth of the
// DownloadClient (the file must be streamed to disk, never held).
//
// Usage: download_bench [benchmark flags]; the locker is found through $VELMORA_LOCKER or beside
// this program's build folder (../tools/locker/velmora-locker).

#include "BenchSupport.h"
#include "service/CallApi.h"
#include "service/CallService.h"
#include "service/DownloadClient.h"
#include "store/Sha1.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <algorithm>
#include <memory>

namespace {

using namespace velmora;
namespace fs = std::filesystem;
constexpr std::int64_t kFileSize = 19 * 1024 * 1024;

struct Setup {
  fs::path home;
  fs::path file;
  std::string hashId;
  std::string url;
  bench::NullUi ui;
  std::unique_ptr<bench::Locker> locker;
  std::unique_ptr<Engine> engine;
  double clientBytesPerSecond = 0;
  double curlBytesPerSecond = 0;
  std::int64_t rssGrowthKiB = -1;
  bool wrongBytes = false;
};
Setup* setup = nullptr;

std::string AnswerText(const std::string& answer, const char* path) {
  pugi::xml_document document;
  if (!document.load_string(answer.c_str())) return {};
  return document.select_node(path).node().child_value();
}

// Stores the file on the service as the upload loop does and asks for its download address.
void StoreAndAddress() {
  const ServiceReply added =
      setup->engine->service().Call("items/add", FormData().AddText("checkhashresponse", "404"), false, "");
  const std::string location = AnswerText(added.ResponseText, "//result/location");
  if (!added.Success || location.empty()) throw std::runtime_error("items/add failed: " + added.ErrorMessage);
  HttpReply stored;
  FormData form;
  form.AddFile("filedata", setup->file.string(), "audio/unknown");
  setup->engine->service().Post(location, std::move(form), stored, false);
  const std::string entryKey = AnswerText(stored.Body, "//result/entrykey");
  if (entryKey.empty()) throw std::runtime_error("the upload stored nothing: " + stored.Body);
  const ServiceReply delivered = setup->engine->service().Call(
      "items/get/deliver", FormData().AddText("libraryKey", "").AddText("entrykey", entryKey).AddText("options", ""),
      false, "");
  setup->url = AnswerText(delivered.ResponseText, "//result/location");
  if (!delivered.Success || setup->url.empty()) throw std::runtime_error("items/get/deliver failed");
}

void BM_DownloadClient(benchmark::State& state) {
  const fs::path target = setup->home / "by-client.mp3";
  // One download first, so that the one-time set-up of libcurl is not counted as growth.
  setup->engine->restorer().downloadClient().Get(setup->url, target);
  bench::ResetPeakMemory();
  const std::int64_t before = bench::StatusKiB("VmRSS:");
  for (auto _ : state) setup->engine->restorer().downloadClient().Get(setup->url, target);
  const std::int64_t peak = bench::StatusKiB("VmHWM:");
  setup->rssGrowthKiB = std::max(setup->rssGrowthKiB, peak - before);
  if (Sha1OfFile(target.string()).value_or("") != setup->hashId) setup->wrongBytes = true;
  state.SetBytesProcessed(state.iterations() * kFileSize);
  state.counters["peak_rss_growth_KiB"] = static_cast<double>(setup->rssGrowthKiB);
}

void BM_CurlCommandDownload(benchmark::State& state) {
  const std::string target = (setup->home / "by-curl.mp3").string();
  for (auto _ : state) {
    if (!bench::RunQuietly({"curl", "-s", "-S", "-f", "-o", target, setup->url})) state.SkipWithError("curl failed");
  }
  if (Sha1OfFile(target).value_or("") != setup->hashId) setup->wrongBytes = true;
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

class Collector : public benchmark::ConsoleReporter {
public:
  Collector() : ConsoleReporter(OO_Tabular) {} // no colours: the output goes to log files
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // The median of the repetitions: the machine is shared, single runs wander.
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const double rate = seconds > 0 ? kFileSize / seconds : 0;
      if (run.benchmark_name().find("DownloadClient") != std::string::npos) setup->clientBytesPerSecond = rate;
      if (run.benchmark_name().find("Curl") != std::string::npos) setup->curlBytesPerSecond = rate;
    }
  }
};

} // namespace

BENCHMARK(BM_DownloadClient)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_CurlCommandDownload)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(5);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Setup state;
  setup = &state;
  int exitCode = 0;
  try {
    state.home = bench::MakeHome("velmora-bench-download");
    state.file = state.home / "nineteen.mp3";
    bench::WriteRandomFile(state.file, kFileSize, 19);
    state.hashId = Sha1OfFile(state.file.string()).value();
    state.locker = std::make_unique<bench::Locker>(state.home / "locker");
    state.engine = std::make_unique<Engine>(state.ui, EngineOptions{"/stage " + state.locker->hostPort(), {}});
    state.engine->SetCredentials("bench", state.engine->password());
    state.engine->SetCredentials(state.engine->userName(), "pw");
    StoreAndAddress();

    Collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (state.wrongBytes) throw std::runtime_error("a download did not give the stored bytes");
    if (state.clientBytesPerSecond > 0 && state.curlBytesPerSecond > 0) {
      const double mib = 1024.0 * 1024.0;
      const double ratio = state.clientBytesPerSecond / state.curlBytesPerSecond;
      std::printf(
          "\nDownloadClient %8.1f MiB/s\ncurl -o        %8.1f MiB/s\nratio          %8.1f %%  (target >= 80 %%)\n"
          "peak RSS growth during DownloadClient downloads: %.2f MiB\n",
          state.clientBytesPerSecond / mib, state.curlBytesPerSecond / mib, ratio * 100,
          static_cast<double>(state.rssGrowthKiB) / 1024.0);
      bench::Result("download_client", state.clientBytesPerSecond / mib, "MiB/s");
      bench::Result("download_curl", state.curlBytesPerSecond / mib, "MiB/s");
      bench::Result("download_rss_growth", static_cast<double>(state.rssGrowthKiB) / 1024.0, "MiB");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "download_bench: %s\n", error.what());
    exitCode = 1;
  }
  state.engine.reset();
  state.locker.reset();
  std::error_code ignored;
  if (!state.home.empty()) fs::remove_all(state.home, ignored);
  benchmark::Shutdown();
  return exitCode;
}

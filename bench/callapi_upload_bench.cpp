// One 19 MiB file posted to velmora-locker on loopback: CallApi against `curl -F filedata=@FILE`
// to the same kind of one-use upload address, in one run, plus the peak memory growth of CallApi
// (the file must be streamed, never held whole).
//
// Usage: callapi_upload_bench [benchmark flags]; the locker is found through $VELMORA_LOCKER or
// beside this program's build folder (../tools/locker/velmora-locker).

#include "BenchSupport.h"
#include "app/Engine.h"
#include "service/CallApi.h"
#include "service/CallService.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kFileSize = 19 * 1024 * 1024;

using velmora::bench::Locker;
using velmora::bench::NullUi;
using velmora::bench::Spawn;
using velmora::bench::StatusKiB;

struct Setup {
  fs::path root;
  fs::path file;
  std::unique_ptr<Locker> locker;
  NullUi ui;
  std::unique_ptr<velmora::Engine> engine;
  double callApiBytesPerSecond = 0;
  double curlBytesPerSecond = 0;
  std::int64_t rssGrowthKiB = -1;
};
Setup* setup = nullptr;

// A fresh one-use upload address, as the upload loop gets it.
std::string UploadAddress() {
  const velmora::ServiceReply data =
      setup->engine->service().Call("items/add", velmora::FormData().AddText("checkhashresponse", "404"), false, "");
  pugi::xml_document answer;
  if (!data.Success || !answer.load_string(data.ResponseText.c_str())) {
    throw std::runtime_error("items/add failed: " + data.ErrorMessage);
  }
  return answer.select_node("//result/location").node().child_value();
}

void BM_CallApiUpload(benchmark::State& state) {
  // One request first, so that the one-time set-up of libcurl and OpenSSL is not counted as growth.
  UploadAddress();
  // Peak resident memory from here on: the kernel restarts its high-water mark on request.
  std::ofstream("/proc/self/clear_refs") << "5";
  const std::int64_t before = StatusKiB("VmRSS:");
  for (auto _ : state) {
    state.PauseTiming();
    const std::string address = UploadAddress();
    state.ResumeTiming();
    velmora::HttpReply response;
    velmora::FormData form;
    form.AddFile("filedata", setup->file.string(), "audio/unknown");
    setup->engine->service().Post(address, std::move(form), response, true);
  }
  const std::int64_t peak = StatusKiB("VmHWM:");
  setup->rssGrowthKiB = std::max(setup->rssGrowthKiB, peak - before);
  state.SetBytesProcessed(state.iterations() * kFileSize);
  state.counters["peak_rss_growth_KiB"] = static_cast<double>(setup->rssGrowthKiB);
}

void BM_CurlCommandUpload(benchmark::State& state) {
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) {
    state.PauseTiming();
    const std::string address = UploadAddress();
    state.ResumeTiming();
    const pid_t pid = Spawn(
        {"curl", "-s", "-S", "-f", "-o", "/dev/null", "-F", "filedata=@" + setup->file.string(), address}, devNull);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("curl failed");
  }
  ::close(devNull);
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

class Collector : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // The median of the repetitions: the machine is shared, single runs wander.
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const double rate = seconds > 0 ? kFileSize / seconds : 0;
      if (run.benchmark_name().find("CallApi") != std::string::npos) setup->callApiBytesPerSecond = rate;
      if (run.benchmark_name().find("Curl") != std::string::npos) setup->curlBytesPerSecond = rate;
    }
  }
};

} // namespace

BENCHMARK(BM_CallApiUpload)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_CurlCommandUpload)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Setup state;
  setup = &state;
  char pattern[] = "/tmp/velmora-bench-upload-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  state.root = pattern;
  ::setenv("XDG_CACHE_HOME", (state.root / "cache").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (state.root / "config").c_str(), 1);
  int exitCode = 0;
  try {
    state.file = state.root / "nineteen.mp3";
    velmora::bench::WriteRandomFile(state.file, kFileSize, 19);
    state.locker = std::make_unique<Locker>(state.root / "locker");
    state.engine =
        std::make_unique<velmora::Engine>(state.ui, velmora::EngineOptions{"/stage " + state.locker->hostPort(), {}});
    state.engine->SetCredentials("bench", state.engine->password());
    state.engine->SetCredentials(state.engine->userName(), "pw");
    state.engine->service().counters().TotalBytes = kFileSize;

    Collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (state.callApiBytesPerSecond > 0 && state.curlBytesPerSecond > 0) {
      const double mib = 1024.0 * 1024.0;
      const double ratio = state.callApiBytesPerSecond / state.curlBytesPerSecond;
      std::printf(
          "\nCallApi      %8.1f MiB/s\ncurl -F      %8.1f MiB/s\nratio        %8.1f %%  (target >= 80 %%)\n"
          "peak RSS growth during CallApi uploads: %.2f MiB  (target < 8 MiB)\n",
          state.callApiBytesPerSecond / mib, state.curlBytesPerSecond / mib, ratio * 100,
          static_cast<double>(state.rssGrowthKiB) / 1024.0);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "callapi_upload_bench: %s\n", error.what());
    exitCode = 1;
  }
  state.engine.reset();
  state.locker.reset();
  std::error_code ignored;
  fs::remove_all(state.root, ignored);
  benchmark::Shutdown();
  return exitCode;
}

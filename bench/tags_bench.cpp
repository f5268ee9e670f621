// Reading tags and MPEG data of 2,000 tagged 3-5 MB MP3 files: ReadFileMetadata against TagLib
// (FileRef with audio properties) on the same files in one run, warm cache.
//
// The files are made once into the build folder (VELMORA_BENCH_CACHE): two lame-encoded bodies
// (CBR 128 kbit/s and VBR -V 2), each file cut to its own size between 3 and 5 MB, with its own
// ID3v2 tag (2.3 or 2.4, Latin-1 / UTF-16 / UTF-8 texts, a 40 KB cover picture on every other
// file) and an ID3v1 tag.

#include "base/Ui.h"
#include "sources/FileMetadata.h"

#include <benchmark/benchmark.h>
#ifdef VELMORA_HAVE_TAGLIB
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;

namespace {

constexpr int kFiles = 2000;

class QuietUi : public Ui {
public:
  void SetStatusText(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowErrorMessage(const std::string& text) override { std::cerr << "error: " << text << "\n"; }
  void ShowErrorDisplay(const std::string&) override {}
  void SetProgress(ProgressBar, std::int64_t, std::int64_t) override {}
  void ProcessMessages() override {}
  void OpenUrl(const std::string&) override {}
  void ViewChanged(View) override {}
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string BigEndian(std::uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

std::string Syncsafe(std::uint32_t n) {
  return {static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F), static_cast<char>((n >> 7) & 0x7F),
          static_cast<char>(n & 0x7F)};
}

std::string Frame(int major, const std::string& id, const std::string& data) {
  const auto size = static_cast<std::uint32_t>(data.size());
  return id + (major == 4 ? Syncsafe(size) : BigEndian(size)) + std::string(2, '\0') + data;
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// A text frame in one of the encodings a tagger writes.
std::string Text(int major, const std::string& id, const std::string& value, int style) {
  if (style == 1) return Frame(major, id, std::string(1, '\1') + Utf16(value));
  if (style == 2 && major == 4) return Frame(major, id, std::string(1, '\3') + value);
  return Frame(major, id, std::string(1, '\0') + value);
}

std::string Id3v2(int i) {
  const int major = i % 3 == 0 ? 4 : 3;
  const int style = i % 3;
  const std::string n = std::to_string(i);
  std::string frames =
      Text(major, "TIT2", "Title number " + n, style) + Text(major, "TPE1", "Artist " + std::to_string(i % 97), style) +
      Text(major, "TALB", "Album " + std::to_string(i % 211), style) +
      Text(major, major == 4 ? "TDRC" : "TYER", std::to_string(1960 + i % 60), 0) +
      Text(major, "TRCK", std::to_string(1 + i % 14) + "/14", 0) +
      Text(major, "TCON", "(" + std::to_string(i % 126) + ")", 0) + Text(major, "TSSE", "LAME 3.100", 0) +
      Frame(major, "COMM", std::string(1, '\0') + "eng" + std::string(1, '\0') + "A comment for file " + n);
  if (i % 2 == 0) {
    std::string picture("\0image/jpeg\0\3\0", 14);
    for (int k = 0; k < 40 * 1024; ++k) picture += static_cast<char>((k * 2654435761u) >> 24);
    frames += Frame(major, "APIC", picture);
  }
  const std::string body = frames + std::string(1024, '\0');
  return "ID3" + std::string{static_cast<char>(major), 0, 0} + Syncsafe(static_cast<std::uint32_t>(body.size())) + body;
}

std::string Id3v1(int i) {
  auto field = [](std::string text, std::size_t width) {
    text.resize(width, '\0');
    return text;
  };
  return "TAG" + field("Title number " + std::to_string(i), 30) + field("Artist", 30) + field("Album", 30) +
         field(std::to_string(1960 + i % 60), 4) + field("", 28) + std::string{'\0', static_cast<char>(1 + i % 14)} +
         static_cast<char>(i % 126);
}

bool Run(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::cerr << "failed: " << command << "\n";
  return false;
}

// Makes the files once; a marker file tells that the set is complete.
std::vector<std::string> BenchFiles() {
  const fs::path cache = fs::path(VELMORA_BENCH_CACHE) / "tags";
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) paths.push_back((cache / ("track" + std::to_string(i) + ".mp3")).string());
  if (fs::exists(cache / "complete")) return paths;

  std::cerr << "Making " << kFiles << " MP3 files in " << cache << " (once) ...\n";
  fs::create_directories(cache);
  const fs::path raw = cache / "source.raw";
  {
    // 330 s of stereo tones with a little noise, so the VBR encoding varies its frame sizes.
    std::ofstream out(raw, std::ios::binary);
    std::uint32_t noise = 1;
    for (int s = 0; s < 44100 * 330; ++s) {
      noise = noise * 1664525u + 1013904223u;
      const double t = s / 44100.0;
      const double tone = std::sin(t * 440 * 6.283 * (1 + 0.5 * std::sin(t * 0.3))) * 6000;
      const auto left = static_cast<std::int16_t>(tone + static_cast<int>(noise >> 24) * 8 - 1024);
      const auto right = static_cast<std::int16_t>(tone * 0.7 + static_cast<int>((noise >> 16) & 0xFF) * 8 - 1024);
      const char bytes[4] = {static_cast<char>(left), static_cast<char>(left >> 8), static_cast<char>(right),
                             static_cast<char>(right >> 8)};
      out.write(bytes, 4);
    }
  }
  const std::string lame = "lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian ";
  const fs::path cbr = cache / "body-cbr.mp3", vbr = cache / "body-vbr.mp3";
  if (!Run(lame + "-b 128 '" + raw.string() + "' '" + cbr.string() + "' 2>/dev/null") ||
      !Run(lame + "-V 2 '" + raw.string() + "' '" + vbr.string() + "' 2>/dev/null"))
    std::exit(1);
  fs::remove(raw);
  const std::string bodies[2] = {ReadAll(cbr), ReadAll(vbr)};

  for (int i = 0; i < kFiles; ++i) {
    const std::string& body = bodies[i % 2];
    const std::size_t size = std::min<std::size_t>(body.size(), 3'000'000 + (i * 7919u) % 2'000'000);
    std::ofstream out(paths[static_cast<std::size_t>(i)], std::ios::binary);
    const std::string tag = Id3v2(i), v1 = Id3v1(i);
    out.write(tag.data(), static_cast<std::streamsize>(tag.size()));
    out.write(body.data(), static_cast<std::streamsize>(size));
    out.write(v1.data(), static_cast<std::streamsize>(v1.size()));
  }
  std::ofstream(cache / "complete") << kFiles << "\n";
  return paths;
}

const std::vector<std::string>& Files() {
  static const std::vector<std::string> files = BenchFiles();
  return files;
}

std::size_t ReadOurs() {
  static QuietUi ui;
  static TagReaders readers;
  std::size_t checksum = 0;
  for (const auto& path : Files()) {
    const MediaItem item = ReadFileMetadata(path, readers, ui);
    checksum += item.Name.size() + item.Artist.size() + item.Album.size() + item.Year.size() + item.TrackNo.size() +
                item.Genre.size() + static_cast<std::size_t>(item.Bitrate.value_or(0)) +
                static_cast<std::size_t>(item.Length.value_or(0)) + static_cast<std::size_t>(item.SampleRate.value_or(0));
  }
  return checksum;
}

#ifdef VELMORA_HAVE_TAGLIB
std::size_t ReadTagLib() {
  std::size_t checksum = 0;
  for (const auto& path : Files()) {
    TagLib::FileRef file(path.c_str(), true, TagLib::AudioProperties::Average);
    if (file.isNull() || !file.tag()) continue;
    const TagLib::Tag* tag = file.tag();
    checksum += tag->title().to8Bit(true).size() + tag->artist().to8Bit(true).size() +
                tag->album().to8Bit(true).size() + std::to_string(tag->year()).size() +
                std::to_string(tag->track()).size() + tag->genre().to8Bit(true).size();
    if (const auto* audio = file.audioProperties())
      checksum += std::to_string(audio->bitrate()).size() + std::to_string(audio->lengthInSeconds()).size() +
                  std::to_string(audio->sampleRate()).size();
  }
  return checksum;
}
#endif

void SetRate(benchmark::State& state) {
  state.counters["files/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kFiles, benchmark::Counter::kIsRate);
}

void BM_ReadFileMetadata(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ReadOurs());
  SetRate(state);
}
BENCHMARK(BM_ReadFileMetadata)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

#ifdef VELMORA_HAVE_TAGLIB
void BM_TagLibFileRef(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ReadTagLib());
  SetRate(state);
}
BENCHMARK(BM_TagLibFileRef)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
#endif

// Prints the two rates side by side once both have run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      const auto counter = run.counters.find("files/s");
      const std::string name = run.benchmark_name();
      if (counter != run.counters.end()) rates[name.substr(0, name.find('/'))] = counter->second.value;
    }
  }
  std::map<std::string, double> rates;
};

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // One pass of each reader first, so both run on a warm cache.
  std::cerr << "Warming the cache ...\n";
  benchmark::DoNotOptimize(ReadOurs());
#ifdef VELMORA_HAVE_TAGLIB
  benchmark::DoNotOptimize(ReadTagLib());
#endif
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double ours = reporter.rates["BM_ReadFileMetadata"];
  const double theirs = reporter.rates["BM_TagLibFileRef"];
  std::printf("\nReadFileMetadata: %.0f files/s\n", ours);
  if (theirs > 0) {
    std::printf("TagLib FileRef:   %.0f files/s\n", theirs);
    std::printf("ratio:            %.2fx (target at least 1.5x)\n", ours / theirs);
  } else {
    std::printf("TagLib was not measured (libtag1-dev missing or filtered out)\n");
  }
  return 0;
}

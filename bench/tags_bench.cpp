// Reading tags and MPEG data of 2,000 tagged 3-5 MB MP3 files: ReadFileMetadata against TagLib
// (FileRef with audio properties) on the same files in one run, warm cache. Beside it the same
// comparison over 1,000 tagged .m4a files, which ReadFileMetadata reads through TagLib itself.
//
// The files are made once into the build folder (VELMORA_BENCH_CACHE): two lame-encoded bodies
// (CBR 128 kbit/s and VBR -V 2), each file cut to its own size between 3 and 5 MB, with its own
// ID3v2 tag (2.3 or 2.4, Latin-1 / UTF-16 / UTF-8 texts, a 40 KB cover picture on every other
// file) and an ID3v1 tag. The .m4a files are two ffmpeg-made AAC bodies (30 s at 128 kbit/s,
// 60 s at 192 kbit/s), each copy given its own tags by TagLib.

#include "base/Ui.h"
#include "sources/FileMetadata.h"

#include <benchmark/benchmark.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

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
constexpr int kM4aFiles = 1000;

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

// Makes the .m4a files once, like BenchFiles.
std::vector<std::string> M4aFiles() {
  const fs::path cache = fs::path(VELMORA_BENCH_CACHE) / "m4a";
  std::vector<std::string> paths;
  for (int i = 0; i < kM4aFiles; ++i) paths.push_back((cache / ("track" + std::to_string(i) + ".m4a")).string());
  if (fs::exists(cache / "complete")) return paths;

  std::cerr << "Making " << kM4aFiles << " .m4a files in " << cache << " (once) ...\n";
  fs::create_directories(cache);
  const fs::path bodies[2] = {cache / "body-128.m4a", cache / "body-192.m4a"};
  const std::string ffmpeg = "ffmpeg -nostdin -v error -y -f lavfi -i 'sine=frequency=440:duration=";
  if (!Run(ffmpeg + "30' -ac 2 -ar 44100 -c:a aac -b:a 128k '" + bodies[0].string() + "'") ||
      !Run(ffmpeg + "60' -ac 2 -ar 44100 -c:a aac -b:a 192k '" + bodies[1].string() + "'"))
    std::exit(1);
  for (int i = 0; i < kM4aFiles; ++i) {
    const std::string& path = paths[static_cast<std::size_t>(i)];
    fs::copy_file(bodies[i % 2], path, fs::copy_options::overwrite_existing);
    TagLib::FileRef file(path.c_str(), false);
    TagLib::Tag* tag = file.tag();
    if (!tag) std::exit(1);
    tag->setTitle(TagLib::String("Title number " + std::to_string(i), TagLib::String::UTF8));
    tag->setArtist(TagLib::String("Artist " + std::to_string(i % 97), TagLib::String::UTF8));
    tag->setAlbum(TagLib::String("Album " + std::to_string(i % 211), TagLib::String::UTF8));
    tag->setGenre("Jazz");
    tag->setYear(static_cast<unsigned>(1960 + i % 60));
    tag->setTrack(static_cast<unsigned>(1 + i % 14));
    file.save();
  }
  std::ofstream(cache / "complete") << kM4aFiles << "\n";
  return paths;
}

const std::vector<std::string>& Files() {
  static const std::vector<std::string> files = BenchFiles();
  return files;
}

const std::vector<std::string>& M4a() {
  static const std::vector<std::string> files = M4aFiles();
  return files;
}

std::size_t ReadOurs(const std::vector<std::string>& files) {
  static QuietUi ui;
  static TagReaders readers;
  std::size_t checksum = 0;
  for (const auto& path : files) {
    const MediaItem item = ReadFileMetadata(path, readers, ui);
    checksum += item.Name.size() + item.Artist.size() + item.Album.size() + item.Year.size() + item.TrackNo.size() +
                item.Genre.size() + static_cast<std::size_t>(item.Bitrate.value_or(0)) +
                static_cast<std::size_t>(item.Length.value_or(0)) +
                static_cast<std::size_t>(item.SampleRate.value_or(0));
  }
  return checksum;
}

std::size_t ReadTagLib(const std::vector<std::string>& files) {
  std::size_t checksum = 0;
  for (const auto& path : files) {
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

void SetRate(benchmark::State& state, std::size_t files) {
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(files),
                                                 benchmark::Counter::kIsRate);
}

// One pass of both readers over a set before the first timed pass, so both run on a warm cache.
void Warm(const std::vector<std::string>& files) {
  static std::map<const void*, bool> warmed;
  if (warmed[&files]) return;
  warmed[&files] = true;
  std::cerr << "Warming the cache ...\n";
  benchmark::DoNotOptimize(ReadOurs(files));
  benchmark::DoNotOptimize(ReadTagLib(files));
}

template <std::size_t (*Read)(const std::vector<std::string>&), const std::vector<std::string>& (*Set)()>
void BM_Read(benchmark::State& state) {
  Warm(Set());
  for (auto _ : state) benchmark::DoNotOptimize(Read(Set()));
  SetRate(state, Set().size());
}
BENCHMARK(BM_Read<ReadOurs, Files>)
    ->Name("BM_ReadFileMetadata")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_Read<ReadTagLib, Files>)
    ->Name("BM_TagLibFileRef")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_Read<ReadOurs, M4a>)
    ->Name("BM_ReadFileMetadataM4a")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_Read<ReadTagLib, M4a>)
    ->Name("BM_TagLibFileRefM4a")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();

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
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto print = [&](const char* what, const std::string& suffix, const char* target) {
    const double ours = reporter.rates["BM_ReadFileMetadata" + suffix];
    const double theirs = reporter.rates["BM_TagLibFileRef" + suffix];
    if (ours <= 0 || theirs <= 0) return;
    std::printf("\n%s ReadFileMetadata: %.0f files/s\n", what, ours);
    std::printf("%s TagLib FileRef:   %.0f files/s\n", what, theirs);
    std::printf("%s ratio:            %.2fx (%s)\n", what, ours / theirs, target);
  };
  print("MP3", "", "target at least 1.5x");
  print("M4A", "M4a", "TagLib underneath: about 1x");
  return 0;
}

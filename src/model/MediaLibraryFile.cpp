#include "model/MediaLibraryFile.h"
#include "base/Text.h"

#include "base/PeriodicPump.h"
#include "base/ShowStatus.h"
#include "base/WorkFolder.h"
#include "tags/TextCodec.h"

#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

void AddDeclaration(pugi::xml_document& document) {
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
}

void AddText(pugi::xml_node parent, const char* name, const std::string& value) {
  pugi::xml_node child = parent.append_child(name);
  if (!value.empty()) child.text().set(XmlSafeText(value).c_str());
}

void AddNumber(pugi::xml_node parent, const char* name, std::optional<std::int64_t> value) {
  AddText(parent, name, value ? std::to_string(*value) : std::string());
}

// The children of an item in the order the service reads them; the item metadata document
// leaves out "bpm".
void AddItemChildren(pugi::xml_node parent, const MediaItem& item, bool withBpm) {
  AddText(parent, "Album", item.Album);
  AddText(parent, "Location", item.Location);
  AddText(parent, "Type", "music");
  AddText(parent, "FileType", "mpeg/audio");
  AddText(parent, "Artist", item.Artist);
  AddText(parent, "Name", item.Name);
  AddText(parent, "Genre", item.Genre);
  AddText(parent, "TrackNo", item.TrackNo);
  AddNumber(parent, "Bitrate", item.Bitrate);
  AddText(parent, "Year", item.Year);
  AddNumber(parent, "Length", item.Length);
  AddNumber(parent, "Size", item.Size);
  AddNumber(parent, "Rating", item.Rating);
  AddText(parent, "LastPlayed", item.LastPlayed);
  AddNumber(parent, "PlayedTimes", item.PlayedTimes);
  AddNumber(parent, "SampleRate", item.SampleRate);
  AddText(parent, "Added", item.Added);
  AddText(parent, "HashValue", item.HashValue);
  AddText(parent, "iTunesPersistentID", item.iTunesPersistentID);
  AddText(parent, "iTunesTrackID", item.iTunesTrackID);
  if (withBpm) AddText(parent, "bpm", std::to_string(item.Bpm));
  AddText(parent, "iTunesSortAlbum", item.iTunesSortAlbum);
}

// Collects the text pugixml writes out piece by piece, taking a step before each piece.
class StepWriter : public pugi::xml_writer {
public:
  StepWriter(std::string& text, const std::function<void()>& step) : text_(text), step_(step) {}
  void write(const void* data, std::size_t size) override {
    if (step_) step_();
    text_.append(static_cast<const char*>(data), size);
  }

private:
  std::string& text_;
  const std::function<void()>& step_;
};

// Length of the well-formed UTF-8 sequence at `s`, 0 when there is none.
std::size_t SequenceLength(const std::string& s, std::size_t i) {
  for (std::size_t length = 1; length <= 4 && i + length <= s.size(); ++length)
    if (IsWellFormedUtf8(std::string_view(s).substr(i, length))) return length;
  return 0;
}

} // namespace

std::string XmlSafeText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      const bool allowed = byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r';
      out += allowed ? static_cast<char>(byte) : ' ';
      ++i;
      continue;
    }
    const std::size_t length = SequenceLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const std::string_view sequence = std::string_view(text).substr(i, length);
    // U+FFFE and U+FFFF are no characters to XML either.
    if (sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF") out += "\xEF\xBF\xBD";
    else out += sequence;
    i += length;
  }
  return out;
}

void BuildMediaLibraryDocument(const MediaItems& items, Ui& ui, pugi::xml_document& document) {
  ShowStatus(ui, "Reading library format ...");
  document.reset();
  AddDeclaration(document);
  pugi::xml_node list = document.append_child("data").append_child("items");
  list.append_attribute("recordcount") = std::to_string(items.size()).c_str();
  ShowStatus(ui, "Creating standard media library file ...");
  const auto count = static_cast<std::int64_t>(items.size());
  ui.SetProgress(ProgressBar::File, 0, count);
  // Tens of thousands of items take a while: the window keeps answering.
  PeriodicPump pump(ui);
  for (std::int64_t i = 0; i < count; ++i) {
    pump();
    ui.SetProgress(ProgressBar::File, i + 1, count);
    AddItemChildren(list.append_child("item"), items[static_cast<std::size_t>(i)], true);
  }
}

std::string XmlText(const pugi::xml_document& document, unsigned int format, const std::function<void()>& step) {
  std::string text;
  StepWriter writer(text, step);
  document.save(writer, "  ", format, pugi::encoding_utf8);
  return text;
}

std::string WriteMediaLibraryFile(const MediaItems& items, SourceNumber source, Ui& ui) {
  pugi::xml_document document;
  BuildMediaLibraryDocument(items, ui, document);
  PeriodicPump pump(ui);
  // Written whole under a temporary name and renamed, so no reader ever sees half a file.
  return WriteExchangeFile("mediaitems_" + std::to_string(source) + ".xml",
                           XmlText(document, pugi::format_indent, [&] { pump(); }));
}

std::string MediaItemXml(const MediaItem& item, Ui& ui) {
  ShowStatus(ui, "Reading library format ...");
  pugi::xml_document document;
  AddDeclaration(document);
  AddItemChildren(document.append_child("data"), item, false);
  return XmlText(document, pugi::format_raw);
}

bool IsSupportedAudioExt(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  const std::string extension = AsciiLower(name.substr(dot + 1));
  if (extension.empty()) return false;
  return std::string_view("mp3,wma,ogg,m4a").find(extension) != std::string_view::npos;
}

std::int64_t FileSizeOf(const std::string& path) {
  if (path.empty()) return -1;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return -1;
  struct stat facts {};
  if (::stat(absolute.c_str(), &facts) != 0) return -1;
  return S_ISREG(facts.st_mode) ? static_cast<std::int64_t>(facts.st_size) : 0;
}

} // namespace velmora

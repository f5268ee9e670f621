// Fuzzes the walk of the service's playlist list: any answer gives ApiError or rows whose
// captions hold no character a file name may not hold and whose restore folders stay inside the
// target.

#include "FuzzHome.h"
#include "restore/Restore.h"
#include "service/ApiError.h"
#include "service/ServicePlaylists.h"

#include <pugixml.hpp>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = std::string(reinterpret_cast<const char*>(data), size) + "\r\n";
  pugi::xml_document answer; // as LoadAnswerDocument reads it
  if (!answer.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments)) return 0;
  std::vector<ServicePlaylistRow> rows;
  std::vector<std::string> names;
  try {
    ReadPlaylistsAnswer(answer, "alice", rows, names);
  } catch (const ApiError&) {
  }
  fuzz::Check(rows.size() == names.size());
  const std::filesystem::path target = "/target";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    fuzz::Check(rows[i].name == names[i] && !names[i].empty());
    fuzz::Check(rows[i].caption == SafeFileName(names[i]));
    fuzz::Check(rows[i].caption.find_first_of("\"*/:<>?\\|") == std::string::npos);
    fuzz::Check(fuzz::StaysBelow(target, RestoreFolder(target, rows[i].caption)));
    fuzz::Check(fuzz::StaysBelow(target, RestoreTargetFile(target, rows[i].caption, rows[i].name)));
  }
  return 0;
}

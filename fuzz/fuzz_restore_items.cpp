// Fuzzes the walk of a restore listing ("sets/set/getitems/", "items/get"): any answer gives a
// clear error or items whose restore file, built from any playlist and display name the answer
// holds, stays inside the target folder, one file name below the playlist's folder.

#include "FuzzHome.h"
#include "restore/Restore.h"
#include "restore/RestoreAnswers.h"

#include <pugixml.hpp>

#include <stdexcept>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = std::string(reinterpret_cast<const char*>(data), size) + "\r\n";
  pugi::xml_document answer; // as LoadAnswerDocument reads it
  if (!answer.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_comments)) return 0;
  const std::filesystem::path target = "/target";
  try {
    for (const pugi::xpath_node& node : answer.select_nodes("//result/items/item")) {
      const ListedItem item = ReadListedItem(node.node());
      for (const std::string& playlist : {item.name, item.artist, item.album, std::string("All items")}) {
        const std::filesystem::path folder = RestoreFolder(target, playlist);
        const std::filesystem::path file = RestoreTargetFile(target, playlist, item.DisplayName());
        fuzz::Check(fuzz::StaysBelow(target, folder) && fuzz::StaysBelow(target, file));
        fuzz::Check(file.parent_path() == folder);
        fuzz::Check(file.filename().string().size() <= 255 && folder.filename().string().size() <= 255);
      }
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}

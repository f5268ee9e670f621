#include "service/ServicePlaylists.h"
#include "base/Text.h"

#include "base/ShowStatus.h"
#include "service/ApiError.h"
#include "service/CallService.h"

#include <pugixml.hpp>

namespace velmora {
namespace {

// The value of the element's first child node. An element with no content at all has no such
// node: for the values the filter depends on that ends the listing rather than guessing.
std::string ChildText(const pugi::xml_node& element, bool required) {
  const pugi::xml_node first = element.first_child();
  if (!first) {
    if (required) throw ApiError(std::string("A playlist's \"") + element.name() + "\" has no text");
    return {};
  }
  return first.value();
}

} // namespace

std::string SafeFileName(const std::string& text) {
  std::string safe;
  safe.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|': break;
    default: safe += c;
    }
  }
  return safe;
}

ServiceReply LoadPlaylists(ServiceClient& service, AccountPlaylists& playlists) {
  ShowStatus(service.ui(), "Loading playlists ...");
  playlists.rows.clear();
  playlists.names.clear();
  struct Announce {
    Ui& ui;
    ~Announce() {
      try {
        ui.ViewChanged(View::RestorePlaylists);
      } catch (...) {
        // The lists are already right; a front end that cannot repaint now will on its next look.
      }
    }
  } announce{service.ui()};

  FormData form;
  form.AddText("options", "notemporary,nodynamic,ownonly");
  const ServiceReply data = service.Call("sets/get", std::move(form), true, kCouldNotConnect);
  // No answer at all (a failed connection, an HTTP error): say that, not that an empty text is no XML.
  if (!data.Success && data.ResponseText.empty()) throw ApiError(data.ErrorMessage);

  pugi::xml_document document;
  LoadAnswerDocument(document, "playlists", data.ResponseText);
  ReadPlaylistsAnswer(document, service.userName(), playlists.rows, playlists.names);
  return data;
}

void ReadPlaylistsAnswer(const pugi::xml_document& answer, const std::string& userName,
                         std::vector<ServicePlaylistRow>& rows, std::vector<std::string>& names) {
  // The service compares account names with only a to z folded.
  const std::string owner = AsciiUpper(userName);
  for (const pugi::xpath_node& found : answer.select_nodes("//result/items/item")) {
    std::string name, entryKey, dynamic, itemUser;
    for (const pugi::xml_node child : found.node().children()) {
      if (child.type() != pugi::node_element) continue;
      const std::string tag = TrimmedBlanksAndControls(child.name());
      if (tag == "name") name = ChildText(child, false);
      else if (tag == "entrykey") entryKey = ChildText(child, true);
      else if (tag == "dynamic") dynamic = ChildText(child, true);
      else if (tag == "username") itemUser = ChildText(child, true);
    }
    if (!name.empty() && dynamic == "0" && AsciiUpper(itemUser) == owner) {
      rows.push_back({SafeFileName(name), entryKey, {}, true, name});
      names.push_back(name);
    }
  }
}

} // namespace velmora

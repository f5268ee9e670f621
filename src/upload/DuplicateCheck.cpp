#include "upload/DuplicateCheck.h"
#include "base/Text.h"

#include "base/PeriodicPump.h"
#include "base/ShowStatus.h"
#include "base/WorkFolder.h"
#include "model/MediaLibraryFile.h"
#include "service/CallService.h"
#include "upload/UploadPipeline.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>

namespace velmora {
namespace {

bool ParseCode(const std::string& text, std::int32_t& code) {
  const std::string trimmed = TrimmedBlanksAndControls(text);
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (begin != end && *begin == '+') ++begin;
  const auto [stop, error] = std::from_chars(begin, end, code);
  return begin != end && error == std::errc() && stop == end;
}

} // namespace

std::string WriteHashListFile(const MediaItems& items, SourceNumber source, Ui& ui) {
  // Tens of thousands of hash ids take longer to list than the window may wait.
  PeriodicPump pump(ui);
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  pugi::xml_node root = document.append_child("items");
  for (const MediaItem& item : items) {
    pump();
    root.append_child("item").append_child("hashvalue").text().set(item.HashValue.c_str());
  }
  return WriteExchangeFile("mediaitems_hash_" + std::to_string(source) + ".xml",
                           XmlText(document, pugi::format_default, [&] { pump(); }));
}

std::vector<std::pair<std::string, std::int32_t>> ReadCheckAnswer(const std::string& answer,
                                                                  const std::function<void()>& step) {
  std::vector<std::pair<std::string, std::int32_t>> pairs;
  pugi::xml_document document;
  if (!document.load_buffer(answer.data(), answer.size())) return pairs;
  for (const pugi::xpath_node& selected : document.select_nodes("//result/items/item")) {
    if (step) step();
    const pugi::xml_node item = selected.node();
    const pugi::xml_node first = item.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
    if (!first) continue;
    pugi::xml_node second = first.next_sibling();
    while (second && second.type() != pugi::node_element) second = second.next_sibling();
    if (!second) continue;
    std::int32_t code = 0;
    if (!ParseCode(second.text().get(), code)) continue;
    pairs.emplace_back(first.text().get(), code);
  }
  return pairs;
}

void MarkCheckResponse(MediaItems& items, std::int32_t code, const std::string& hashId) {
  for (MediaItem& item : items) {
    if (item.HashValue == hashId) item.HashCheckResponse = code;
  }
}

void MarkCheckResponses(MediaItems& items, const std::vector<std::pair<std::string, std::int32_t>>& answers,
                        const std::function<void()>& step) {
  std::unordered_map<std::string, std::vector<std::size_t>> byHash;
  byHash.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (step) step();
    byHash[items[i].HashValue].push_back(i);
  }
  for (const auto& [hashId, code] : answers) {
    if (step) step();
    const auto found = byHash.find(hashId);
    if (found == byHash.end()) continue;
    for (const std::size_t i : found->second) items[i].HashCheckResponse = code;
  }
}

void UploadPipeline::CheckDuplicatesOnline(MediaItems& items, const std::string& hashListPath) {
  ShowStatus(ui(), "Starting Online Duplicate check ... ");
  FormData form;
  form.AddFile("filedata", hashListPath, "text/xml");
  const ServiceReply result = service_.Call("items/checkhashvalues", std::move(form), true, "");
  if (result.Success) {
    checkFailure_.clear();
    // Tens of thousands of answered hash ids take longer to read and match than the window may
    // wait; the pump keeps it answering.
    PeriodicPump pump(ui());
    const std::function<void()> step = [&] { pump(); };
    MarkCheckResponses(items, ReadCheckAnswer(result.ResponseText, step), step);
    ShowStatus(ui(), "Online duplicate check done.");
    return;
  }
  if (watchedRun_ && result.Transient) throw ServiceUnreachable(result.ErrorMessage);
  const std::string error = "error " + std::to_string(result.ErrorCode) + " (details: " + result.ErrorMessage + ")";
  checkFailure_ = "the duplicate check failed: " + error;
  ui().ShowErrorMessage("Did not receive meta data properly - " + error);
  SetUploadStopped();
}

} // namespace velmora

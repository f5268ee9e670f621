#include "service/ApiResult.h"

#include "base/ScopedFile.h"
#include "base/SystemFacts.h"
#include "base/WorkFolder.h"
#include "service/ApiError.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstdio>
#include <memory>

namespace velmora {
namespace {

// The value of the element's first child node (text, CDATA or comment); nothing when the element
// is empty or starts with a nested element. Text split by a comment yields only its first piece.
bool FirstChildText(const pugi::xml_node& element, std::string& text) {
  const pugi::xml_node first = element.first_child();
  if (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata && first.type() != pugi::node_comment) {
    return false;
  }
  text = first.value();
  return true;
}

bool ParseInt32(const std::string& text, int& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end) return false;
  const auto [stop, error] = std::from_chars(begin, end, value);
  return error == std::errc() && stop == end;
}

} // namespace

std::string WithCrLfLines(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t stop = text.find_first_of("\r\n", i);
    if (stop == std::string::npos) {
      out.append(text, i, std::string::npos);
      out += "\r\n";
      break;
    }
    out.append(text, i, stop - i);
    out += "\r\n";
    i = stop + ((text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ? 2 : 1);
  }
  return out;
}

std::string SaveResponseFile(const std::string& text) {
  const std::string path = RunFolder() + "tmp_" + NewGuidString() + ".xml";
  const std::string lines = WithCrLfLines(text);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::fopen(path.c_str(), "wbx"), &std::fclose};
  if (!file || std::fwrite(lines.data(), 1, lines.size(), file.get()) != lines.size() || std::fflush(file.get()) != 0) {
    throw std::runtime_error("Cannot write the response file " + path);
  }
  return path;
}

ServiceReply ParseApiResult(const std::string& body) {
  // The file serves this parse only: the text stays in ResponseText, and a run of thousands of
  // calls must not leave thousands of files behind.
  const ScopedFile saved(SaveResponseFile(body));
  const std::string& path = saved.path();
  // A document of its own for every parse: a parse started from a message pump in the middle of
  // another one must not see or disturb the first one's tree.
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_file(path.c_str(), pugi::parse_default | pugi::parse_comments);
  if (!parsed) throw ApiError(std::string("The answer is not XML: ") + parsed.description());

  ServiceReply data;
  std::string text;
  const pugi::xml_node success = document.select_node("//result/result").node();
  if (!success || !FirstChildText(success, text)) throw ApiError("The answer has no result flag");
  data.Success = text == "true";

  const pugi::xml_node error = document.select_node("//result/error").node();
  if (!error || !FirstChildText(error, text)) throw ApiError("The answer has no error code");
  if (!ParseInt32(text, data.ErrorCode)) throw ApiError("The answer's error code is not a number: " + text);

  if (const pugi::xml_node message = document.select_node("//result/errormessage").node()) {
    FirstChildText(message, data.ErrorMessage);
  }
  data.ResponseText = body;
  return data;
}

void SetApiError(ServiceReply& data, int code, const std::string& message) {
  data.ErrorCode = code;
  data.ErrorMessage = message;
}

} // namespace velmora

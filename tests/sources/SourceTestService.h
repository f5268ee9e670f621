#pragma once
// A fake service for source tests: every hash id sent to the duplicate check is answered with
// one code, everything else with success; the playlist file sent with "set/prefill" is kept.

#include "RawHttpServer.h"

#include <regex>
#include <string>

namespace velmora::test {

class SourceTestService {
public:
  explicit SourceTestService(int code = 404)
      : code_(code), server_([this](const CapturedRequest& request) { return Answer(request); }) {}

  std::string stageArgument() const { return "/stage " + server_.hostPort(); }
  std::vector<CapturedRequest> requests() const { return server_.requests(); }

private:
  std::string Answer(const CapturedRequest& request) {
    if (request.target.find("items/checkhashvalues") == std::string::npos) {
      return HttpAnswer(200, Envelope("true", "0"));
    }
    std::string items;
    for (const auto& part : MultipartParts(request)) {
      static const std::regex kHash("<hashvalue>([^<]*)</hashvalue>");
      for (std::sregex_iterator it(part.content.begin(), part.content.end(), kHash), end; it != end; ++it) {
        items += "<item><hash>" + (*it)[1].str() + "</hash><code>" + std::to_string(code_) + "</code></item>";
      }
    }
    return HttpAnswer(200, Envelope("true", "0", "", "<items>" + items + "</items>"));
  }

  int code_;
  RawHttpServer server_;
};

} // namespace velmora::test

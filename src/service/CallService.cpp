#include "service/CallService.h"

#include "base/ScopedFile.h"
#include "base/SystemFacts.h"
#include "base/WorkFolder.h"
#include "service/ApiError.h"
#include "service/CallApi.h"
#include "service/ServiceClient.h"

#include <pugixml.hpp>

#include <cstdio>
#include <memory>

namespace velmora {

ServiceReply ServiceClient::Call(const std::string& method, FormData form, bool progress,
                                 const std::string& failureMessage) {
  ServiceReply data;
  try {
    HttpReply response;
    retrier_.Run(method, RepeatSafetyOf(method), [&] {
      HttpReply answer;
      Post(method, form, answer, progress);
      response = std::move(answer);
    });
    data = ParseApiResult(response.Body);
  } catch (const std::exception& failure) {
    // Any failure of the exchange means "no usable answer". The caller's message is shown when it
    // has one; otherwise the cause is, so "(details: ...)" never stays empty.
    SetApiError(data, kNoAnswerCode, failureMessage.empty() ? failure.what() : failureMessage);
    data.Transient = DescribeFailure(failure).transient;
  } catch (...) {
    SetApiError(data, kNoAnswerCode, failureMessage.empty() ? "Unknown failure" : failureMessage);
  }
  return data;
}

void LoadAnswerDocument(pugi::xml_document& document, const std::string& purpose, const std::string& text) {
  // The file serves this load only: the document holds the answer from here on, and a restore of
  // thousands of files must not leave one answer per file in the work folder until exit.
  const ScopedFile saved(RunFolder() + "tmp_" + purpose + NewGuidString() + ".xml");
  const std::string& path = saved.path();
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::fopen(path.c_str(), "wbx"), &std::fclose};
    const std::string content = text + "\r\n";
    if (!file || std::fwrite(content.data(), 1, content.size(), file.get()) != content.size() ||
        std::fflush(file.get()) != 0) {
      throw std::runtime_error("Cannot write the answer file " + path);
    }
  }
  const pugi::xml_parse_result parsed = document.load_file(path.c_str(), pugi::parse_default | pugi::parse_comments);
  if (!parsed) throw ApiError(std::string("The answer is not XML: ") + parsed.description());
}

} // namespace velmora

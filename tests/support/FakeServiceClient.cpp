#include "FakeServiceClient.h"

#include "service/ApiError.h"
#include "service/CallApi.h"
#include "service/TransferProgress.h"

#include <fstream>
#include <sstream>

namespace velmora::test {

std::vector<std::string> FakeRequest::names() const {
  std::vector<std::string> result;
  for (const auto& f : fields) result.push_back(f.name);
  return result;
}

const FormField* FakeRequest::field(const std::string& name) const {
  for (const auto& f : fields) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

std::string FakeRequest::content(const std::string& name) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == name) return fields[i].isFile ? fileContents[i] : fields[i].value;
  }
  return {};
}

void FakeServiceClient::Answer(const std::string& method, std::string body) {
  On(method, [body = std::move(body)](const FakeRequest&) { return body; });
}

std::string FakeServiceClient::FailureText(const std::string& method, int httpStatus) const {
  const std::string url = RequestUrl(baseUrl(), method);
  return httpStatus == 0 ? "Request to " + url + " failed: Couldn't connect to server"
                         : "Request to " + url + " answered with HTTP status " + std::to_string(httpStatus);
}

void FakeServiceClient::Fail(const std::string& method, int httpStatus) {
  On(method, [text = FailureText(method, httpStatus), httpStatus](const FakeRequest&) -> std::string {
    throw ApiError(text, httpStatus);
  });
}

std::vector<std::string> FakeServiceClient::methods() const {
  std::vector<std::string> result;
  for (const auto& request : requests) result.push_back(request.method);
  return result;
}

void FakeServiceClient::Post(const std::string& method, FormData form, HttpReply& response, bool progress) {
  FakeRequest request{method, form.fields(), {}, progress};
  std::int64_t sendTotal = 0;
  for (const auto& f : request.fields) {
    std::string bytes;
    if (f.isFile) {
      CheckReadableFile(f.value);
      std::ifstream file(f.value, std::ios::binary);
      std::ostringstream read;
      read << file.rdbuf();
      bytes = read.str();
    }
    sendTotal += static_cast<std::int64_t>(f.name.size() + (f.isFile ? bytes.size() : f.value.size()));
    request.fileContents.push_back(std::move(bytes));
  }
  requests.push_back(request);

  RequestProgress moved(ui(), counters());
  if (progress) {
    moved.Update(sendTotal, 0, 0, 0);
    moved.Update(sendTotal, sendTotal, 0, 0);
  }
  const auto script = scripts_.find(method);
  std::string body = script == scripts_.end() ? Envelope("true", "0") : script->second(request);
  const auto size = static_cast<std::int64_t>(body.size());
  if (progress) moved.Update(sendTotal, sendTotal, size, size);
  response.StatusCode = 200;
  response.Body = std::move(body);
}

} // namespace velmora::test

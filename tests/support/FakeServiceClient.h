#pragma once
// A ServiceClient without a network: it records each request as the caller built it and answers
// from a script per method, so the upload and restore logic is tested without an HTTP server.
// What Post adds on the wire (the identifying fields, the multipart body, redirects) is tested
// against a real server in tests/service.

#include "Envelope.h"
#include "service/ServiceClient.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

struct FakeRequest {
  std::string method;                    // the method or the complete address, as the caller passed it
  std::vector<FormField> fields;         // the caller's fields in order (names, values, file paths, types)
  std::vector<std::string> fileContents; // per field: the file's bytes when it was sent, else empty
  bool progress = false;

  std::vector<std::string> names() const;
  // The field with this name, or null.
  const FormField* field(const std::string& name) const;
  // A text field's value or a file field's bytes; empty when there is no such field.
  std::string content(const std::string& name) const;
};

class FakeServiceClient : public ServiceClient {
public:
  // Answers the request with a body, or throws (ApiError for a failed exchange).
  using Script = std::function<std::string(const FakeRequest&)>;

  explicit FakeServiceClient(Ui& ui) : ServiceClient(ui, "http://service.test") {}

  // How requests to `method` are answered from now on; unscripted methods get a successful
  // envelope without content.
  void On(const std::string& method, Script script) { scripts_[method] = std::move(script); }
  void Answer(const std::string& method, std::string body);
  // The exchange fails as the HTTP client reports it: with an HTTP status, or (status 0) without
  // an answer.
  void Fail(const std::string& method, int httpStatus = 0);
  // The ApiError message of such a failure.
  std::string FailureText(const std::string& method, int httpStatus = 0) const;
  void Forget(const std::string& method) { scripts_.erase(method); }

  // Checks each file field is readable and reads it, as a transfer would; with `progress` the file
  // bars, run counters and message pumps follow the request's and the answer's bytes.
  void Post(const std::string& method, FormData form, HttpReply& response, bool progress = true) override;

  std::vector<FakeRequest> requests;
  std::vector<std::string> methods() const;

private:
  std::map<std::string, Script> scripts_;
};

} // namespace velmora::test

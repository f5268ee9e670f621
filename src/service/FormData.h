#pragma once
// The ordered field list of one service request: text fields and files sent from disk.

#include <string>
#include <utility>
#include <vector>

namespace velmora {

struct FormField {
  std::string name;
  // The text of a text field, or the local path of a file field (sent as the part's filename).
  std::string value;
  bool isFile = false;
  std::string contentType; // file fields only
};

class FormData {
public:
  FormData& AddText(std::string name, std::string value) {
    fields_.push_back({std::move(name), std::move(value), false, {}});
    return *this;
  }
  // The file is read while the request is sent, never before; `path` goes on the wire unchanged.
  FormData& AddFile(std::string name, std::string path, std::string contentType) {
    fields_.push_back({std::move(name), std::move(path), true, std::move(contentType)});
    return *this;
  }
  const std::vector<FormField>& fields() const { return fields_; }

private:
  std::vector<FormField> fields_;
};

} // namespace velmora

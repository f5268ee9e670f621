#include "FormReader.h"

#include <httplib.h>

#include <algorithm>

namespace velmora::locker {

const FormField* Form::Find(std::string_view name) const {
  for (const auto& field : fields)
    if (field.name == name) return &field;
  return nullptr;
}

std::string Form::Text(std::string_view name) const {
  const FormField* field = Find(name);
  return field ? field->value : std::string();
}

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

class Collector {
public:
  Collector(const FormLimits& limits, const FormHooks& hooks, FormResult& result)
      : limits_(limits), hooks_(hooks), result_(result) {}

  bool Begin(const httplib::MultipartFormData& part) {
    if (result_.form.fields.size() >= limits_.maxFields) {
      Fail(FormStatus::Malformed, "more than " + std::to_string(limits_.maxFields) + " form fields");
      return false;
    }
    FormField field;
    field.name = part.name;
    field.filename = part.filename;
    field.contentType = part.content_type;
    field.isFile = !part.filename.empty() || !part.content_type.empty();
    field.spooled = !spoolTaken_ && hooks_.spool && !hooks_.spoolField.empty() && field.name == hooks_.spoolField;
    spoolTaken_ = spoolTaken_ || field.spooled;
    result_.form.fields.push_back(std::move(field));
    return true;
  }

  bool Data(const char* data, std::size_t size) {
    if (result_.form.fields.empty()) {
      Fail(FormStatus::Malformed, "form data before the first part");
      return false;
    }
    if (!Count(size)) return false;
    FormField& field = result_.form.fields.back();
    field.size += size;
    if (field.spooled) {
      if (!hooks_.spool(data, size)) {
        Fail(FormStatus::Aborted, "field \"" + field.name + "\" was refused");
        return false;
      }
      return true;
    }
    Keep(field, data, size);
    return true;
  }

  // Url-encoded bodies are kept whole (within the text limit) and split afterwards.
  bool Raw(std::string& body, const char* data, std::size_t size) {
    if (!Count(size)) return false;
    if (body.size() + size > limits_.textBytes) {
      Fail(FormStatus::TooLarge, "the form is larger than " + std::to_string(limits_.textBytes) + " bytes");
      return true; // read on, so the answer reaches a peer that is still sending
    }
    body.append(data, size);
    return true;
  }

  // A body this service cannot read is still read to its end, so the peer gets the answer.
  bool Discard(std::size_t size) { return Count(size); }

  void Fail(FormStatus status, std::string why) {
    if (result_.status != FormStatus::Complete && result_.status != FormStatus::TooLarge) return;
    result_.status = status;
    result_.error = std::move(why);
  }

private:
  bool Count(std::size_t size) {
    if (result_.contentBytes + size > hooks_.cutAfter) {
      result_.contentBytes = hooks_.cutAfter;
      Fail(FormStatus::Cut, "cut after " + std::to_string(hooks_.cutAfter) + " bytes");
      return false;
    }
    result_.contentBytes += size;
    return true;
  }

  void Keep(FormField& field, const char* data, std::size_t size) {
    const std::size_t limit = field.isFile ? limits_.fileBytes : limits_.textBytes;
    std::size_t room = field.value.size() < limit ? limit - field.value.size() : 0;
    room = std::min(room, kept_ < limits_.totalBytes ? limits_.totalBytes - kept_ : std::size_t{0});
    const std::size_t take = std::min(room, size);
    field.value.append(data, take);
    kept_ += take;
    if (take < size && !field.tooLarge) {
      field.tooLarge = true;
      Fail(FormStatus::TooLarge, "field \"" + field.name + "\" is larger than this service accepts");
    }
  }

  const FormLimits& limits_;
  const FormHooks& hooks_;
  FormResult& result_;
  std::size_t kept_ = 0;
  bool spoolTaken_ = false;
};

} // namespace

FormResult ReadForm(const httplib::Request& request, const httplib::ContentReader* reader, const FormLimits& limits,
                    const FormHooks& hooks) {
  FormResult result;
  Collector collector(limits, hooks, result);
  if (reader) {
    const std::string type = request.get_header_value("Content-Type");
    bool complete = false;
    if (request.is_multipart_form_data()) {
      complete = (*reader)([&](const httplib::MultipartFormData& part) { return collector.Begin(part); },
                           [&](const char* data, std::size_t size) { return collector.Data(data, size); });
    } else if (StartsWithNoCase(type, "application/x-www-form-urlencoded")) {
      std::string body;
      complete = (*reader)([&](const char* data, std::size_t size) { return collector.Raw(body, data, size); });
      if (complete && result.status == FormStatus::Complete) {
        httplib::Params params;
        httplib::detail::parse_query_text(body, params);
        for (const auto& [name, value] : params) {
          FormField field;
          field.name = name;
          field.value = value;
          field.size = value.size();
          result.form.fields.push_back(std::move(field));
        }
      }
    } else {
      complete = (*reader)([&](const char*, std::size_t size) { return collector.Discard(size); });
      // A bodyless POST is an empty form; any other body is not one this service reads.
      if (!type.empty() || result.contentBytes > 0)
        collector.Fail(FormStatus::Malformed, type.empty() ? "the request body has no content type"
                                                           : "expected multipart/form-data, not " + type);
    }
    if (!complete) collector.Fail(FormStatus::Malformed, "the form data could not be read to its end");
  }
  for (const auto& [name, value] : request.params) {
    if (result.form.Has(name)) continue;
    FormField field;
    field.name = name;
    field.value = value;
    field.size = value.size();
    result.form.fields.push_back(std::move(field));
  }
  return result;
}

} // namespace velmora::locker

#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
class ContentReader;
} // namespace httplib

namespace velmora::locker {

struct FormField {
  std::string name;
  std::string filename;    // file parts only
  std::string contentType; // file parts only
  bool isFile = false;
  std::string value;      // the text, or the file's bytes when they are kept in memory
  std::uint64_t size = 0; // bytes received for this field
  bool spooled = false;   // the bytes went to FormHooks::spool instead of `value`
  bool tooLarge = false;  // more bytes came than the limit; the rest were dropped
};

struct Form {
  std::vector<FormField> fields; // in the order they arrived
  const FormField* Find(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }
  // The first field of that name, or empty text.
  std::string Text(std::string_view name) const;
};

// What one request may hold in memory. Anything beyond is dropped and reported, never kept.
struct FormLimits {
  std::size_t textBytes = 1 << 20;
  std::size_t fileBytes = 32 << 20;
  std::size_t totalBytes = 48 << 20;
  std::size_t maxFields = 256;
};

struct FormHooks {
  // The bytes of the first field of this name go to `spool` as they arrive instead of to memory.
  std::string spoolField;
  // Returns false to stop reading (the request is then Aborted).
  std::function<bool(const char* data, std::size_t size)> spool;
  // Stops reading once this many bytes of field content have arrived (the request is then Cut).
  std::uint64_t cutAfter = std::numeric_limits<std::uint64_t>::max();
};

enum class FormStatus {
  Complete,  // every byte read, every field whole
  TooLarge,  // read to the end, but some field was cut to its limit (see FormField::tooLarge)
  Malformed, // not a form this service reads, or broken multipart framing, or the peer went away
  Aborted,   // the spool sink refused more bytes
  Cut,       // stopped at FormHooks::cutAfter
};

struct FormResult {
  Form form;
  FormStatus status = FormStatus::Complete;
  std::string error;              // why, for anything but Complete
  std::uint64_t contentBytes = 0; // field content bytes received
};

// Reads a POSTed form: multipart/form-data streamed part by part, or an url-encoded body. Query
// parameters are added as text fields after the body's, unless the body has a field of that name.
// `reader` is null when the request has no body.
FormResult ReadForm(const httplib::Request& request, const httplib::ContentReader* reader,
                    const FormLimits& limits = {}, const FormHooks& hooks = {});

} // namespace velmora::locker
